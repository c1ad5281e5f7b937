#include "capture/output_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "capture/recorder.h"
#include "capture/udp_sender.h"
#include "platform/loopback_receiver.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

TEST(OutputSlot, FeederReachesOnlyAnInstalledObject) {
    OutputSlot<int> slot;
    int seen = 0;
    const auto use = [&] { return slot.Use([&](int& v) { seen = v; }); };
    EXPECT_FALSE(use());
    EXPECT_EQ(slot.Peek(), nullptr);
    EXPECT_EQ(slot.Install(std::make_unique<int>(7)), nullptr);
    EXPECT_TRUE(use());
    EXPECT_EQ(seen, 7);
    EXPECT_EQ(*slot.Install(std::make_unique<int>(8)), 7);
    EXPECT_EQ(*slot.Peek(), 8);
    EXPECT_EQ(*slot.Remove(), 8);
    EXPECT_FALSE(use());
    EXPECT_EQ(slot.Remove(), nullptr);
}

// Runs `feed` on a thread of its own, as the processing thread does, until `owner` returns.
void WhileFeeding(const std::function<void()>& feed, const std::function<void()>& owner) {
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            feed();
        }
    });
    owner();
    stop = true;
    feeder.join();
}

// The main thread starts and stops recordings, closing and deleting each one, while the feeder
// writes. Every packet the feeder handed to a recorder must end up in that recorder's file, and
// nothing else.
TEST(OutputSlot, RecordingsCanBeStoppedAndDeletedWhileTheFeederWrites) {
    test_support::TempDir dir;
    OutputSlot<Recorder> slot;
    std::atomic<uint64_t> accepted{0};
    std::vector<uint8_t> packet(188, 0x47);
    constexpr int kRecordings = 40;
    const auto file = [&](int i) { return dir.File("rec" + std::to_string(i) + ".ts"); };
    WhileFeeding(
        [&] {
            ++packet[1];
            bool ok = false;
            if (slot.Use([&](Recorder& r) { ok = r.Write(packet); }) && ok) {
                accepted.fetch_add(packet.size(), std::memory_order_relaxed);
            }
        },
        [&] {
            for (int i = 0; i < kRecordings; ++i) {
                auto recorder = std::make_unique<Recorder>();
                ASSERT_TRUE(recorder->Open(file(i)));
                EXPECT_EQ(slot.Install(std::move(recorder)), nullptr);
                // The owner reads the figures while the feeder writes. Half the recordings stop
                // after their first disk block, half while everything is still buffered.
                const Recorder& current = *slot.Peek();
                while (i % 2 == 0 ? current.BytesWritten() == 0 : current.Buffered() < 50000) {
                    std::this_thread::yield();
                }
                slot.Remove().reset();  // closes: writes the rest outside the slot's lock
            }
        });
    uint64_t on_disk = 0;
    for (int i = 0; i < kRecordings; ++i) {
        on_disk += std::filesystem::file_size(file(i));
    }
    EXPECT_EQ(on_disk, accepted.load());
    EXPECT_GT(on_disk, 0u);
}

TEST(OutputSlot, SendersCanBeReplacedWhileTheFeederSends) {
    test_support::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    OutputSlot<UdpSender> slot;
    std::atomic<int> sends{0};
    const std::vector<uint8_t> packet(188, 0x47);
    constexpr int kStarts = 30;
    WhileFeeding(
        [&] {
            if (slot.Use([&](UdpSender& s) { s.Send(packet); })) {
                sends.fetch_add(1, std::memory_order_relaxed);
            } else {
                std::this_thread::yield();
            }
        },
        [&] {
            for (int i = 0; i < kStarts; ++i) {
                auto sender = std::make_unique<UdpSender>(1316);
                ASSERT_TRUE(sender->Open("127.0.0.1", receiver.Port()));
                slot.Install(std::move(sender));
                const int before = sends.load();
                while (sends.load() - before < 200) {
                    std::this_thread::yield();
                }
                EXPECT_GT(slot.Peek()->BytesSent(), 0u);
                slot.Remove();  // deleted here, while the feeder keeps trying
            }
        });
    EXPECT_GE(sends.load(), kStarts * 200);
}

}  // namespace
}  // namespace tavrel
