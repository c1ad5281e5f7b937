#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/dtv_base.h"
#include "platform/event.h"

namespace tavrel::test_support {

// A tuner that streams a given byte sequence from a thread of its own, in transfers of a fixed
// size, through the data callback, exactly as a device's completion thread does. Delivery
// starts only when the test releases it, so recordings can be running before the first byte.
class FakeTuner : public CDTV_Base {
public:
    explicit FakeTuner(const Clock& clock) : CDTV_Base(clock) {}
    ~FakeTuner() override { Disconnect(); }

    // Setup, before Connect.
    std::vector<std::string> names{"Fake FX2"};
    std::vector<EndpointInfo> endpoints{Bulk(0x81), Bulk(0x02)};
    std::vector<uint16_t> missing;  // addresses HasEndpoint denies although listed
    uint32_t capabilities = 0;
    bool open_result = true;
    bool connect_result = true;
    std::vector<uint8_t> stream;
    uint32_t transfer_size = 0x8000;
    bool loop = false;  // deliver the stream again and again until disconnected

    // What happened.
    int connects = 0;
    uint16_t last_in = 0, last_out = 0;
    std::vector<int> channels_set;
    std::vector<std::string> texts;

    static EndpointInfo Bulk(uint8_t address) { return {0, 0, address, 2}; }
    static EndpointInfo Interrupt(uint8_t address) { return {0, 0, address, 3}; }

    void Release() { release_.Set(); }
    // Waits until the whole stream (one pass) went through the callback.
    bool WaitDelivered(uint32_t timeout_ms = 10000) { return delivered_.Wait(timeout_ms); }

    bool Open(const char*, DeviceNotificationRecipient* recipient, const char*) override {
        recipient_ = recipient;
        open_ = open_result;
        return open_result;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    uint32_t GetCapabilities() const override { return capabilities; }
    int GetDeviceCount() override { return static_cast<int>(names.size()); }
    bool GetDeviceName(int index, char* buffer, size_t size) override {
        std::snprintf(buffer, size, "%s", names.at(static_cast<size_t>(index)).c_str());
        return true;
    }
    int GetEndpointCount(int) override { return static_cast<int>(endpoints.size()); }
    bool GetEndpointInfo(int, int e, EndpointInfo& info) override {
        info = endpoints.at(static_cast<size_t>(e));
        return true;
    }
    bool HasEndpoint(int, uint16_t address) override {
        return std::find(missing.begin(), missing.end(), address) == missing.end() &&
               std::any_of(endpoints.begin(), endpoints.end(),
                           [&](const EndpointInfo& e) { return e.address == address; });
    }
    bool Connect(int, uint16_t in, uint16_t out) override {
        ++connects;
        last_in = in;
        last_out = out;
        if (!connect_result) {
            return false;
        }
        ResetStatistics();
        stop_ = false;
        connected_ = true;
        thread_ = std::thread([this] { Deliver(); });
        return true;
    }
    bool Disconnect() override {
        stop_ = true;
        release_.Set();
        if (thread_.joinable()) {
            thread_.join();
        }
        connected_ = false;
        return true;
    }
    bool IsConnected() const override { return connected_; }
    int GetChannelCount() override { return 3; }
    int GetChannelName(int index, char* buffer, size_t size) override {
        static const int kIds[] = {13, -1, 27};  // the middle one has no channel
        std::snprintf(buffer, size, "CH%d", kIds[index]);
        return kIds[index];
    }
    bool SetChannel(int channel) override {
        channels_set.push_back(channel);
        if (channel == 99) {
            return false;
        }
        channel_ = channel;
        return true;
    }
    int GetChannel() override { return (capabilities & kCapabilityChannel) ? channel_ : -1; }
    int SendText(const char* text) override {
        texts.emplace_back(text);
        return 1;
    }

    DeviceNotificationRecipient* recipient_ = nullptr;

private:
    void Deliver() {
        release_.Wait(Event::kInfinite);
        do {
            for (size_t pos = 0; pos < stream.size() && !stop_; pos += transfer_size) {
                const auto n =
                    static_cast<uint32_t>(std::min<size_t>(transfer_size, stream.size() - pos));
                const uint64_t total = total_bytes.load() + n;
                total_bytes.store(total);
                success_count.store(success_count.load() + 1);
                data_callback(stream.data() + pos, n, static_cast<uint32_t>(total),
                              static_cast<uint32_t>(total >> 32), callback_user);
            }
            delivered_.Set();
            if (loop && !stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } while (loop && !stop_);
    }

    bool open_ = false;
    std::atomic<bool> connected_{false};
    std::atomic<bool> stop_{false};
    int channel_ = -1;
    Event release_{true};
    Event delivered_{true};
    std::thread thread_;
};

}  // namespace tavrel::test_support
