// Throughput of the UDP sender at the default datagram size, fed 188-byte deliveries and
// sending 256 MiB per iteration to a receiver thread on the loopback address.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "capture/udp_sender.h"

namespace tavrel {
namespace {

constexpr size_t kPacket = 188;
constexpr size_t kTotal = size_t{256} << 20;
constexpr uint32_t kDefaultSize = 0x7FFF;

// Drains a loopback socket on its own thread and counts what arrives.
class Receiver {
public:
    Receiver() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int size = 16 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        timeval tv{0, 100000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        port_ = bench::BindLoopback(fd_);
        thread_ = std::thread([this] {
            std::vector<uint8_t> datagram(65536);
            while (!stop_.load(std::memory_order_relaxed)) {
                const ssize_t n = recv(fd_, datagram.data(), datagram.size(), 0);
                if (n > 0) {
                    received_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
                }
            }
        });
    }
    ~Receiver() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }

    uint16_t Port() const { return port_; }
    uint64_t Received() const { return received_.load(std::memory_order_relaxed); }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::thread thread_;
};

void BM_UdpSenderDefaultSizeToLoopback(benchmark::State& state) {
    Receiver receiver;
    std::vector<uint8_t> source(1 << 20);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i * 131);
    }
    const size_t deliveries = kTotal / kPacket;
    uint64_t sent = 0;
    for (auto _ : state) {
        UdpSender sender(kDefaultSize);
        if (!sender.Open("127.0.0.1", receiver.Port())) {
            state.SkipWithError("cannot open the sender");
            return;
        }
        size_t at = 0;
        for (size_t i = 0; i < deliveries; ++i) {
            sender.Send(std::span<const uint8_t>(source.data() + at, kPacket));
            at += kPacket;
            if (at + kPacket > source.size()) {
                at = 0;
            }
        }
        sent += sender.BytesSent();
    }
    state.SetBytesProcessed(static_cast<int64_t>(sent));
    // Loopback drops what the receiver cannot keep up with; show how much arrived.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    state.counters["received_share"] =
        sent == 0 ? 0.0 : static_cast<double>(receiver.Received()) / static_cast<double>(sent);
}

BENCHMARK(BM_UdpSenderDefaultSizeToLoopback)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
}  // namespace tavrel
