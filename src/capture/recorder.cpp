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
    bool ok = buffer_.Write(data.first(length)) == data.size();
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
    n = std::min(n, buffer_.Held());
    const uint32_t piece_size = std::max<uint32_t>(flush_size_, 1);
    bool ok = true;
    while (n > 0) {
        const std::span<const uint8_t> piece = buffer_.Front(std::min(n, piece_size));
        // A failed block is lost (it leaves the buffer) and bytes written stays as it was.
        if (file_.Write(piece)) {
            bytes_written_.fetch_add(piece.size(), std::memory_order_relaxed);
        } else {
            ok = false;
        }
        buffer_.Consume(static_cast<uint32_t>(piece.size()));
        n -= static_cast<uint32_t>(piece.size());
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
