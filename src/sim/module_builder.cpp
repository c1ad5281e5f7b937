#include "sim/module_builder.h"

#include <zlib.h>

#include <stdexcept>

#include "sim/section_writer.h"

namespace tavrel::sim {
namespace {

void PutText(std::vector<uint8_t>& out, std::string_view text) {
    PutBytes(out, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

}  // namespace

std::vector<uint8_t> MultipartBody(std::string_view boundary, const std::vector<MimePart>& parts) {
    std::vector<uint8_t> out;
    PutText(out, "Content-Type: multipart/mixed; boundary=\"");
    PutText(out, boundary);
    PutText(out, "\"\r\n\r\n");
    for (const MimePart& part : parts) {
        PutText(out, "--");
        PutText(out, boundary);
        PutText(out, "\r\n");
        if (!part.content_type.empty()) {
            PutText(out, "Content-Type: " + part.content_type + "\r\n");
        }
        if (!part.location.empty()) {
            PutText(out, "Content-Location: " + part.location + "\r\n");
        }
        if (part.with_length) {
            PutText(out, "Content-Length: " + std::to_string(part.body.size()) + "\r\n");
        }
        PutText(out, "\r\n");
        PutBytes(out, part.body);
        PutText(out, "\r\n");
    }
    PutText(out, "--");
    PutText(out, boundary);
    PutText(out, "--\r\n");
    return out;
}

BuiltModule MultipartModule(uint16_t module_id, uint8_t version, std::string_view boundary,
                            const std::vector<MimePart>& parts) {
    BuiltModule m;
    m.bytes = MultipartBody(boundary, parts);
    m.entry.module_id = module_id;
    m.entry.module_version = version;
    m.entry.module_size = static_cast<uint32_t>(m.bytes.size());
    return m;
}

BuiltModule SingleResourceModule(uint16_t module_id, uint8_t version, std::string_view content_type,
                                 std::span<const uint8_t> content) {
    BuiltModule m;
    m.bytes.assign(content.begin(), content.end());
    m.entry.module_id = module_id;
    m.entry.module_version = version;
    m.entry.module_size = static_cast<uint32_t>(m.bytes.size());
    m.entry.module_info = TypeDescriptor(content_type);
    return m;
}

BuiltModule PngModule(uint16_t module_id, uint8_t version, std::span<const uint8_t> png) {
    return SingleResourceModule(module_id, version, "image/X-arib-png", png);
}

BuiltModule CompressedModule(uint16_t module_id, uint8_t version, std::span<const uint8_t> content,
                             std::string_view content_type) {
    uLongf size = compressBound(static_cast<uLong>(content.size()));
    std::vector<uint8_t> compressed(size);
    if (compress2(compressed.data(), &size, content.data(), static_cast<uLong>(content.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    compressed.resize(size);
    BuiltModule m;
    m.bytes = std::move(compressed);
    m.entry.module_id = module_id;
    m.entry.module_version = version;
    m.entry.module_size = static_cast<uint32_t>(m.bytes.size());
    if (!content_type.empty()) {
        m.entry.module_info = TypeDescriptor(content_type);
    }
    const auto compression = CompressionTypeDescriptor(0, static_cast<uint32_t>(content.size()));
    m.entry.module_info.insert(m.entry.module_info.end(), compression.begin(), compression.end());
    return m;
}

}  // namespace tavrel::sim
