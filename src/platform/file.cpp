#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <utility>
#include <vector>

namespace tavrel {
namespace {

// The fault hook is checked once per write (a megabyte at a time in practice); the flag keeps
// the normal path free of the mutex.
std::atomic<bool> g_fault_installed{false};
std::mutex g_fault_mutex;
WriteFaultHook g_fault_hook;

WriteFault ConsultFaultHook(std::span<const uint8_t> data) {
    if (!g_fault_installed.load(std::memory_order_acquire)) {
        return {};
    }
    std::lock_guard lock(g_fault_mutex);
    return g_fault_hook ? g_fault_hook(data) : WriteFault{};
}

// Writes everything at offset, retrying short writes; false with errno set on failure.
bool WriteAllAt(int fd, const uint8_t* data, size_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t n = pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(std::exchange(other.size_, 0)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool OutputFile::CreateAlways(const std::string& path) {
    Close();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // Only a hint: the file is written front to back and never read back by us.
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    size_ = 0;
    return true;
}

bool OutputFile::Write(std::span<const uint8_t> data) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const WriteFault fault = ConsultFaultHook(data);
    const size_t length = fault.error != 0 ? std::min(fault.accept, data.size()) : data.size();
    bool ok = WriteAllAt(fd_, data.data(), length, size_);
    int error = errno;
    if (ok && fault.error != 0) {
        ok = false;
        error = fault.error;
    }
    if (!ok) {
        // A disk that filled up mid-block may have taken part of it; cut that part off so the
        // file holds only whole writes and a later successful write follows them directly.
        while (ftruncate(fd_, static_cast<off_t>(size_)) != 0 && errno == EINTR) {
        }
        errno = error;
        return false;
    }
    size_ += data.size();
    return true;
}

void OutputFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
        size_ = 0;
    }
}

ScopedWriteFault::ScopedWriteFault(WriteFaultHook hook) {
    std::lock_guard lock(g_fault_mutex);
    g_fault_hook = std::move(hook);
    g_fault_installed.store(true, std::memory_order_release);
}

ScopedWriteFault::~ScopedWriteFault() {
    std::lock_guard lock(g_fault_mutex);
    g_fault_installed.store(false, std::memory_order_release);
    g_fault_hook = nullptr;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path) {
    return !path.empty() && mkdir(path.c_str(), 0777) == 0;
}

std::optional<uint64_t> FreeBytesAvailable(const std::string& path) {
    struct statvfs vfs {};
    if (path.empty() || statvfs(path.c_str(), &vfs) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
}

std::string CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

}  // namespace tavrel
