#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace tavrel {

// A file opened for writing only. Movable, closes itself on destruction.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Close(); }
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, replacing an existing one, and tells the system it will be written
    // front to back. Other programs may read it meanwhile. Closes a file already open first.
    bool CreateAlways(const std::string& path);
    // Writes all of data or fails. A failed write leaves the file as it was before the call
    // (a partly written tail is cut off again), so what was written earlier stays intact.
    bool Write(std::span<const uint8_t> data);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;  // bytes in the file, all written by us
};

// Test seam: lets a test make writes of OutputFile fail as a full disk would.
struct WriteFault {
    size_t accept = 0;  // bytes really written before the failure
    int error = 0;      // errno of the failure; 0 lets the write through untouched
};
using WriteFaultHook = std::function<WriteFault(std::span<const uint8_t> data)>;

// Installs a hook consulted before every OutputFile::Write, in any thread, for as long as the
// object lives. Only one may be installed at a time.
class ScopedWriteFault {
public:
    explicit ScopedWriteFault(WriteFaultHook hook);
    ~ScopedWriteFault();
    ScopedWriteFault(const ScopedWriteFault&) = delete;
    ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;
};

// True when anything (file, folder, ...) exists under that name.
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Creates one folder; its parent must exist. False when it exists already or cannot be made.
bool MakeDirectory(const std::string& path);
// Bytes an unprivileged caller may still write on the volume holding path; nothing when the
// volume cannot be queried.
std::optional<uint64_t> FreeBytesAvailable(const std::string& path);
// The working directory without a trailing separator; empty when it cannot be read.
std::string CurrentDirectory();

}  // namespace tavrel
