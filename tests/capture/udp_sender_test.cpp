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

std::span<const uint8_t> PacketAt(const std::vector<uint8_t>& stream, size_t index) {
    return std::span<const uint8_t>(stream.data() + index * kPacket, kPacket);
}

TEST(UdpSender, PacketSize188SendsOneDatagramPerDeliveryFromTheSecondOn) {
    LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    UdpSender sender(188);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    const auto stream = Stream(10 * kPacket);

    ASSERT_TRUE(sender.Send(PacketAt(stream, 0)));
    EXPECT_EQ(sender.BytesSent(), 0u);  // 188 held is not more than 188
    EXPECT_FALSE(receiver.Receive(100).has_value());

    for (size_t i = 1; i < 10; ++i) {
        ASSERT_TRUE(sender.Send(PacketAt(stream, i)));
        EXPECT_EQ(sender.BytesSent(), i * kPacket);
        EXPECT_EQ(sender.Buffered(), kPacket);
        const auto datagram = receiver.Receive();
        ASSERT_TRUE(datagram.has_value());
        EXPECT_EQ(*datagram, std::vector<uint8_t>(PacketAt(stream, i - 1).begin(),
                                                  PacketAt(stream, i - 1).end()));
    }
    EXPECT_FALSE(receiver.Receive(100).has_value());  // never two at once
}

TEST(UdpSender, LocalhostGetsDefaultSizeDatagramsByteForByte) {
    LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    UdpSender sender(32767);
    ASSERT_TRUE(sender.Open("localhost", receiver.Port()));
    EXPECT_EQ(sender.Destination().address[0], 127);
    EXPECT_EQ(sender.Destination().port, receiver.Port());

    constexpr size_t kDatagrams = 8;
    const size_t packets = kDatagrams * 32767 / kPacket + 1;
    const auto stream = Stream(packets * kPacket);
    std::vector<uint8_t> received;
    for (size_t i = 0; i < packets; ++i) {
        const uint64_t before = sender.BytesSent();
        ASSERT_TRUE(sender.Send(PacketAt(stream, i)));
        if (sender.BytesSent() != before) {
            // Taken at once, so the receiver's queue never overflows and drops one.
            const auto datagram = receiver.Receive();
            ASSERT_TRUE(datagram.has_value());
            EXPECT_EQ(datagram->size(), 32767u);
            received.insert(received.end(), datagram->begin(), datagram->end());
        }
    }
    EXPECT_EQ(sender.BytesSent(), kDatagrams * 32767);
    ASSERT_EQ(received.size(), kDatagrams * 32767);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), stream.begin()));
}

TEST(UdpSender, OpenRefusesUnresolvableHostsAndDatagramsLargerThanUdpAllows) {
    EXPECT_EQ(ResolveIpv4("127.0.0.1"), (std::array<uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_FALSE(ResolveIpv4("").has_value());
    UdpSender nowhere(32767);
    EXPECT_FALSE(nowhere.Open("tavrel-no-such-host.invalid", 1234));
    EXPECT_FALSE(nowhere.IsOpen());
    EXPECT_FALSE(nowhere.Send(Stream(kPacket)));

    LoopbackReceiver receiver;
    UdpSender too_big(65508);
    EXPECT_FALSE(too_big.Open("127.0.0.1", receiver.Port()));
    UdpSender largest(65507);
    ASSERT_TRUE(largest.Open("127.0.0.1", receiver.Port()));
    ASSERT_TRUE(largest.Send(Stream(65507 + kPacket)));
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->size(), 65507u);
    // The buffer holds twice the datagram size, at least 1 MiB, without overflowing.
    EXPECT_EQ(largest.BufferLimit(), 0x100000u);
    EXPECT_EQ(UdpSender(0x80001).BufferLimit(), 0x100002u);
    EXPECT_EQ(UdpSender(0xFFFFFFFFu).BufferLimit(), 0xFFFFFFFFu);
}

TEST(UdpSender, StoppingAndStartingAgainResetsBytesSent) {
    LoopbackReceiver receiver;
    FakeClock clock(100);
    UdpSender sender(188, clock);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    EXPECT_EQ(sender.StartTick(), 100u);
    const auto stream = Stream(3 * kPacket);
    for (size_t i = 0; i < 3; ++i) {
        sender.Send(PacketAt(stream, i));
    }
    EXPECT_EQ(sender.BytesSent(), 2 * kPacket);

    sender.Close();
    EXPECT_FALSE(sender.Send(PacketAt(stream, 0)));
    clock.SetTick(900);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    EXPECT_EQ(sender.BytesSent(), 0u);
    EXPECT_EQ(sender.Buffered(), 0u);  // bytes meant for the earlier start are not sent
    EXPECT_EQ(sender.StartTick(), 900u);
}

TEST(UdpSender, PacketSizeZeroSendsEachDeliveryAsItIs) {
    LoopbackReceiver receiver;
    UdpSender sender(0);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    const auto stream = Stream(2 * kPacket);
    ASSERT_TRUE(sender.Send(PacketAt(stream, 0)));
    ASSERT_TRUE(sender.Send(std::span<const uint8_t>(stream.data() + kPacket, 100)));
    EXPECT_EQ(sender.BytesSent(), kPacket + 100);
    EXPECT_EQ(receiver.Receive()->size(), kPacket);
    EXPECT_EQ(receiver.Receive()->size(), 100u);
}

TEST(UdpSender, NoBacklogBehindSmallDatagramsAndSendingGoesOnAfterAnOversizedDelivery) {
    LoopbackReceiver receiver;
    UdpSender small(100);
    ASSERT_TRUE(small.Open("127.0.0.1", receiver.Port()));
    const auto stream = Stream(5000 * kPacket);
    for (size_t i = 0; i < 5000; ++i) {
        ASSERT_TRUE(small.Send(PacketAt(stream, i)));
        ASSERT_LE(small.Buffered(), 100u);
    }
    EXPECT_EQ(small.BytesSent() + small.Buffered(), stream.size());

    UdpSender sender(32767);
    ASSERT_TRUE(sender.Open("127.0.0.1", receiver.Port()));
    EXPECT_FALSE(sender.Send(Stream(0x100000 + 1000)));  // only the first MiB fits
    EXPECT_LE(sender.Buffered(), 32767u);
    EXPECT_TRUE(sender.Send(Stream(kPacket)));
}

}  // namespace
}  // namespace tavrel
