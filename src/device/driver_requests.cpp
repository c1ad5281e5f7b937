#include "device/driver_requests.h"

#include <algorithm>

#include "ts/byte_reader.h"
#include "ts/byte_writer.h"

namespace tavrel {

void AppendSingleTransfer(std::vector<uint8_t>& out, const SingleTransfer& h) {
    out.push_back(h.request_type);
    out.push_back(h.request);
    PutU16LE(out, h.value);
    PutU16LE(out, h.index);
    PutU16LE(out, h.length);
    PutU32LE(out, h.timeout_s);
    out.push_back(h.reserved);
    out.push_back(h.endpoint);
    PutU32LE(out, h.driver_status);
    PutU32LE(out, h.usb_status);
    PutU32LE(out, h.iso_table_offset);
    PutU32LE(out, h.iso_table_length);
    PutU32LE(out, h.data_offset);
    PutU32LE(out, h.data_length);
}

void WriteSingleTransfer(std::span<uint8_t> block, const SingleTransfer& header) {
    std::vector<uint8_t> bytes;
    bytes.reserve(SingleTransfer::kSize);
    AppendSingleTransfer(bytes, header);
    std::copy_n(bytes.begin(), std::min(block.size(), bytes.size()), block.begin());
}

std::optional<SingleTransfer> ReadSingleTransfer(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    if (!r.Has(SingleTransfer::kSize)) {
        return std::nullopt;
    }
    SingleTransfer h;
    h.request_type = r.U8();
    h.request = r.U8();
    h.value = r.U16LE();
    h.index = r.U16LE();
    h.length = r.U16LE();
    h.timeout_s = r.U32LE();
    h.reserved = r.U8();
    h.endpoint = r.U8();
    h.driver_status = r.U32LE();
    h.usb_status = r.U32LE();
    h.iso_table_offset = r.U32LE();
    h.iso_table_length = r.U32LE();
    h.data_offset = r.U32LE();
    h.data_length = r.U32LE();
    return h;
}

uint32_t PutReplyValue(std::span<uint8_t> out, uint32_t value, size_t size) {
    const size_t n = std::min(size, out.size());
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return static_cast<uint32_t>(n);
}

uint32_t PutReplyText(std::span<uint8_t> out, const std::string& text) {
    if (out.empty()) {
        return 0;
    }
    const size_t n = std::min(text.size(), out.size() - 1);
    std::copy_n(text.begin(), n, out.begin());
    out[n] = 0;
    return static_cast<uint32_t>(n + 1);
}

}  // namespace tavrel
