#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/loopback_receiver.h"

namespace tavrel {
namespace {

using test_support::LoopbackReceiver;

TEST(ResolveIpv4, FindsLoopbackForLocalhostAndDottedAddressesNothingForOthers) {
    const auto localhost = ResolveIpv4("localhost");
    ASSERT_TRUE(localhost.has_value());
    EXPECT_EQ((*localhost)[0], 127);
    EXPECT_EQ(ResolveIpv4("127.0.0.1"), (std::array<uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_FALSE(ResolveIpv4("tavrel-no-such-host.invalid").has_value());
    EXPECT_FALSE(ResolveIpv4("").has_value());
}

TEST(UdpSocket, SendsOneDatagramToALoopbackReceiver) {
    LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    UdpSocket socket;
    EXPECT_FALSE(socket.SendTo({{127, 0, 0, 1}, receiver.Port()}, {}).has_value());  // closed
    ASSERT_TRUE(socket.Open());

    std::vector<uint8_t> data(1000);
    std::iota(data.begin(), data.end(), 0);
    const auto sent = socket.SendTo({{127, 0, 0, 1}, receiver.Port()}, data);
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(*sent, data.size());
    EXPECT_EQ(receiver.Receive(), data);

    socket.Close();
    EXPECT_FALSE(socket.IsOpen());
}

}  // namespace
}  // namespace tavrel
