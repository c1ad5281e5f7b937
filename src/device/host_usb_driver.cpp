#include "device/host_usb_driver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <optional>

#include "device/driver_requests.h"

namespace tavrel {
namespace {

constexpr const char* kPathPrefix = "usb:";
// How long an abort or a close waits for the host to give the cancelled transfers back.
constexpr auto kCancelWait = std::chrono::milliseconds(5000);
constexpr uint32_t kValueTimeoutMs = 1000;
constexpr uint8_t kHubClass = 9;
constexpr uint8_t kGetInterface = 10;

// USB status words a buffered request's header carries back.
constexpr uint32_t kUsbStatusStall = 0xC0000004;
constexpr uint32_t kUsbStatusOverrun = 0xC000000C;
constexpr uint32_t kUsbStatusTimeout = 0xC0006000;
constexpr uint32_t kUsbStatusDeviceGone = 0xC0007000;
constexpr uint32_t kUsbStatusCancelled = 0xC0010000;
constexpr uint32_t kUsbStatusError = 0xC0000011;

uint32_t UsbStatus(HostStatus status) {
    switch (status) {
        case HostStatus::kCompleted:
            return 0;
        case HostStatus::kStall:
            return kUsbStatusStall;
        case HostStatus::kOverflow:
            return kUsbStatusOverrun;
        case HostStatus::kTimedOut:
            return kUsbStatusTimeout;
        case HostStatus::kNoDevice:
            return kUsbStatusDeviceGone;
        case HostStatus::kCancelled:
            return kUsbStatusCancelled;
        case HostStatus::kError:
            break;
    }
    return kUsbStatusError;
}

uint32_t ErrorCode(HostError error) {
    switch (error) {
        case HostError::kNone:
            return kErrorSuccess;
        case HostError::kAccess:
            return kErrorAccessDenied;
        case HostError::kNoDevice:
            return kErrorDeviceNotConnected;
        case HostError::kBusy:
            return kErrorBusy;
        case HostError::kNotSupported:
            return kErrorNotSupported;
        case HostError::kNotFound:
            return kErrorInvalidParameter;
        case HostError::kOther:
            break;
    }
    return kErrorGenFailure;
}

std::string Ids(const HostDevice& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", d.vendor_id, d.product_id);
    return text;
}

std::string Location(const HostDevice& d) {
    std::string text = "bus " + std::to_string(d.bus);
    if (d.ports.empty()) {
        return text + ", address " + std::to_string(d.address);
    }
    text += ", port ";
    for (size_t i = 0; i < d.ports.size(); ++i) {
        if (i != 0) {
            text += '.';
        }
        text += std::to_string(d.ports[i]);
    }
    return text;
}

std::string PathOf(const HostDevice& d) {
    return kPathPrefix + std::to_string(d.bus) + ":" + std::to_string(d.address);
}

bool ParseHex16(std::string_view text, uint16_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 4) {
        return false;
    }
    uint32_t v = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) {
            return false;
        }
        v = v * 16 + static_cast<uint32_t>(digit);
    }
    value = static_cast<uint16_t>(v);
    return true;
}

}  // namespace

std::vector<UsbId> ParseUsbIds(std::string_view text, std::vector<std::string>* rejected) {
    std::vector<UsbId> ids;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of(", \t", pos);
        const std::string_view entry =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        if (entry.empty()) {
            continue;
        }
        const size_t colon = entry.find(':');
        UsbId id;
        if (colon != std::string_view::npos && ParseHex16(entry.substr(0, colon), id.vendor) &&
            ParseHex16(entry.substr(colon + 1), id.product)) {
            ids.push_back(id);
        } else if (rejected != nullptr) {
            rejected->emplace_back(entry);
        }
    }
    return ids;
}

// One open device. The transfers in flight are kept in a block shared with their completion
// functions, so that a completion arriving late never reaches a destroyed handle.
class HostUsbDriver::Handle final : public UsbDriverHandle {
public:
    // Without `host` the device could not be opened for lack of permission.
    Handle(HostDevice device, std::unique_ptr<UsbHostHandle> host, uint32_t library_version)
        : device_(std::move(device)),
          host_(std::move(host)),
          library_version_(library_version),
          flight_(std::make_shared<Flight>()) {
        if (!host_) {
            device_name_ = "USB " + Ids(device_) + " (" + Location(device_) +
                           "): no permission, install the udev rule";
            friendly_name_ = device_name_;
            return;
        }
        const std::string product =
            device_.product_index != 0 ? host_->StringDescriptor(device_.product_index) : "";
        const std::string maker = device_.manufacturer_index != 0
                                      ? host_->StringDescriptor(device_.manufacturer_index)
                                      : "";
        device_name_ =
            (product.empty() ? "USB " + Ids(device_) : product) + " (" + Location(device_) + ")";
        friendly_name_ = maker.empty() ? product : product.empty() ? maker : maker + " " + product;
        friendly_name_ += (friendly_name_.empty() ? "USB " : " [") + Ids(device_) +
                          (friendly_name_.empty() ? "" : "]");
    }
    ~Handle() override { Close(); }

    bool Request(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                 uint32_t& returned) override;
    uint32_t Begin(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                   Overlapped& overlapped) override;
    bool Close() override;

    const HostDevice& Device() const { return device_; }

private:
    struct InFlight {
        uint8_t endpoint = 0;
        uint64_t token = 0;
    };
    struct Flight {
        std::mutex mutex;
        std::condition_variable changed;
        std::map<uint64_t, InFlight> transfers;
        uint64_t next = 1;
        bool closed = false;
    };

    uint32_t Submit(HostTransfer transfer);
    // Cancels the transfers of one endpoint (all when none) and waits until the host has
    // given them back; false when it did not within the wait.
    bool CancelAndWait(std::optional<uint8_t> endpoint);
    uint32_t BeginControl(const SingleTransfer& header, std::span<const uint8_t> in,
                          std::span<uint8_t> out, Overlapped& overlapped);
    uint32_t BeginData(const SingleTransfer& header, std::span<const uint8_t> in,
                       std::span<uint8_t> out, Overlapped& overlapped, bool buffered);
    const HostEndpoint* FindEndpoint(uint8_t address) const;
    HostError Claim();
    uint8_t AlternateSetting();

    const HostDevice device_;
    std::unique_ptr<UsbHostHandle> host_;
    const uint32_t library_version_;
    std::string device_name_;
    std::string friendly_name_;
    std::shared_ptr<Flight> flight_;
    std::mutex claim_mutex_;
    bool claimed_ = false;
    std::map<uint8_t, uint32_t> transfer_sizes_;  // under claim_mutex_
};

uint32_t HostUsbDriver::Handle::Submit(HostTransfer transfer) {
    std::lock_guard lock(flight_->mutex);
    if (flight_->closed) {
        return kErrorGenFailure;
    }
    const uint64_t id = flight_->next++;
    const uint8_t endpoint = transfer.endpoint;
    transfer.done = [flight = flight_, id, done = std::move(transfer.done)](HostStatus status,
                                                                            uint32_t actual) {
        done(status, actual);
        std::lock_guard done_lock(flight->mutex);
        flight->transfers.erase(id);
        flight->changed.notify_all();
    };
    uint64_t token = 0;
    // Submitted under the lock: a completion that comes at once waits until the transfer is
    // on the list it removes it from.
    const HostError error = host_->Submit(std::move(transfer), token);
    if (error != HostError::kNone) {
        return ErrorCode(error);
    }
    flight_->transfers[id] = {endpoint, token};
    return kErrorIoPending;
}

bool HostUsbDriver::Handle::CancelAndWait(std::optional<uint8_t> endpoint) {
    const auto matches = [&](const InFlight& t) { return !endpoint || t.endpoint == *endpoint; };
    std::vector<uint64_t> tokens;
    {
        std::lock_guard lock(flight_->mutex);
        for (const auto& [id, t] : flight_->transfers) {
            if (matches(t)) {
                tokens.push_back(t.token);
            }
        }
    }
    for (uint64_t token : tokens) {
        host_->Cancel(token);
    }
    std::unique_lock lock(flight_->mutex);
    return flight_->changed.wait_for(lock, kCancelWait, [&] {
        return std::none_of(flight_->transfers.begin(), flight_->transfers.end(),
                            [&](const auto& entry) { return matches(entry.second); });
    });
}

bool HostUsbDriver::Handle::Close() {
    {
        std::lock_guard lock(flight_->mutex);
        if (flight_->closed) {
            return false;
        }
        flight_->closed = true;
    }
    if (!host_) {
        return true;
    }
    if (!CancelAndWait(std::nullopt)) {
        // The host still holds transfers whose buffers it may write: closing under them could
        // corrupt memory, so the host handle is given up instead.
        static_cast<void>(host_.release());
        return false;
    }
    host_.reset();  // releases the interfaces, the kernel driver comes back
    return true;
}

const HostEndpoint* HostUsbDriver::Handle::FindEndpoint(uint8_t address) const {
    const auto it = std::find_if(device_.endpoints.begin(), device_.endpoints.end(),
                                 [&](const HostEndpoint& e) { return e.address == address; });
    return it == device_.endpoints.end() ? nullptr : &*it;
}

// Claimed at the first transfer on a data endpoint rather than at open: listing the devices
// opens each one, and that must not take a device from the kernel driver bound to it.
HostError HostUsbDriver::Handle::Claim() {
    std::lock_guard lock(claim_mutex_);
    if (claimed_) {
        return HostError::kNone;
    }
    const HostError error = host_->ClaimInterfaces();
    claimed_ = error == HostError::kNone;
    return error;
}

uint8_t HostUsbDriver::Handle::AlternateSetting() {
    const uint8_t itf = device_.endpoints.empty() ? 0 : device_.endpoints.front().interface;
    auto buffer = std::make_shared<std::vector<uint8_t>>(
        std::initializer_list<uint8_t>{0x81, kGetInterface, 0, 0, itf, 0, 1, 0, 0});
    auto overlapped = std::make_shared<Overlapped>();
    HostTransfer t;
    t.type = HostTransferType::kControl;
    t.buffer = *buffer;
    t.timeout_ms = kValueTimeoutMs;
    t.done = [buffer, overlapped](HostStatus status, uint32_t actual) {
        overlapped->Complete(actual, status == HostStatus::kCompleted);
    };
    if (Submit(std::move(t)) != kErrorIoPending) {
        return 0;
    }
    uint32_t got = 0;
    // The transfer has its own timeout; the wait only guards against a host that loses it.
    if (!overlapped->Wait(2 * kValueTimeoutMs) || !overlapped->Result(got) || got != 1) {
        return 0;
    }
    return (*buffer)[8];
}

bool HostUsbDriver::Handle::Request(uint32_t code, std::span<const uint8_t> in,
                                    std::span<uint8_t> out, uint32_t& returned) {
    returned = 0;
    {
        std::lock_guard lock(flight_->mutex);
        if (flight_->closed) {
            return false;
        }
    }
    if (code == ioctl::kDeviceName) {
        returned = PutReplyText(out, device_name_);
        return true;
    }
    if (code == ioctl::kFriendlyName) {
        returned = PutReplyText(out, friendly_name_);
        return true;
    }
    if (!host_) {
        return false;
    }
    switch (code) {
        case ioctl::kDriverVersion:
            returned = PutReplyValue(out, kHostDriverVersion, 4);
            return true;
        case ioctl::kUsbdiVersion:
            returned = PutReplyValue(out, library_version_, 4);
            return true;
        case ioctl::kAlternateSetting:
            returned = PutReplyValue(out, AlternateSetting(), 1);
            return true;
        case ioctl::kDeviceAddress:
            returned = PutReplyValue(out, device_.address, 1);
            return true;
        case ioctl::kSpeed:
            returned = PutReplyValue(out, device_.speed, 4);
            return true;
        case ioctl::kSetTransferSize: {
            if (in.size() < 5) {
                return false;
            }
            const HostEndpoint* ep = FindEndpoint(in[0]);
            if (ep == nullptr || Claim() != HostError::kNone) {
                return false;
            }
            std::lock_guard lock(claim_mutex_);
            transfer_sizes_[in[0]] = static_cast<uint32_t>(in[1] | (in[2] << 8) | (in[3] << 16) |
                                                           (static_cast<uint32_t>(in[4]) << 24));
            return true;
        }
        case ioctl::kAbortPipe:
            return !in.empty() && CancelAndWait(in[0]);
        case ioctl::kControlTransfer:
        case ioctl::kBufferedTransfer:
        case ioctl::kDirectTransfer: {
            Overlapped overlapped;
            const uint32_t error = Begin(code, in, out, overlapped);
            if (error != kErrorIoPending && error != kErrorSuccess) {
                return false;
            }
            overlapped.Wait(0xFFFFFFFF);
            return overlapped.Result(returned);
        }
        default:
            return false;
    }
}

uint32_t HostUsbDriver::Handle::Begin(uint32_t code, std::span<const uint8_t> in,
                                      std::span<uint8_t> out, Overlapped& overlapped) {
    if (!host_) {
        return kErrorAccessDenied;
    }
    const auto header = ReadSingleTransfer(in);
    if (!header) {
        return kErrorInvalidParameter;
    }
    switch (code) {
        case ioctl::kControlTransfer:
            return BeginControl(*header, in, out, overlapped);
        case ioctl::kBufferedTransfer:
            return BeginData(*header, in, out, overlapped, true);
        case ioctl::kDirectTransfer:
            return BeginData(*header, in, out, overlapped, false);
        default:
            return kErrorInvalidParameter;
    }
}

uint32_t HostUsbDriver::Handle::BeginControl(const SingleTransfer& header,
                                             std::span<const uint8_t> in, std::span<uint8_t> out,
                                             Overlapped& overlapped) {
    const size_t length = header.length;
    const bool to_host = (header.request_type & 0x80) != 0;
    if (out.size() < SingleTransfer::kSize + length ||
        (!to_host && in.size() < SingleTransfer::kSize + length)) {
        return kErrorInvalidParameter;
    }
    auto buffer = std::make_shared<std::vector<uint8_t>>(8 + length);
    auto& b = *buffer;
    b[0] = header.request_type;
    b[1] = header.request;
    b[2] = static_cast<uint8_t>(header.value);
    b[3] = static_cast<uint8_t>(header.value >> 8);
    b[4] = static_cast<uint8_t>(header.index);
    b[5] = static_cast<uint8_t>(header.index >> 8);
    b[6] = static_cast<uint8_t>(length);
    b[7] = static_cast<uint8_t>(length >> 8);
    if (!to_host) {
        std::copy_n(in.begin() + SingleTransfer::kSize, length, b.begin() + 8);
    }
    HostTransfer t;
    t.type = HostTransferType::kControl;
    t.buffer = b;
    t.timeout_ms = header.timeout_s * 1000;
    t.done = [buffer, out, &overlapped, header, to_host](HostStatus status, uint32_t actual) {
        actual = std::min<uint32_t>(actual, header.length);
        if (to_host && status == HostStatus::kCompleted) {
            std::copy_n(buffer->begin() + 8, actual, out.begin() + SingleTransfer::kSize);
        }
        SingleTransfer reply = header;
        reply.usb_status = UsbStatus(status);
        WriteSingleTransfer(out, reply);
        overlapped.Complete(static_cast<uint32_t>(SingleTransfer::kSize) + actual,
                            status == HostStatus::kCompleted);
    };
    return Submit(std::move(t));
}

uint32_t HostUsbDriver::Handle::BeginData(const SingleTransfer& header, std::span<const uint8_t> in,
                                          std::span<uint8_t> out, Overlapped& overlapped,
                                          bool buffered) {
    const HostEndpoint* ep = FindEndpoint(header.endpoint);
    if (ep == nullptr) {
        return kErrorInvalidParameter;
    }
    const uint8_t kind = ep->attributes & 3;
    if (kind == 1) {
        return kErrorNotSupported;  // isochronous: no tuner streams that way
    }
    if (kind == 0) {
        return kErrorInvalidParameter;
    }
    std::span<uint8_t> data = out;
    if (buffered) {
        const size_t end = SingleTransfer::kSize + size_t{header.data_length};
        const bool sends = (ep->address & 0x80) == 0;
        if (out.size() < end || (sends && in.size() < end)) {
            return kErrorInvalidParameter;
        }
        data = out.subspan(SingleTransfer::kSize, header.data_length);
        if (sends && in.data() != out.data()) {
            std::copy_n(in.begin() + SingleTransfer::kSize, header.data_length, data.begin());
        }
    }
    if (const HostError error = Claim(); error != HostError::kNone) {
        return ErrorCode(error);
    }
    HostTransfer t;
    t.type = kind == 3 ? HostTransferType::kInterrupt : HostTransferType::kBulk;
    t.endpoint = ep->address;
    t.buffer = data;
    // No timeout of its own: the reader decides how long to wait and aborts the pipe.
    t.timeout_ms = 0;
    t.done = [out, &overlapped, header, buffered](HostStatus status, uint32_t actual) {
        uint32_t bytes = actual;
        if (buffered) {
            SingleTransfer reply = header;
            reply.usb_status = UsbStatus(status);
            WriteSingleTransfer(out, reply);
            bytes += static_cast<uint32_t>(SingleTransfer::kSize);
        }
        overlapped.Complete(bytes, status == HostStatus::kCompleted);
    };
    return Submit(std::move(t));
}

HostUsbDriver::HostUsbDriver(std::unique_ptr<UsbHost> host, std::vector<UsbId> extra_ids,
                             std::string interface_class)
    : host_(std::move(host)),
      extra_ids_(std::move(extra_ids)),
      interface_class_(std::move(interface_class)) {
    hotplug_ = host_->WatchHotplug(
        [this](bool arrival, const HostDevice& device) { OnHotplug(arrival, device); });
}

HostUsbDriver::~HostUsbDriver() {
    host_.reset();
}

bool HostUsbDriver::IsTuner(const HostDevice& d) const {
    if (std::find(extra_ids_.begin(), extra_ids_.end(), UsbId{d.vendor_id, d.product_id}) !=
        extra_ids_.end()) {
        return true;
    }
    const bool fx2_vendor = std::find(std::begin(kFx2Vendors), std::end(kFx2Vendors),
                                      d.vendor_id) != std::end(kFx2Vendors);
    const bool bulk_in = std::any_of(d.endpoints.begin(), d.endpoints.end(), [](const auto& e) {
        return (e.address & 0x80) != 0 && (e.attributes & 3) == 2;
    });
    return fx2_vendor && d.device_class != kHubClass && bulk_in;
}

std::vector<HostDevice> HostUsbDriver::Tuners() {
    std::vector<HostDevice> tuners = host_->Devices();
    std::erase_if(tuners, [this](const HostDevice& d) { return !IsTuner(d); });
    // By place, so that the indices stay put while nothing is plugged or unplugged.
    std::sort(tuners.begin(), tuners.end(), [](const HostDevice& a, const HostDevice& b) {
        return std::tie(a.bus, a.ports, a.address) < std::tie(b.bus, b.ports, b.address);
    });
    return tuners;
}

int HostUsbDriver::InterfaceCount(const std::string& interface_class) {
    return interface_class == interface_class_ ? static_cast<int>(Tuners().size()) : 0;
}

std::optional<std::string> HostUsbDriver::InterfacePath(const std::string& interface_class,
                                                        int index) {
    if (interface_class != interface_class_ || index < 0) {
        return std::nullopt;
    }
    const auto tuners = Tuners();
    if (static_cast<size_t>(index) >= tuners.size()) {
        return std::nullopt;
    }
    return PathOf(tuners[static_cast<size_t>(index)]);
}

std::unique_ptr<UsbDriverHandle> HostUsbDriver::OpenPath(const std::string& path) {
    for (const HostDevice& d : Tuners()) {
        if (PathOf(d) != path) {
            continue;
        }
        HostError error = HostError::kNone;
        auto host_handle = host_->Open(d.bus, d.address, error);
        if (host_handle) {
            return std::make_unique<Handle>(d, std::move(host_handle), host_->LibraryVersion());
        }
        if (error == HostError::kAccess) {
            return std::make_unique<Handle>(d, nullptr, host_->LibraryVersion());
        }
        return nullptr;
    }
    return nullptr;
}

NotificationId HostUsbDriver::RegisterClassNotification(const std::string& interface_class,
                                                        DeviceNotificationRecipient* recipient) {
    if (recipient == nullptr || interface_class != interface_class_) {
        return 0;
    }
    std::lock_guard lock(registrations_mutex_);
    registrations_[next_registration_] = {recipient, true, 0, 0};
    return next_registration_++;
}

NotificationId HostUsbDriver::RegisterHandleNotification(UsbDriverHandle& handle,
                                                         DeviceNotificationRecipient* recipient) {
    const auto* ours = dynamic_cast<const Handle*>(&handle);
    if (ours == nullptr || recipient == nullptr) {
        return 0;
    }
    std::lock_guard lock(registrations_mutex_);
    registrations_[next_registration_] = {recipient, false, ours->Device().bus,
                                          ours->Device().address};
    return next_registration_++;
}

bool HostUsbDriver::Unregister(NotificationId id) {
    std::lock_guard lock(registrations_mutex_);
    return registrations_.erase(id) == 1;
}

void HostUsbDriver::OnHotplug(bool arrival, const HostDevice& device) {
    const bool tuner = IsTuner(device);
    std::lock_guard lock(registrations_mutex_);
    for (const auto& [id, r] : registrations_) {
        const bool concerned =
            r.whole_class ? tuner : !arrival && r.bus == device.bus && r.address == device.address;
        if (concerned) {
            r.recipient->OnDeviceChange(arrival);
        }
    }
}

}  // namespace tavrel
