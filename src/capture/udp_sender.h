#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/chunk_buffer.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace tavrel {

// Sends the main output as UDP datagrams of exactly the configured size to one host and port,
// cutting the byte stream without regard to packet boundaries.
//
// Open, Close and destruction belong to the owning thread; Send and SendPacket to the one
// thread that feeds it (see OutputSlot). BytesSent and StartTick may be read by the owner while
// the feeder sends.
class UdpSender {
public:
    static constexpr uint32_t kMinBufferLimit = 0x100000;  // 1 MiB

    // packet_size 0 sends every delivery as one datagram.
    explicit UdpSender(uint32_t packet_size, const Clock& clock = SystemClock::Instance());
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // Resolves the host to its first IPv4 address and opens a socket, closing one that is open
    // first; bytes sent starts again at 0. False when the name does not resolve, the socket
    // cannot be made, or the packet size is larger than a UDP datagram can carry.
    bool Open(const std::string& host, uint16_t port);
    // Buffers the data and sends one datagram whenever more than the packet size is held.
    // False when closed, when the buffer could take only part of the data (the rest is
    // dropped) or when sending a datagram failed (its bytes are lost); sending goes on.
    bool Send(std::span<const uint8_t> data);
    // Takes up to n buffered bytes (at most one packet) out and sends them as one datagram.
    bool SendPacket(uint32_t n);
    void Close();

    bool IsOpen() const { return socket_.IsOpen(); }
    // Bytes the system accepted since Open.
    uint64_t BytesSent() const { return bytes_sent_.load(std::memory_order_relaxed); }
    uint32_t StartTick() const { return start_tick_; }
    uint32_t PacketSize() const { return packet_size_; }
    uint32_t BufferLimit() const { return buffer_.Limit(); }
    uint32_t Buffered() const { return buffer_.Held(); }
    // Address bytes and port of the destination, for the status text.
    const Ipv4Endpoint& Destination() const { return destination_; }

private:
    const Clock& clock_;
    const uint32_t packet_size_;
    CBuffer buffer_;
    std::vector<uint8_t> block_;  // one datagram, kept between sends
    UdpSocket socket_;
    Ipv4Endpoint destination_;
    uint32_t start_tick_ = 0;
    std::atomic<uint64_t> bytes_sent_{0};
};

}  // namespace tavrel
