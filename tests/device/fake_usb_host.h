#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/usb_host.h"
#include "sim/multiplex.h"
#include "sim/simulated_fx2.h"

namespace tavrel::test_support {

// One board on the fake bus: where it sits and what it answers. `board` gives the
// descriptors (endpoints, strings); `device` is filled from it when its endpoints are empty.
struct FakeBoard {
    HostDevice device;
    sim::SimBoard board;
    bool deny_open = false;      // opening fails for lack of permission
    bool kernel_driver = false;  // a kernel driver is bound until the interfaces are claimed
};

// A transfer the fake saw submitted.
struct FakeSubmit {
    HostTransferType type;
    uint8_t endpoint;
    std::vector<uint8_t> data;  // the setup packet of a control, the bytes of an OUT transfer
    size_t length;
};

// The host's USB library without hardware: FX2 boards that answer the standard requests from
// their descriptors and stream a generated multiplex on every bulk or interrupt IN endpoint, in
// order, as fast as reads are queued. A worker thread completes transfers (never the caller's
// thread), as libusb's event thread does.
class FakeUsbHost final : public UsbHost {
public:
    explicit FakeUsbHost(sim::MultiplexConfig stream, std::vector<FakeBoard> boards);
    ~FakeUsbHost() override;

    std::vector<HostDevice> Devices() override;
    std::unique_ptr<UsbHostHandle> Open(uint8_t bus, uint8_t address, HostError& error) override;
    bool WatchHotplug(std::function<void(bool, const HostDevice&)> notice) override;
    uint32_t LibraryVersion() const override { return 0x01001A00; }

    void Unplug(size_t board) { SetPresent(board, false); }
    void Plug(size_t board) { SetPresent(board, true); }
    // While held, IN reads stay pending (until cancelled or unplugged).
    void HoldData(bool hold);

    uint64_t BytesStreamed() const { return Locked(&FakeUsbHost::streamed_); }
    uint32_t StreamCrc() const { return Locked(&FakeUsbHost::crc_); }
    std::vector<FakeSubmit> Submits() const { return Locked(&FakeUsbHost::submits_); }
    size_t Pending() const { return Locked(&FakeUsbHost::transfers_).size(); }
    int Claims() const { return Locked(&FakeUsbHost::claims_); }
    int KernelDriversBound() const {
        const auto bound = Locked(&FakeUsbHost::bound_);
        return static_cast<int>(std::count(bound.begin(), bound.end(), true));
    }
    int OpenHandles() const { return Locked(&FakeUsbHost::open_handles_); }

    class Handle;

private:
    struct Transfer {
        uint64_t token = 0;
        size_t board = 0;
        HostTransfer transfer;
        bool cancelled = false;
    };
    struct Outcome {
        std::function<void(HostStatus, uint32_t)> done;
        HostStatus status;
        uint32_t actual;
    };

    // A copy of one member, taken under the lock.
    template <typename T>
    T Locked(T FakeUsbHost::*member) const {
        std::lock_guard lock(mutex_);
        return this->*member;
    }
    // Its transfers end with kNoDevice while it is out.
    void SetPresent(size_t board, bool present);
    void Serve();
    // Under the lock: what finishes now, to be told outside it.
    std::vector<Outcome> Step();
    bool Answer(size_t board, Transfer& t, Outcome& outcome);
    size_t TakeStream(std::span<uint8_t> out);

    friend class Handle;
    HostError Submit(size_t board, HostTransfer transfer, uint64_t& token);
    void Cancel(uint64_t token);

    sim::MultiplexGenerator generator_;
    std::vector<uint8_t> chunk_;
    size_t chunk_pos_ = 0;
    bool stream_ended_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<FakeBoard> boards_;
    std::vector<bool> present_;
    std::deque<Transfer> transfers_;
    std::vector<FakeSubmit> submits_;
    std::function<void(bool, const HostDevice&)> notice_;
    uint64_t next_token_ = 1;
    bool hold_ = false;
    bool stopping_ = false;
    uint64_t streamed_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
    int claims_ = 0;
    int open_handles_ = 0;
    std::vector<bool> bound_;
    std::thread worker_;
};

// A board as the descriptors of `board` describe it, at bus 1, port `port`.
FakeBoard MakeFakeBoard(sim::SimBoard board, uint8_t port, uint8_t address);

}  // namespace tavrel::test_support
