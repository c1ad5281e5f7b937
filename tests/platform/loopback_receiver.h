#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace tavrel::test_support {

// A UDP socket bound to 127.0.0.1 on a free port, for tests that check what was sent.
class LoopbackReceiver {
public:
    LoopbackReceiver() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int size = 8 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~LoopbackReceiver() { close(fd_); }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    uint16_t Port() const { return port_; }
    bool Ok() const { return fd_ >= 0 && port_ != 0; }

    // The next datagram, waiting at most timeout_ms; nothing when none came.
    std::optional<std::vector<uint8_t>> Receive(int timeout_ms = 2000) {
        timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::vector<uint8_t> datagram(65536);
        const ssize_t n = recv(fd_, datagram.data(), datagram.size(), 0);
        if (n < 0) {
            return std::nullopt;
        }
        datagram.resize(static_cast<size_t>(n));
        return datagram;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace tavrel::test_support
