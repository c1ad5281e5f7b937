#include "capture/udp_sender.h"

#include <algorithm>
#include <limits>

namespace tavrel {
namespace {

uint32_t BufferLimitFor(uint32_t packet_size) {
    const uint64_t twice = 2 * static_cast<uint64_t>(packet_size);
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(twice, 0x100000),
                                                    std::numeric_limits<uint32_t>::max()));
}

}  // namespace

UdpSender::UdpSender(uint32_t packet_size, const Clock& clock)
    : clock_(clock), packet_size_(packet_size), buffer_(BufferLimitFor(packet_size)) {}

bool UdpSender::Open(const std::string& host, uint16_t port) {
    Close();
    // A datagram larger than UDP allows would make every send fail while the sender looked
    // busy; refuse the size here so that the start fails visibly instead.
    if (packet_size_ > kMaxUdpPayload) {
        return false;
    }
    const auto address = ResolveIpv4(host);
    if (!address || !socket_.Open()) {
        return false;
    }
    destination_ = Ipv4Endpoint{*address, port};
    buffer_.Clear();  // nothing meant for an earlier destination goes to this one
    bytes_sent_.store(0, std::memory_order_relaxed);
    start_tick_ = clock_.TickCount();
    return true;
}

bool UdpSender::Send(std::span<const uint8_t> data) {
    if (!socket_.IsOpen()) {
        return false;
    }
    if (packet_size_ == 0) {
        const auto sent = socket_.SendTo(destination_, data);
        if (!sent) {
            return false;
        }
        bytes_sent_.fetch_add(*sent, std::memory_order_relaxed);
        return true;
    }
    const auto length =
        static_cast<uint32_t>(std::min<size_t>(data.size(), std::numeric_limits<uint32_t>::max()));
    // A short take drops the rest of the delivery; the buffer is still drained below so that
    // one oversized delivery does not block all later ones.
    bool ok = buffer_.Write(data.data(), length) == data.size();
    // With deliveries no larger than a datagram this sends at most one per delivery; datagrams
    // smaller than deliveries would otherwise leave a backlog that grows until the buffer drops
    // parts of packets.
    while (buffer_.Held() > packet_size_) {
        if (!SendPacket(packet_size_)) {
            ok = false;
        }
    }
    return ok;
}

bool UdpSender::SendPacket(uint32_t n) {
    if (!socket_.IsOpen()) {
        return false;
    }
    const uint32_t datagram =
        packet_size_ != 0 ? packet_size_ : static_cast<uint32_t>(kMaxUdpPayload);
    if (block_.size() != datagram) {
        block_.resize(datagram);
    }
    const uint32_t got = buffer_.Read(block_.data(), std::min(n, datagram), true);
    if (got == 0) {
        return false;
    }
    const auto sent = socket_.SendTo(destination_, std::span<const uint8_t>(block_.data(), got));
    if (!sent) {
        return false;  // the datagram's bytes have left the buffer and are lost
    }
    bytes_sent_.fetch_add(*sent, std::memory_order_relaxed);
    return true;
}

void UdpSender::Close() {
    socket_.Close();
}

}  // namespace tavrel
