#include "sim/usb_descriptors.h"

#include <algorithm>

#include "ts/byte_writer.h"

namespace tavrel::sim {

std::vector<uint8_t> Utf16Descriptor(const std::string& text) {
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        PutU16LE(d, static_cast<uint8_t>(c));
    }
    return d;
}

std::vector<uint8_t> DeviceDescriptor(const SimBoard& b) {
    std::vector<uint8_t> d{18, 1};
    PutU16LE(d, 0x0200);
    d.insert(d.end(), {0, 0, 0, 64});
    PutU16LE(d, b.vendor_id);
    PutU16LE(d, b.product_id);
    PutU16LE(d, 0x0000);
    d.insert(d.end(), {1, 2, 3, 1});
    return d;
}

std::vector<uint8_t> ConfigurationDescriptor(const SimBoard& b) {
    std::vector<uint8_t> body;
    uint8_t interfaces = 0;
    for (const auto& itf : b.interfaces) {
        interfaces = std::max<uint8_t>(interfaces, static_cast<uint8_t>(itf.number + 1));
        body.insert(body.end(), {9, 4, itf.number, itf.alternate,
                                 static_cast<uint8_t>(itf.endpoints.size()), 0xFF, 0, 0, 0});
        for (const auto& ep : itf.endpoints) {
            body.insert(body.end(), {7, 5, ep.address, ep.attributes});
            PutU16LE(body, ep.max_packet);
            body.push_back(ep.interval);
        }
    }
    std::vector<uint8_t> d{9, 2};
    PutU16LE(d, static_cast<uint32_t>(9 + body.size()));
    d.insert(d.end(), {interfaces, 1, 0, 0x80, 50});
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

}  // namespace tavrel::sim
