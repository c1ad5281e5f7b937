#include "capture/udp_sender.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/loopback_receiver.h"

namespace tavrel {
namespace {

using test_support::LoopbackReceiver;

constexpr size_t kPacket = 188;

std::vector<uint8_t> Stream(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(i * 13 + i / 241);
    }
    return v;
}

// Each delivery goes to the sender, and what went out is received at once, so the receiver's
// queue never overflows: the datagrams must be the stream, in pieces of the datagram size.
TEST(UdpSender, SendsTheStreamInDatagramsOfTheConfiguredSize) {
    struct Case {
        uint32_t size;
        size_t delivery, deliveries;
        std::vector<size_t> datagrams;  // sizes, in order
    };
    const Case cases[] = {
        {188, kPacket, 10, std::vector<size_t>(9, 188)},  // 188 held is not more than 188
        {0, 100, 3, {100, 100, 100}},                     // each delivery as it is
        {1000, kPacket, 20, std::vector<size_t>(3, 1000)},
        {32767, kPacket, 8 * 32767 / kPacket + 1, std::vector<size_t>(8, 32767)},
        {65507, 65507 + kPacket, 1, {65507}},  // the largest UDP allows
        {100, kPacket, 5000, std::vector<size_t>(9399, 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        LoopbackReceiver receiver;
        ASSERT_TRUE(receiver.Ok());
        UdpSender sender(c.size);
        ASSERT_TRUE(sender.Open(c.size == 32767 ? "localhost" : "127.0.0.1", receiver.Port()));
        EXPECT_EQ(sender.Destination().address, (std::array<uint8_t, 4>{127, 0, 0, 1}));
        const auto stream = Stream(c.delivery * c.deliveries);
        std::vector<uint8_t> received;
        std::vector<size_t> sizes;
        for (size_t i = 0; i < c.deliveries; ++i) {
            ASSERT_TRUE(sender.Send(std::span(stream).subspan(i * c.delivery, c.delivery)));
            ASSERT_LE(sender.Buffered(), c.size) << "no backlog";
            while (received.size() < sender.BytesSent()) {
                const auto datagram = receiver.Receive();
                ASSERT_TRUE(datagram.has_value());
                sizes.push_back(datagram->size());
                received.insert(received.end(), datagram->begin(), datagram->end());
            }
        }
        EXPECT_FALSE(receiver.Receive(50).has_value()) << "nothing beyond what was counted";
        EXPECT_EQ(sizes, c.datagrams);
        EXPECT_EQ(received.size() + sender.Buffered(), stream.size());
        EXPECT_TRUE(std::equal(received.begin(), received.end(), stream.begin()));
    }
}

TEST(UdpSender, OpenRefusesUnresolvableHostsAndDatagramsLargerThanUdpAllows) {
    EXPECT_FALSE(ResolveIpv4("").has_value());
    UdpSender nowhere(32767);
    EXPECT_FALSE(nowhere.Open("tavrel-no-such-host.invalid", 1234));
    EXPECT_FALSE(nowhere.IsOpen());
    EXPECT_FALSE(nowhere.Send(Stream(kPacket)));
    LoopbackReceiver receiver;
    EXPECT_FALSE(UdpSender(65508).Open("127.0.0.1", receiver.Port()));
    // The buffer holds twice the datagram size, at least 1 MiB, without overflowing.
    EXPECT_EQ(UdpSender(65507).BufferLimit(), 0x100000u);
    EXPECT_EQ(UdpSender(0x80001).BufferLimit(), 0x100002u);
    EXPECT_EQ(UdpSender(0xFFFFFFFFu).BufferLimit(), 0xFFFFFFFFu);
}

TEST(UdpSender, StartingAgainResetsBytesSentAndAnOversizedDeliveryStopsNothing) {
    LoopbackReceiver receiver;
    FakeClock clock(100);
    UdpSender sender(188, clock);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    EXPECT_EQ(sender.StartTick(), 100u);
    const auto stream = Stream(3 * kPacket);
    sender.Send(stream);
    EXPECT_EQ(sender.BytesSent(), 2 * kPacket);
    sender.Close();
    EXPECT_FALSE(sender.Send(stream));
    clock.SetTick(900);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    EXPECT_EQ(sender.BytesSent(), 0u);
    EXPECT_EQ(sender.Buffered(), 0u);  // bytes meant for the earlier start are not sent
    EXPECT_EQ(sender.StartTick(), 900u);
    // A delivery beyond the buffer is refused after what fits; the next one goes out.
    EXPECT_FALSE(sender.Send(Stream(0x100000 + 1000)));
    EXPECT_LE(sender.Buffered(), 188u);
    EXPECT_TRUE(sender.Send(Stream(kPacket)));
}

}  // namespace
}  // namespace tavrel
