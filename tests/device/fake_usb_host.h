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
#include "sim/usb_descriptors.h"
#include "ts/crc32.h"

namespace tavrel::test_support {

// One board on the fake bus: where it sits and what it answers. `board` gives the
// descriptors (endpoints, strings); `device` is filled from it by MakeFakeBoard.
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

// A board as the descriptors of `board` describe it, at bus 1, port `port`.
inline FakeBoard MakeFakeBoard(sim::SimBoard board, uint8_t port, uint8_t address) {
    // Bus 1; no device class; strings 1 and 2 name the maker and the product.
    FakeBoard b{{1, {port}, address, board.vendor_id, board.product_id, 0, 1, 2, board.speed, {}},
                std::move(board)};
    for (const auto& itf : b.board.interfaces) {
        for (const auto& ep : itf.endpoints) {
            b.device.endpoints.push_back({ep.address, ep.attributes, ep.max_packet, itf.number});
        }
    }
    return b;
}

// The host's USB library without hardware: FX2 boards that answer the standard requests from
// their descriptors and stream a generated multiplex on every bulk or interrupt IN endpoint, in
// order, as fast as reads are queued. A worker thread completes transfers (never the caller's
// thread), as libusb's event thread does.
class FakeUsbHost final : public UsbHost {
public:
    FakeUsbHost(sim::MultiplexConfig stream, std::vector<FakeBoard> boards) : generator_(stream) {
        for (auto& b : boards) {
            boards_.push_back({b, true, b.kernel_driver});
        }
        worker_ = std::thread([this] { Serve(); });
    }
    ~FakeUsbHost() override {
        Change([&] { stopping_ = true; });
        worker_.join();
    }

    std::vector<HostDevice> Devices() override {
        std::lock_guard lock(mutex_);
        std::vector<HostDevice> devices;
        for (const Slot& b : boards_) {
            if (b.present) {
                devices.push_back(b.fake.device);
            }
        }
        return devices;
    }
    std::unique_ptr<UsbHostHandle> Open(uint8_t bus, uint8_t address, HostError& error) override {
        std::lock_guard lock(mutex_);
        error = HostError::kNoDevice;
        for (size_t i = 0; i < boards_.size(); ++i) {
            const HostDevice& d = boards_[i].fake.device;
            if (boards_[i].present && d.bus == bus && d.address == address) {
                if (boards_[i].fake.deny_open) {
                    error = HostError::kAccess;
                    return nullptr;
                }
                error = HostError::kNone;
                ++open_handles_;
                return std::make_unique<Handle>(*this, i);
            }
        }
        return nullptr;
    }
    bool WatchHotplug(std::function<void(bool, const HostDevice&)> notice) override {
        Change([&] { notice_ = std::move(notice); });
        return true;
    }
    uint32_t LibraryVersion() const override { return 0x01001A00; }

    void Unplug(size_t board) { SetPresent(board, false); }
    void Plug(size_t board) { SetPresent(board, true); }
    // While held, IN reads stay pending (until cancelled or unplugged).
    void HoldData(bool hold) {
        Change([&] { hold_ = hold; });
    }

    uint64_t BytesStreamed() const { return Locked(&FakeUsbHost::streamed_); }
    uint32_t StreamCrc() const { return Locked(&FakeUsbHost::crc_); }
    std::vector<FakeSubmit> Submits() const { return Locked(&FakeUsbHost::submits_); }
    size_t Pending() const { return Locked(&FakeUsbHost::transfers_).size(); }
    int Claims() const { return Locked(&FakeUsbHost::claims_); }
    int KernelDriversBound() const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(
            std::count_if(boards_.begin(), boards_.end(), [](const Slot& b) { return b.bound; }));
    }
    int OpenHandles() const { return Locked(&FakeUsbHost::open_handles_); }

private:
    class Handle final : public UsbHostHandle {
    public:
        Handle(FakeUsbHost& host, size_t board) : host_(host), board_(board) {}
        ~Handle() override {
            std::lock_guard lock(host_.mutex_);
            --host_.open_handles_;
            Slot& b = host_.boards_[board_];
            if (claimed_) {
                b.bound = b.fake.kernel_driver;  // released: the detached kernel driver comes back
            }
        }

        HostError ClaimInterfaces() override {
            std::lock_guard lock(host_.mutex_);
            Slot& b = host_.boards_[board_];
            if (!b.present) {
                return HostError::kNoDevice;
            }
            b.bound = false;  // detached
            claimed_ = true;
            ++host_.claims_;
            return HostError::kNone;
        }
        std::string StringDescriptor(uint8_t index) override {
            std::lock_guard lock(host_.mutex_);
            const std::string* text = Text(host_.boards_[board_].fake.board, index);
            return text ? *text : "";
        }
        HostError Submit(HostTransfer transfer, uint64_t& token) override {
            HostError error = HostError::kNoDevice;
            host_.Change([&] {
                if (!host_.boards_[board_].present) {
                    return;
                }
                // A control's setup packet, an OUT transfer's bytes, nothing of a read.
                const auto& buffer = transfer.buffer;
                const size_t kept = transfer.type == HostTransferType::kControl ? 8
                                    : (transfer.endpoint & 0x80) == 0           ? buffer.size()
                                                                                : 0;
                host_.submits_.push_back(
                    {transfer.type, transfer.endpoint,
                     std::vector<uint8_t>(buffer.begin(), buffer.begin() + kept), buffer.size()});
                token = host_.next_token_++;
                host_.transfers_.push_back({token, board_, std::move(transfer)});
                error = HostError::kNone;
            });
            return error;
        }
        void Cancel(uint64_t token) override {
            host_.Change([&] {
                for (auto& t : host_.transfers_) {
                    t.cancelled = t.cancelled || t.token == token;
                }
            });
        }

    private:
        FakeUsbHost& host_;
        const size_t board_;
        bool claimed_ = false;
    };

    struct Slot {  // a board and its state on the bus
        FakeBoard fake;
        bool present = true;
        bool bound = false;  // its kernel driver
    };
    struct Transfer {
        uint64_t token = 0;
        size_t board = 0;
        HostTransfer transfer;
        bool cancelled = false;
    };
    using Outcome = std::function<void()>;

    template <typename T>
    T Locked(T FakeUsbHost::*member) const {
        std::lock_guard lock(mutex_);
        return this->*member;
    }
    template <typename F>
    void Change(F f) {
        {
            std::lock_guard lock(mutex_);
            f();
        }
        wake_.notify_all();
    }
    void SetPresent(size_t board, bool present) {
        std::function<void(bool, const HostDevice&)> notice;
        Change([&] {
            boards_.at(board).present = present;  // while out, its transfers end with kNoDevice
            notice = notice_;
        });
        if (notice) {
            notice(present, boards_[board].fake.device);
        }
    }
    size_t TakeStream(std::span<uint8_t> out) {
        size_t done = 0;
        while (done < out.size()) {
            if (chunk_pos_ == chunk_.size()) {
                chunk_pos_ = 0;
                if (!generator_.Next(chunk_)) {
                    break;
                }
            }
            const size_t n = std::min(out.size() - done, chunk_.size() - chunk_pos_);
            std::copy_n(chunk_.begin() + static_cast<ptrdiff_t>(chunk_pos_), n, out.begin() + done);
            chunk_pos_ += n;
            done += n;
        }
        return done;
    }
    // String descriptor 1 to 3; nothing for another index.
    static const std::string* Text(const sim::SimBoard& b, uint8_t index) {
        const std::string* texts[] = {nullptr, &b.manufacturer, &b.product, &b.serial};
        return index <= 3 ? texts[index] : nullptr;
    }
    // What a board answers to the standard request in `setup`; empty: a stall.
    static std::vector<uint8_t> ControlAnswer(const sim::SimBoard& b,
                                              std::span<const uint8_t> setup) {
        const uint8_t index = setup[2];
        const uint8_t kind = setup[3];
        if (setup[0] == 0x81 && setup[1] == 10) {
            return {b.current_alternate};
        }
        if (setup[0] != 0x80 || setup[1] != 6) {
            return {};
        }
        if (kind == 1) {
            return sim::DeviceDescriptor(b);
        }
        if (kind == 2 && index == 0) {
            return sim::ConfigurationDescriptor(b);
        }
        if (kind == 3 && index == 0) {
            return {4, 3, 0x09, 0x04};
        }
        const std::string* text = kind == 3 ? Text(b, index) : nullptr;
        return text ? sim::Utf16Descriptor(*text) : std::vector<uint8_t>{};
    }
    // Under the lock: how the transfer ends now, nothing when it stays pending.
    Outcome Answer(Transfer& t, bool blocked) {
        HostTransfer& x = t.transfer;
        const auto end = [&](HostStatus status, size_t actual) -> Outcome {
            return [done = x.done, status, actual] { done(status, static_cast<uint32_t>(actual)); };
        };
        if (!stopping_ && !boards_[t.board].present) {
            return end(HostStatus::kNoDevice, 0);
        }
        if (stopping_ || t.cancelled) {
            return end(HostStatus::kCancelled, 0);  // as a closing library ends what is left
        }
        if (blocked) {
            return nullptr;
        }
        if (x.type == HostTransferType::kControl) {
            const auto answer = ControlAnswer(boards_[t.board].fake.board, x.buffer.first(8));
            const size_t n = std::min(answer.size(), x.buffer.size() - 8);
            std::copy_n(answer.begin(), n, x.buffer.begin() + 8);
            return end(answer.empty() ? HostStatus::kStall : HostStatus::kCompleted, n);
        }
        if ((x.endpoint & 0x80) == 0) {
            return end(HostStatus::kCompleted, x.buffer.size());
        }
        const size_t got = hold_ ? 0 : TakeStream(x.buffer);
        if (got == 0) {
            return nullptr;
        }
        crc_ = Crc32Update(crc_, x.buffer.first(got));
        streamed_ += got;
        return end(HostStatus::kCompleted, got);
    }
    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            // A board's transfers complete in the order they were queued: a pending one holds the
            // later ones of its board, while cancellations and unplugs end any of them.
            std::vector<Outcome> outcomes;
            std::vector<bool> blocked(boards_.size(), false);
            for (auto it = transfers_.begin(); it != transfers_.end();) {
                if (Outcome o = Answer(*it, blocked[it->board])) {
                    outcomes.push_back(std::move(o));
                    it = transfers_.erase(it);
                } else {
                    blocked[it->board] = true;
                    ++it;
                }
            }
            if (outcomes.empty() && stopping_) {
                return;
            }
            if (outcomes.empty()) {
                wake_.wait(lock);
                continue;
            }
            lock.unlock();
            for (auto& o : outcomes) {
                o();
            }
            lock.lock();
        }
    }

    sim::MultiplexGenerator generator_;
    std::vector<uint8_t> chunk_;
    size_t chunk_pos_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Slot> boards_;
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
    std::thread worker_;
};

}  // namespace tavrel::test_support
