#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "capture/flat_fifo.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace tavrel {

// Writes the main output to a transport-stream file through a write-behind buffer, so the
// disk sees 1 MiB blocks instead of single packets, and keeps the figures the main window
// shows.
//
// Open, Close and destruction belong to the thread that owns the object; Write and Flush to
// the one thread that feeds it (see OutputSlot for how the two hand it over). BytesWritten,
// StartTick and GetRecorderFreeSpace may be read by the owner while the feeder writes.
class Recorder {
public:
    static constexpr uint32_t kBufferLimit = 0x200000;  // 2 MiB
    static constexpr uint32_t kFlushSize = 0x100000;    // 1 MiB

    // flush_size 0 writes every delivery straight to the file.
    explicit Recorder(const Clock& clock = SystemClock::Instance(),
                      uint32_t flush_size = kFlushSize);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Creates (or overwrites) the file, closing one that is open first. False when the file
    // cannot be created.
    bool Open(const std::string& path);
    // Buffers the data and writes one flush-size block whenever more than that is held.
    // False when no file is open, when the buffer could take only part of the data (the rest
    // is dropped) or when a disk write failed (that block is lost); recording goes on.
    bool Write(std::span<const uint8_t> data);
    // Takes up to n buffered bytes out and writes them. False when no file is open or the
    // write failed.
    bool Flush(uint32_t n);
    // Writes what is still buffered and closes the file.
    void Close();

    bool IsOpen() const { return file_.IsOpen(); }
    // Bytes the disk accepted since construction.
    uint64_t BytesWritten() const { return bytes_written_.load(std::memory_order_relaxed); }
    // Tick count when the file was opened.
    uint32_t StartTick() const { return start_tick_; }
    // Bytes still waiting in the buffer.
    uint32_t Buffered() const { return buffer_.Held(); }
    uint32_t FlushSize() const { return flush_size_; }
    const std::string& FilePath() const { return path_; }
    const std::string& Directory() const { return directory_; }

    // Space left for the caller on the volume of the file's folder; 0 when no file is open or
    // the volume cannot be queried.
    uint64_t GetRecorderFreeSpace() const;

private:
    const Clock& clock_;
    const uint32_t flush_size_;
    // The design's 2 MiB chunk buffer, kept flat: a recording writes one packet at a time.
    FlatFifo buffer_{kBufferLimit};
    OutputFile file_;
    std::string path_;
    std::string directory_;
    uint32_t start_tick_ = 0;
    std::atomic<uint64_t> bytes_written_{0};
};

// A recording stops itself when its disk has this much space left or less.
inline constexpr uint64_t kRecordingMinFreeSpace = 0xC800000;  // 200 MiB

// The free-space rule the status display applies to a running recording.
constexpr bool RecordingMustStopForSpace(uint64_t free_bytes) {
    return free_bytes <= kRecordingMinFreeSpace;
}

}  // namespace tavrel
