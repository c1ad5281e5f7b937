#include "capture/output_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "capture/recorder.h"
#include "capture/udp_sender.h"
#include "platform/loopback_receiver.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::LoopbackReceiver;
using test_support::TempDir;

TEST(OutputSlot, FeederReachesOnlyAnInstalledObject) {
    OutputSlot<int> slot;
    int seen = 0;
    EXPECT_FALSE(slot.Use([&](int& v) { seen = v; }));
    EXPECT_EQ(slot.Peek(), nullptr);

    EXPECT_EQ(slot.Install(std::make_unique<int>(7)), nullptr);
    EXPECT_TRUE(slot.Use([&](int& v) { seen = v; }));
    EXPECT_EQ(seen, 7);
    ASSERT_NE(slot.Peek(), nullptr);
    EXPECT_EQ(*slot.Peek(), 7);

    auto replaced = slot.Install(std::make_unique<int>(8));
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(*replaced, 7);

    auto removed = slot.Remove();
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(*removed, 8);
    EXPECT_FALSE(slot.Use([&](int& v) { seen = v; }));
    EXPECT_EQ(slot.Remove(), nullptr);
}

// The processing thread writes packets while the main thread starts and stops recordings,
// closing and deleting each one. Every packet the feeder handed to a recorder must end up in
// that recorder's file, and nothing else.
TEST(OutputSlot, RecordingsCanBeStoppedAndDeletedWhileTheFeederWrites) {
    TempDir dir;
    OutputSlot<Recorder> slot;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> accepted{0};

    std::thread feeder([&] {
        std::vector<uint8_t> packet(188, 0x47);
        uint8_t counter = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            packet[1] = counter++;
            bool ok = false;
            if (slot.Use([&](Recorder& r) { ok = r.Write(packet); }) && ok) {
                accepted.fetch_add(packet.size(), std::memory_order_relaxed);
            }
        }
    });

    constexpr int kRecordings = 40;
    for (int i = 0; i < kRecordings; ++i) {
        auto recorder = std::make_unique<Recorder>();
        ASSERT_TRUE(recorder->Open(dir.File("rec" + std::to_string(i) + ".ts")));
        EXPECT_EQ(slot.Install(std::move(recorder)), nullptr);
        // The owner reads the figures while the feeder writes. Half the recordings stop
        // after their first disk block, half while everything is still buffered.
        const Recorder& current = *slot.Peek();
        if (i % 2 == 0) {
            while (current.BytesWritten() == 0) {
                std::this_thread::yield();
            }
        } else {
            while (current.Buffered() < 50000) {
                std::this_thread::yield();
            }
        }
        std::unique_ptr<Recorder> done = slot.Remove();
        done.reset();  // closes: writes the rest of its buffer outside the slot's lock
    }
    stop = true;
    feeder.join();

    uint64_t on_disk = 0;
    for (int i = 0; i < kRecordings; ++i) {
        on_disk += std::filesystem::file_size(dir.File("rec" + std::to_string(i) + ".ts"));
    }
    EXPECT_EQ(on_disk, accepted.load());
    EXPECT_GT(on_disk, 0u);
}

TEST(OutputSlot, SendersCanBeReplacedWhileTheFeederSends) {
    LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    OutputSlot<UdpSender> slot;
    std::atomic<bool> stop{false};
    std::atomic<int> sends{0};

    std::thread feeder([&] {
        const std::vector<uint8_t> packet(188, 0x47);
        while (!stop.load(std::memory_order_relaxed)) {
            if (slot.Use([&](UdpSender& s) { s.Send(packet); })) {
                sends.fetch_add(1, std::memory_order_relaxed);
            } else {
                std::this_thread::yield();
            }
        }
    });

    constexpr int kStarts = 30;
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
    stop = true;
    feeder.join();
    EXPECT_GE(sends.load(), kStarts * 200);
}

}  // namespace
}  // namespace tavrel
