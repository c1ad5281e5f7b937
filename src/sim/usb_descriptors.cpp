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
    // Assigned in place: g++ -O3 takes inserts into a fresh vector for overreads.
    std::vector<uint8_t> d(18, 0);
    const uint8_t bytes[18] = {18,
                               1,
                               0x00,
                               0x02,
                               0,
                               0,
                               0,
                               64,
                               static_cast<uint8_t>(b.vendor_id),
                               static_cast<uint8_t>(b.vendor_id >> 8),
                               static_cast<uint8_t>(b.product_id),
                               static_cast<uint8_t>(b.product_id >> 8),
                               0x00,
                               0x00,
                               1,
                               2,
                               3,
                               1};
    std::copy(std::begin(bytes), std::end(bytes), d.begin());
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
    const auto total = static_cast<uint16_t>(9 + body.size());
    std::vector<uint8_t> d(total, 0);
    const uint8_t head[9] = {
        9,    2, static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8), interfaces, 1, 0,
        0x80, 50};
    std::copy(std::begin(head), std::end(head), d.begin());
    std::copy(body.begin(), body.end(), d.begin() + 9);
    return d;
}

}  // namespace tavrel::sim
