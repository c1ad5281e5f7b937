#include "platform/udp_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tavrel {

std::optional<std::array<uint8_t, 4>> ResolveIpv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    std::array<uint8_t, 4> address{};
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    std::memcpy(address.data(), &in->sin_addr.s_addr, address.size());
    freeaddrinfo(found);
    return address;
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool UdpSocket::Open() {
    Close();
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
}

std::optional<size_t> UdpSocket::SendTo(const Ipv4Endpoint& to, std::span<const uint8_t> data) {
    if (fd_ < 0) {
        return std::nullopt;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(to.port);
    std::memcpy(&addr.sin_addr.s_addr, to.address.data(), to.address.size());
    ssize_t n;
    do {
        n = sendto(fd_, data.data(), data.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                   sizeof addr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return std::nullopt;
    }
    return static_cast<size_t>(n);
}

void UdpSocket::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace tavrel
