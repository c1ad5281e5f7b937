#include "capture/recorder.h"

#include <algorithm>
#include <limits>

#include "platform/paths.h"

namespace tavrel {

Recorder::Recorder(const Clock& clock, uint32_t flush_size)
    : clock_(clock), flush_size_(flush_size) {}

Recorder::~Recorder() {
    Close();
    buffer_.Clear();
}

bool Recorder::Open(const std::string& path) {
    Close();
    if (!file_.CreateAlways(path)) {
        return false;
    }
    path_ = path;
    directory_ = ParentFolder(path);
    start_tick_ = clock_.TickCount();
    return true;
}

bool Recorder::Write(std::span<const uint8_t> data) {
    if (!file_.IsOpen()) {
        return false;
    }
    if (flush_size_ == 0) {
        if (!file_.Write(data)) {
            return false;
        }
        bytes_written_.fetch_add(data.size(), std::memory_order_relaxed);
        return true;
    }
    const auto length =
        static_cast<uint32_t>(std::min<size_t>(data.size(), std::numeric_limits<uint32_t>::max()));
    // A short take drops the rest of the delivery; the buffer is still drained below, or a
    // delivery that filled it would make every later one fail too.
    bool ok = buffer_.Write(data.data(), length) == data.size();
    // One block per packet-sized delivery; the loop only matters for deliveries larger than a
    // block, which would otherwise pile up until the buffer refuses data.
    while (buffer_.Held() > flush_size_) {
        if (!Flush(flush_size_)) {
            ok = false;
        }
    }
    return ok;
}

bool Recorder::Flush(uint32_t n) {
    if (!file_.IsOpen()) {
        return false;
    }
    if (block_.empty()) {
        block_.resize(std::max<uint32_t>(flush_size_, 1));
    }
    n = std::min(n, buffer_.Held());
    bool ok = true;
    while (n > 0) {
        const uint32_t piece = std::min<uint32_t>(n, static_cast<uint32_t>(block_.size()));
        const uint32_t got = buffer_.Read(block_.data(), piece, true);
        if (got == 0) {
            break;
        }
        n -= got;
        // A failed block is lost (it has left the buffer) and bytes written stays as it was.
        if (file_.Write(std::span<const uint8_t>(block_.data(), got))) {
            bytes_written_.fetch_add(got, std::memory_order_relaxed);
        } else {
            ok = false;
        }
    }
    return ok;
}

void Recorder::Close() {
    if (!file_.IsOpen()) {
        return;
    }
    Flush(buffer_.Held());
    file_.Close();
    buffer_.Clear();
    path_.clear();
    directory_.clear();
}

uint64_t Recorder::GetRecorderFreeSpace() const {
    if (!file_.IsOpen()) {
        return 0;
    }
    // A bare file name lives in the working directory.
    return FreeBytesAvailable(directory_.empty() ? std::string(".") : directory_).value_or(0);
}

}  // namespace tavrel
