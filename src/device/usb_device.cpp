#include "device/usb_device.h"

#include <algorithm>
#include <cstring>

#include "device/driver_requests.h"
#include "ts/byte_reader.h"

namespace tavrel {

namespace {

constexpr uint32_t kDescriptorTimeoutMs = 5000;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint16_t kDeviceDescriptor = 0x0100;
constexpr uint16_t kConfigurationDescriptor = 0x0200;
constexpr uint16_t kStringDescriptor = 0x0300;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr size_t kIsoPacketEntry = 8;

}  // namespace

UsbEndpoint::UsbEndpoint(UsbDriverHandle& handle, std::span<const uint8_t> descriptor,
                         uint32_t driver_version)
    : handle_(handle) {
    ByteReader r(descriptor);
    descriptor_length = r.U8();
    descriptor_type = r.U8();
    address = r.U8();
    attributes = r.U8();
    const uint16_t packet = r.U16LE();
    interval = r.U8();
    transactions = static_cast<uint16_t>(1 + ((packet >> 11) & 3));
    max_packet_size = static_cast<uint16_t>((packet & 0x7FF) * transactions);
    in = (address & 0x80) != 0;
    direct = driver_version >= kDirectTransferDriverVersion;
}

std::unique_ptr<UsbEndpoint> UsbEndpoint::Control(UsbDriverHandle& handle, uint16_t max_packet) {
    std::unique_ptr<UsbEndpoint> ep(new UsbEndpoint(handle));
    ep->descriptor_length = 7;
    ep->descriptor_type = 5;
    ep->max_packet_size = max_packet;
    ep->transactions = 1;
    return ep;
}

std::unique_ptr<TransferContext> UsbEndpoint::BeginTransfer(std::span<uint8_t> buffer,
                                                            Overlapped& overlapped) {
    auto context = std::make_unique<TransferContext>();
    const auto length = static_cast<uint32_t>(buffer.size());
    SingleTransfer header;
    uint32_t code = 0;
    std::span<uint8_t> out;
    if (Kind() == EndpointKind::kControl) {
        header.request_type =
            static_cast<uint8_t>((direction << 7) | ((type & 3) << 5) | (target & 0x1F));
        header.request = request;
        header.value = value;
        header.index = index;
        header.length = static_cast<uint16_t>(length);
        header.timeout_s = timeout_ms == 0 ? 0 : std::max<uint32_t>(1, timeout_ms / 1000);
        context->in = direction != 0;
    } else {
        header.endpoint = address;
        context->in = in;
    }
    const bool with_data = Kind() == EndpointKind::kControl || !direct;
    uint32_t iso_packets = 0;
    if (Kind() == EndpointKind::kIsochronous && max_packet_size > 0) {
        iso_packets = (length + max_packet_size - 1) / max_packet_size;
    }
    if (with_data) {
        header.data_offset = SingleTransfer::kSize;
        header.data_length = length;
    }
    if (iso_packets > 0) {
        header.iso_table_offset = SingleTransfer::kSize + (with_data ? length : 0);
        header.iso_table_length = iso_packets * kIsoPacketEntry;
    }
    AppendSingleTransfer(context->block, header);
    if (with_data) {
        context->buffered = true;
        if (context->in) {
            context->block.resize(context->block.size() + length);
        } else {
            context->block.insert(context->block.end(), buffer.begin(), buffer.end());
        }
        code =
            Kind() == EndpointKind::kControl ? ioctl::kControlTransfer : ioctl::kBufferedTransfer;
    } else {
        code = ioctl::kDirectTransfer;
        out = buffer;
    }
    context->block.resize(context->block.size() + header.iso_table_length);
    if (context->buffered) {
        out = context->block;
    }
    const uint32_t error = handle_.Begin(code, context->block, out, overlapped);
    context->begin_error = error;
    last_error.store(error, std::memory_order_relaxed);
    return context;
}

bool UsbEndpoint::WaitTransfer(const TransferContext& context, Overlapped& overlapped,
                               uint32_t timeout_ms_) {
    if (context.begin_error == kErrorSuccess) {
        return true;
    }
    if (context.begin_error == kErrorIoPending) {
        return overlapped.Wait(timeout_ms_);
    }
    return false;
}

bool UsbEndpoint::FinishTransfer(std::span<uint8_t> buffer, uint32_t& length,
                                 Overlapped& overlapped, std::unique_ptr<TransferContext> context) {
    length = 0;
    if (!context) {
        return false;
    }
    uint32_t bytes = 0;
    const bool began =
        context->begin_error == kErrorSuccess || context->begin_error == kErrorIoPending;
    const bool ok = began && overlapped.Result(bytes);
    // The driver writes its status words into the header of a buffered block.
    const auto header = ReadSingleTransfer(context->block);
    const uint32_t driver_status = header ? header->driver_status : 0;
    const uint32_t usb_status = header ? header->usb_status : 0;
    if (context->buffered) {
        bytes = bytes > SingleTransfer::kSize ? bytes - SingleTransfer::kSize : 0;
        bytes = std::min<uint32_t>(bytes, static_cast<uint32_t>(buffer.size()));
        if (ok && context->in && bytes > 0) {
            std::memcpy(buffer.data(), context->block.data() + SingleTransfer::kSize, bytes);
        }
    }
    length = ok ? bytes : 0;
    last_driver_status.store(driver_status, std::memory_order_relaxed);
    last_usb_status.store(usb_status, std::memory_order_relaxed);
    bytes_transferred.store(length, std::memory_order_relaxed);
    return ok && driver_status == 0 && usb_status == 0;
}

bool UsbEndpoint::TransferSync(std::span<uint8_t> buffer, uint32_t& length) {
    Overlapped overlapped;
    auto context = BeginTransfer(buffer.first(std::min<size_t>(length, buffer.size())), overlapped);
    bool waited = WaitTransfer(*context, overlapped, timeout_ms);
    if (!waited && context->begin_error == kErrorIoPending) {
        // The buffer must not be handed back while the driver may still write into it.
        AbortPipe();
        overlapped.Wait(0xFFFFFFFF);
    }
    const bool finished = FinishTransfer(buffer, length, overlapped, std::move(context));
    return waited && finished;
}

bool UsbEndpoint::AbortPipe() {
    uint8_t ep = address;
    uint32_t returned = 0;
    return handle_.Request(ioctl::kAbortPipe, {&ep, 1}, {&ep, 1}, returned);
}

bool UsbEndpoint::SetTransferSize(uint32_t bytes) {
    if (max_packet_size > 0 && bytes % max_packet_size != 0) {
        bytes += max_packet_size - bytes % max_packet_size;
    }
    uint8_t block[5] = {address, static_cast<uint8_t>(bytes), static_cast<uint8_t>(bytes >> 8),
                        static_cast<uint8_t>(bytes >> 16), static_cast<uint8_t>(bytes >> 24)};
    uint32_t returned = 0;
    return handle_.Request(ioctl::kSetTransferSize, block, block, returned);
}

UsbDevice::UsbDevice(UsbDriver& driver, DeviceNotificationRecipient* recipient,
                     std::string interface_class, bool open)
    : driver_(driver), recipient_(recipient), interface_class_(std::move(interface_class)) {
    if (recipient_ != nullptr) {
        class_notification_ = driver_.RegisterClassNotification(interface_class_, recipient_);
    }
    if (open) {
        Open(0);
    }
}

UsbDevice::~UsbDevice() {
    Close();
    if (class_notification_ != 0) {
        driver_.Unregister(class_notification_);
    }
}

uint8_t UsbDevice::DeviceCount() {
    return static_cast<uint8_t>(std::clamp(driver_.InterfaceCount(interface_class_), 0, 255));
}

bool UsbDevice::Close() {
    bool ok = true;
    if (handle_notification_ != 0) {
        ok = driver_.Unregister(handle_notification_) && ok;
        handle_notification_ = 0;
    }
    endpoints_.clear();
    bulk_in = bulk_out = interrupt_in = interrupt_out = iso_in = iso_out = nullptr;
    configurations_.clear();
    control_.reset();
    if (handle_) {
        ok = handle_->Close() && ok;
        handle_.reset();
    }
    ResetValues();
    return ok;
}

void UsbDevice::ResetValues() {
    device_number = 0;
    descriptor = {};
    language = 0;
    manufacturer.clear();
    product.clear();
    serial_number.clear();
    device_name.clear();
    friendly_name.clear();
    driver_version = usbdi_version = 0;
    device_address = alternate_setting = 0;
    high_speed = false;
    configuration_descriptors.clear();
}

bool UsbDevice::Request(uint32_t code, std::span<uint8_t> buffer) {
    bytes_returned_ = 0;
    if (!handle_) {
        return false;
    }
    return handle_->Request(code, buffer, buffer, bytes_returned_);
}

uint32_t UsbDevice::RequestValue(uint32_t code, size_t size) {
    uint8_t bytes[4] = {};
    if (!Request(code, {bytes, size}) || bytes_returned_ == 0) {
        return 0;
    }
    ByteReader r(std::span<const uint8_t>(bytes, size));
    return size == 1 ? r.U8() : r.U32LE();
}

std::string UsbDevice::RequestText(uint32_t code) {
    std::vector<uint8_t> bytes(256);
    if (!Request(code, bytes) || bytes_returned_ == 0) {
        return {};
    }
    const auto end =
        std::find(bytes.begin(), bytes.begin() + std::min<size_t>(bytes_returned_, 256), 0);
    return std::string(bytes.begin(), end);
}

std::vector<uint8_t> UsbDevice::ReadDescriptor(uint16_t value, uint16_t index, uint16_t length) {
    control_->target = 0;
    control_->type = 0;
    control_->direction = 1;
    control_->request = kGetDescriptor;
    control_->value = value;
    control_->index = index;
    control_->timeout_ms = kDescriptorTimeoutMs;
    std::vector<uint8_t> bytes(length);
    uint32_t got = length;
    if (length == 0 || !control_->TransferSync(bytes, got)) {
        return {};
    }
    bytes.resize(got);
    return bytes;
}

std::u16string UsbDevice::ReadString(uint8_t index) {
    const uint16_t value = static_cast<uint16_t>(kStringDescriptor + index);
    const auto head = ReadDescriptor(value, language, 2);
    if (head.size() < 2) {
        return {};
    }
    const auto whole = ReadDescriptor(value, language, head[0]);
    if (whole.size() <= 2 || whole[0] <= 2 || whole[1] != 3) {
        return {};
    }
    std::u16string text;
    ByteReader r(
        std::span<const uint8_t>(whole).subspan(2, std::min<size_t>(whole[0], whole.size()) - 2));
    while (r.Has(2)) {
        text.push_back(static_cast<char16_t>(r.U16LE()));
    }
    return text;
}

bool UsbDevice::Open(int index) {
    Close();
    if (index < 0 || index >= DeviceCount()) {
        return false;
    }
    const auto path = driver_.InterfacePath(interface_class_, index);
    if (path) {
        handle_ = driver_.OpenPath(*path);
    }
    if (!handle_) {
        return false;
    }
    device_number = index;
    // Descriptors go through endpoint 0 before its packet size is known.
    control_ = UsbEndpoint::Control(*handle_, 64);

    const auto dev = ReadDescriptor(kDeviceDescriptor, 0, 18);
    if (dev.size() >= 18) {
        ByteReader r(dev);
        r.Skip(2);
        descriptor.usb_version = r.U16LE();
        descriptor.device_class = r.U8();
        descriptor.subclass = r.U8();
        descriptor.protocol = r.U8();
        descriptor.max_packet0 = r.U8();
        descriptor.vendor_id = r.U16LE();
        descriptor.product_id = r.U16LE();
        descriptor.release = r.U16LE();
        descriptor.manufacturer_index = r.U8();
        descriptor.product_index = r.U8();
        descriptor.serial_index = r.U8();
        descriptor.configurations = r.U8();
    }

    // Languages: 0x0409 when listed, else the first one.
    const auto head = ReadDescriptor(kStringDescriptor, 0, 2);
    if (head.size() == 2) {
        const auto langs = ReadDescriptor(kStringDescriptor, 0, head[0]);
        ByteReader r(langs);
        r.Skip(2);
        while (r.Has(2)) {
            const uint16_t lang = r.U16LE();
            if (language == 0 || lang == kEnglishUs) {
                language = lang;
            }
        }
    }
    manufacturer = ReadString(descriptor.manufacturer_index);
    product = ReadString(descriptor.product_index);
    serial_number = ReadString(descriptor.serial_index);

    device_address = static_cast<uint8_t>(RequestValue(ioctl::kDeviceAddress, 1));
    device_name = RequestText(ioctl::kDeviceName);
    friendly_name = RequestText(ioctl::kFriendlyName);
    driver_version = RequestValue(ioctl::kDriverVersion, 4);
    usbdi_version = RequestValue(ioctl::kUsbdiVersion, 4);
    high_speed = RequestValue(ioctl::kSpeed, 4) == 2;

    for (uint8_t i = 0; i < descriptor.configurations; ++i) {
        const uint16_t value = static_cast<uint16_t>(kConfigurationDescriptor + i);
        const auto header = ReadDescriptor(value, 0, 9);
        if (header.size() < 4) {
            configuration_descriptors.emplace_back();
            configurations_.emplace_back();
            continue;
        }
        const uint16_t total = static_cast<uint16_t>(header[2] | (header[3] << 8));
        configuration_descriptors.push_back(ReadDescriptor(value, 0, total));
        ParseConfiguration(configuration_descriptors.back());
    }

    control_->max_packet_size = descriptor.max_packet0;
    control_->timeout_ms = UsbEndpoint::kDefaultTimeoutMs;
    control_->direct = driver_version >= kDirectTransferDriverVersion;
    SelectInterface();

    if (class_notification_ != 0) {
        handle_notification_ = driver_.RegisterHandleNotification(*handle_, recipient_);
    }
    return true;
}

void UsbDevice::ParseConfiguration(const std::vector<uint8_t>& bytes) {
    auto& interfaces = configurations_.emplace_back();
    ByteReader r(bytes);
    while (r.Has(2)) {
        const uint8_t length = r.Peek(0);
        const uint8_t type = r.Peek(1);
        if (length < 2) {
            break;  // a zero length would never advance
        }
        ByteReader d = r.Sub(length);
        if (!r.Ok()) {
            break;
        }
        if (type == 4 && length >= 9 && interfaces.size() < kMaxInterfaces) {
            d.Skip(2);
            auto& itf = interfaces.emplace_back();
            itf.number = d.U8();
            itf.alternate = d.U8();
            d.Skip(1);
            itf.interface_class = d.U8();
        } else if (type == 5 && length >= 7 && !interfaces.empty() &&
                   interfaces.back().endpoints.size() < kMaxEndpoints) {
            interfaces.back().endpoints.push_back(
                std::make_unique<UsbEndpoint>(*handle_, d.Rest(), driver_version));
        }
    }
}

void UsbDevice::SelectInterface() {
    endpoints_.push_back(control_.get());
    if (configurations_.empty()) {
        return;
    }
    alternate_setting = static_cast<uint8_t>(RequestValue(ioctl::kAlternateSetting, 1));
    for (auto& itf : configurations_.front()) {
        if (itf.alternate != alternate_setting) {
            continue;
        }
        for (auto& ep : itf.endpoints) {
            endpoints_.push_back(ep.get());
            UsbEndpoint** first = nullptr;
            switch (ep->Kind()) {
                case EndpointKind::kBulk:
                    first = ep->in ? &bulk_in : &bulk_out;
                    break;
                case EndpointKind::kInterrupt:
                    first = ep->in ? &interrupt_in : &interrupt_out;
                    break;
                case EndpointKind::kIsochronous:
                    first = ep->in ? &iso_in : &iso_out;
                    break;
                case EndpointKind::kControl:
                    break;
            }
            if (first != nullptr && *first == nullptr) {
                *first = ep.get();
            }
        }
        break;
    }
}

}  // namespace tavrel
