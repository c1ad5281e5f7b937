// The host's USB library on this machine: libusb-1.0 with one event-handling thread that
// completes every asynchronous transfer and delivers the hot-plug notices.

#include <libusb.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "device/host_usb_driver.h"

namespace tavrel {
namespace {

HostError FromLibusb(int code) {
    switch (code) {
        case LIBUSB_SUCCESS:
            return HostError::kNone;
        case LIBUSB_ERROR_ACCESS:
            return HostError::kAccess;
        case LIBUSB_ERROR_NO_DEVICE:
            return HostError::kNoDevice;
        case LIBUSB_ERROR_BUSY:
            return HostError::kBusy;
        case LIBUSB_ERROR_NOT_FOUND:
            return HostError::kNotFound;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return HostError::kNotSupported;
        default:
            return HostError::kOther;
    }
}

HostStatus FromLibusb(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return HostStatus::kCompleted;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return HostStatus::kTimedOut;
        case LIBUSB_TRANSFER_CANCELLED:
            return HostStatus::kCancelled;
        case LIBUSB_TRANSFER_STALL:
            return HostStatus::kStall;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return HostStatus::kNoDevice;
        case LIBUSB_TRANSFER_OVERFLOW:
            return HostStatus::kOverflow;
        case LIBUSB_TRANSFER_ERROR:
            break;
    }
    return HostStatus::kError;
}

uint32_t Speed(int speed) {
    switch (speed) {
        case LIBUSB_SPEED_LOW:
        case LIBUSB_SPEED_FULL:
            return 1;
        case LIBUSB_SPEED_HIGH:
            return 2;
        case LIBUSB_SPEED_UNKNOWN:
            return 0;
        default:
            return 4;
    }
}

HostDevice Describe(libusb_device* dev) {
    HostDevice d;
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) == LIBUSB_SUCCESS) {
        d.vendor_id = desc.idVendor;
        d.product_id = desc.idProduct;
        d.device_class = desc.bDeviceClass;
        d.manufacturer_index = desc.iManufacturer;
        d.product_index = desc.iProduct;
    }
    d.bus = libusb_get_bus_number(dev);
    d.address = libusb_get_device_address(dev);
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    if (n > 0) {
        d.ports.assign(ports, ports + n);
    }
    d.speed = Speed(libusb_get_device_speed(dev));
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) == LIBUSB_SUCCESS) {
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface& itf = config->interface[i];
            for (int a = 0; a < itf.num_altsetting; ++a) {
                const libusb_interface_descriptor& alt = itf.altsetting[a];
                for (int e = 0; e < alt.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                    d.endpoints.push_back({ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize,
                                           alt.bInterfaceNumber});
                }
            }
        }
        libusb_free_config_descriptor(config);
    }
    return d;
}

class LibusbHandle final : public UsbHostHandle {
public:
    explicit LibusbHandle(libusb_device_handle* handle) : handle_(handle) {}
    ~LibusbHandle() override {
        for (int itf : claimed_) {
            libusb_release_interface(handle_, itf);  // re-attaches a detached kernel driver
        }
        libusb_close(handle_);
    }

    HostError ClaimInterfaces() override {
        libusb_set_auto_detach_kernel_driver(handle_, 1);
        libusb_config_descriptor* config = nullptr;
        const int got = libusb_get_active_config_descriptor(libusb_get_device(handle_), &config);
        if (got != LIBUSB_SUCCESS) {
            return FromLibusb(got);
        }
        HostError error = HostError::kNone;
        for (int i = 0; i < config->bNumInterfaces && error == HostError::kNone; ++i) {
            const int number = config->interface[i].altsetting[0].bInterfaceNumber;
            error = FromLibusb(libusb_claim_interface(handle_, number));
            if (error == HostError::kNone) {
                claimed_.push_back(number);
            }
        }
        libusb_free_config_descriptor(config);
        return error;
    }

    std::string StringDescriptor(uint8_t index) override {
        unsigned char text[256];
        const int n = libusb_get_string_descriptor_ascii(handle_, index, text, sizeof text);
        return n > 0 ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n))
                     : std::string();
    }

    HostError Submit(HostTransfer transfer, uint64_t& token) override {
        libusb_transfer* t = libusb_alloc_transfer(0);
        if (t == nullptr) {
            return HostError::kOther;
        }
        auto record = std::make_unique<Record>(Record{this, 0, std::move(transfer.done)});
        unsigned char* data = transfer.buffer.data();
        const int length = static_cast<int>(transfer.buffer.size());
        switch (transfer.type) {
            case HostTransferType::kControl:
                libusb_fill_control_transfer(t, handle_, data, &LibusbHandle::Done, record.get(),
                                             transfer.timeout_ms);
                break;
            case HostTransferType::kBulk:
                libusb_fill_bulk_transfer(t, handle_, transfer.endpoint, data, length,
                                          &LibusbHandle::Done, record.get(), transfer.timeout_ms);
                break;
            case HostTransferType::kInterrupt:
                libusb_fill_interrupt_transfer(t, handle_, transfer.endpoint, data, length,
                                               &LibusbHandle::Done, record.get(),
                                               transfer.timeout_ms);
                break;
        }
        std::lock_guard lock(mutex_);
        record->token = next_token_++;
        const int error = libusb_submit_transfer(t);
        if (error != LIBUSB_SUCCESS) {
            libusb_free_transfer(t);
            return FromLibusb(error);
        }
        token = record->token;
        flying_[token] = t;
        static_cast<void>(record.release());  // freed by Done
        return HostError::kNone;
    }

    void Cancel(uint64_t token) override {
        // Under the lock: Done removes the transfer before freeing it, so a token still listed
        // names a live transfer.
        std::lock_guard lock(mutex_);
        const auto it = flying_.find(token);
        if (it != flying_.end()) {
            libusb_cancel_transfer(it->second);
        }
    }

private:
    struct Record {
        LibusbHandle* owner;
        uint64_t token;
        std::function<void(HostStatus, uint32_t)> done;
    };

    static void LIBUSB_CALL Done(libusb_transfer* t) {
        std::unique_ptr<Record> record(static_cast<Record*>(t->user_data));
        {
            std::lock_guard lock(record->owner->mutex_);
            record->owner->flying_.erase(record->token);
        }
        const HostStatus status = FromLibusb(t->status);
        const auto actual = static_cast<uint32_t>(t->actual_length > 0 ? t->actual_length : 0);
        libusb_free_transfer(t);
        record->done(status, actual);  // the owner may be gone once the last one has run
    }

    libusb_device_handle* handle_;
    std::vector<int> claimed_;
    std::mutex mutex_;
    std::map<uint64_t, libusb_transfer*> flying_;
    uint64_t next_token_ = 1;
};

class LibusbHost final : public UsbHost {
public:
    explicit LibusbHost(libusb_context* context) : context_(context) {
        events_ = std::thread([this] {
            while (!stopping_.load(std::memory_order_acquire)) {
                timeval wait{1, 0};
                libusb_handle_events_timeout_completed(context_, &wait, nullptr);
            }
        });
    }
    ~LibusbHost() override {
        if (hotplug_registered_) {
            libusb_hotplug_deregister_callback(context_, hotplug_);
        }
        stopping_.store(true, std::memory_order_release);
        libusb_interrupt_event_handler(context_);
        events_.join();
        libusb_exit(context_);
    }

    std::vector<HostDevice> Devices() override {
        std::vector<HostDevice> devices;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context_, &list);
        for (ssize_t i = 0; i < n; ++i) {
            devices.push_back(Describe(list[i]));
        }
        if (list != nullptr) {
            libusb_free_device_list(list, 1);
        }
        return devices;
    }

    std::unique_ptr<UsbHostHandle> Open(uint8_t bus, uint8_t address, HostError& error) override {
        error = HostError::kNotFound;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context_, &list);
        std::unique_ptr<UsbHostHandle> opened;
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_bus_number(list[i]) == bus &&
                libusb_get_device_address(list[i]) == address) {
                libusb_device_handle* handle = nullptr;
                error = FromLibusb(libusb_open(list[i], &handle));
                if (error == HostError::kNone) {
                    opened = std::make_unique<LibusbHandle>(handle);
                }
                break;
            }
        }
        if (list != nullptr) {
            libusb_free_device_list(list, 1);
        }
        return opened;
    }

    bool WatchHotplug(std::function<void(bool, const HostDevice&)> notice) override {
        if (hotplug_registered_ || libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
            return false;
        }
        notice_ = std::move(notice);
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        hotplug_registered_ =
            libusb_hotplug_register_callback(
                context_, static_cast<libusb_hotplug_event>(events), LIBUSB_HOTPLUG_NO_FLAGS,
                LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                &LibusbHost::OnHotplug, this, &hotplug_) == LIBUSB_SUCCESS;
        return hotplug_registered_;
    }

    uint32_t LibraryVersion() const override {
        const libusb_version* v = libusb_get_version();
        return (static_cast<uint32_t>(v->major) << 24) | (static_cast<uint32_t>(v->minor) << 16) |
               (v->micro & 0xFFFF);
    }

private:
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* user) {
        auto* self = static_cast<LibusbHost*>(user);
        self->notice_(event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, Describe(device));
        return 0;  // stay registered
    }

    libusb_context* context_;
    std::atomic<bool> stopping_{false};
    std::thread events_;
    std::function<void(bool, const HostDevice&)> notice_;
    libusb_hotplug_callback_handle hotplug_ = 0;
    bool hotplug_registered_ = false;
};

}  // namespace

std::unique_ptr<UsbHost> MakeLibusbHost(std::string& error) {
    libusb_context* context = nullptr;
    const int result = libusb_init(&context);
    if (result != LIBUSB_SUCCESS) {
        error = std::string("libusb cannot start: ") + libusb_strerror(result);
        return nullptr;
    }
    return std::make_unique<LibusbHost>(context);
}

}  // namespace tavrel
