#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/dii_writer.h"

namespace tavrel::sim {

// A module's bytes as its DDBs carry them, and its entry for the DII.
struct BuiltModule {
    DiiModule entry;  // module_size is the size of bytes
    std::vector<uint8_t> bytes;
};

// One part of a multipart module.
struct MimePart {
    std::string content_type;  // no header when empty
    std::string location;      // no Content-Location when empty
    std::vector<uint8_t> body;
    bool with_length = true;  // write Content-Length with the body's size
};

// A MIME multipart/mixed body as data broadcasts carry BML documents and their images:
// a "Content-Type: multipart/mixed; boundary=..." line (the boundary quoted), then each part
// behind "--boundary" with its headers, an empty line, its body and CR LF, and the closing
// "--boundary--". Lines end with CR LF.
std::vector<uint8_t> MultipartBody(std::string_view boundary, const std::vector<MimePart>& parts);
// That body as a module; its DII entry has no Type descriptor, the first line tells.
BuiltModule MultipartModule(uint16_t module_id, uint8_t version, std::string_view boundary,
                            const std::vector<MimePart>& parts);
// A module that is one resource, its content type in a Type descriptor.
BuiltModule SingleResourceModule(uint16_t module_id, uint8_t version, std::string_view content_type,
                                 std::span<const uint8_t> content);
// One PNG image ("image/X-arib-png").
BuiltModule PngModule(uint16_t module_id, uint8_t version, std::span<const uint8_t> png);
// content compressed with zlib (zlib format), with a Compression Type descriptor giving its
// original size, and a Type descriptor when content_type is not empty.
BuiltModule CompressedModule(uint16_t module_id, uint8_t version, std::span<const uint8_t> content,
                             std::string_view content_type = {});

}  // namespace tavrel::sim
