#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tavrel {

// An IPv4 destination: four address bytes in network order and a port in host order.
struct Ipv4Endpoint {
    std::array<uint8_t, 4> address{};
    uint16_t port = 0;

    friend bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

// The first IPv4 address of a host name or dotted address; nothing when it does not resolve.
std::optional<std::array<uint8_t, 4>> ResolveIpv4(const std::string& host);

// The largest payload one IPv4 UDP datagram can carry (65535 - 20 IP - 8 UDP header bytes).
inline constexpr size_t kMaxUdpPayload = 65507;

// An unconnected IPv4 datagram socket. Movable; closes itself on destruction.
class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Closes an open socket first.
    bool Open();
    // One datagram; the number of bytes the system accepted, nothing on failure.
    std::optional<size_t> SendTo(const Ipv4Endpoint& to, std::span<const uint8_t> data);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace tavrel
