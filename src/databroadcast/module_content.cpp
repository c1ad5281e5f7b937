// Module content: a finished module is one resource, or a MIME multipart body whose parts
// become resources of their own.
#include "databroadcast/module_content.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "databroadcast/carousel_store.h"
#include "databroadcast/dsmcc_message.h"

namespace tavrel {

std::string_view LineReader::Next() {
    const size_t start = pos_;
    while (pos_ < data_.size() && pos_ - start < kMaxLine) {
        const uint8_t c = data_[pos_];
        if (c == '\r' || c == '\n' || c == '\0') {
            const std::string_view line(reinterpret_cast<const char*>(data_.data()) + start,
                                        pos_ - start);
            ++pos_;
            if (c == '\r' && pos_ < data_.size() && data_[pos_] == '\n') {
                ++pos_;
            }
            return line;
        }
        ++pos_;
    }
    return {reinterpret_cast<const char*>(data_.data()) + start, pos_ - start};
}

bool LineReader::Skip(size_t n) {
    if (n > Remaining()) {
        pos_ = data_.size();
        return false;
    }
    pos_ += n;
    return true;
}

std::optional<HeaderLine> SplitHeaderLine(std::string_view line) {
    const size_t cut = line.find_first_of(": ");
    if (cut == std::string_view::npos || cut == 0 || cut >= 1023) {
        return std::nullopt;
    }
    const size_t value = line.find_first_not_of(": ", cut);
    return HeaderLine{line.substr(0, cut),
                      value == std::string_view::npos ? std::string_view() : line.substr(value)};
}

std::string MultipartBoundary(std::string_view value) {
    const size_t at = value.find("boundary");
    if (at == std::string_view::npos) {
        return {};
    }
    size_t p = value.find_first_of("\t =", at);
    p = p == std::string_view::npos ? p : value.find_first_not_of("\t =", p);
    if (p == std::string_view::npos) {
        return {};
    }
    std::string_view boundary;
    if (value[p] == '"') {
        const std::string_view rest = value.substr(p + 1);
        boundary = rest.substr(0, rest.find('"'));
    } else {
        const std::string_view rest = value.substr(p);
        boundary = rest.substr(0, rest.find_first_of(" \t"));
    }
    // An empty boundary would make every empty line a delimiter.
    if (boundary.empty() || boundary.size() >= 77) {
        return {};
    }
    return std::string(boundary);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

int64_t LeadingDecimal(std::string_view text) {
    size_t p = text.find_first_not_of(" \t");
    if (p == std::string_view::npos) {
        return 0;
    }
    bool negative = false;
    if (text[p] == '+' || text[p] == '-') {
        negative = text[p] == '-';
        ++p;
    }
    int64_t value = 0;
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
        value = std::min<int64_t>(value * 10 + (text[p] - '0'), int64_t{UINT32_MAX} + 1);
    }
    return negative ? -value : value;
}

namespace {

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

void CCarouselStore::ParseModuleContent(uint16_t service_id, uint8_t component_tag,
                                        uint16_t module_id, uint8_t module_version,
                                        std::string_view content_type,
                                        std::span<const uint8_t> data) {
    ScopedLock hold(lock_);
    const auto store_whole = [&] {
        ResourceRecord record;
        record.version = module_version;
        record.length = static_cast<int32_t>(std::min<size_t>(data.size(), INT32_MAX));
        SetText(record.content_type, content_type);
        StoreResource(service_id, component_tag, module_id, data, record);
    };
    if (!content_type.empty() && !Contains(content_type, "multipart/mixed")) {
        store_whole();
        return;
    }
    if (data.empty()) {
        return;
    }
    LineReader lines(data);
    const std::optional<HeaderLine> first = SplitHeaderLine(lines.Next());
    if (!first || !EqualsIgnoringCase(first->name, "Content-Type") ||
        !Contains(first->value, "multipart/mixed")) {
        store_whole();
        return;
    }

    // Without a boundary both delimiters are empty, so the first empty line ends the walk.
    const std::string boundary = MultipartBoundary(first->value);
    const std::string delimiter = boundary.empty() ? std::string() : "--" + boundary;
    const std::string close = boundary.empty() ? std::string() : delimiter + "--";
    const auto is_delimiter = [&](std::string_view l) { return EqualsIgnoringCase(l, delimiter); };
    const auto is_close = [&](std::string_view l) { return EqualsIgnoringCase(l, close); };

    // The rest of the module header and any preamble.
    std::string_view line;
    do {
        if (!lines.More()) {
            return;
        }
        line = lines.Next();
    } while (!is_delimiter(line) && !is_close(line));

    for (;;) {
        if (is_close(line)) {
            return;
        }
        if (is_delimiter(line)) {
            ResourceRecord part;
            part.version = module_version;
            int64_t length = 0;
            while (lines.More()) {
                const std::string_view header_line = lines.Next();
                if (header_line.empty()) {
                    break;
                }
                const std::optional<HeaderLine> header = SplitHeaderLine(header_line);
                if (!header) {
                    continue;
                }
                if (EqualsIgnoringCase(header->name, "Content-Type")) {
                    SetText(part.content_type, header->value);
                } else if (EqualsIgnoringCase(header->name, "Content-Encoding")) {
                    SetText(part.content_encoding, header->value);
                } else if (EqualsIgnoringCase(header->name, "Content-Location")) {
                    SetText(part.location, header->value);
                } else if (EqualsIgnoringCase(header->name, "Content-Length")) {
                    length = LeadingDecimal(header->value);
                }
            }
            // A negative length, or one past the module's end, is not stored and ends the
            // module: what follows cannot be found again.
            if (length < 0 || static_cast<uint64_t>(length) > lines.Remaining()) {
                return;
            }
            part.length = static_cast<int32_t>(length);
            StoreResource(service_id, component_tag, module_id,
                          lines.Rest().first(static_cast<size_t>(length)), part);
            lines.Skip(static_cast<size_t>(length));
            if (!lines.More()) {
                return;
            }
        }
        if (!lines.More()) {
            return;
        }
        line = lines.Next();
    }
}

bool CCarouselStore::StoreResource(uint16_t service_id, uint8_t component_tag, uint16_t module_id,
                                   std::span<const uint8_t> data, const ResourceRecord& record) {
    ScopedLock hold(lock_);
    if (Contains(Text(record.content_type), "application/X-arib-resourceList") ||
        record.length < 0) {
        return false;
    }
    const std::string_view location = Text(record.location);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02X/%04X", component_tag, module_id);
    std::string path = prefix;
    if (!location.empty()) {
        path += '/';
        path += location;
    }

    ResourceRecord& stored =
        resources_[ResourceKey(service_id, component_tag, module_id)][std::string(location)];
    stored.version = record.version;
    stored.content_type = record.content_type;
    stored.content_encoding = record.content_encoding;
    stored.location = record.location;
    stored.path = std::move(path);
    // Never more than the caller's bytes, whatever the record claims.
    const size_t length = std::min(static_cast<size_t>(record.length), data.size());
    stored.length = static_cast<int32_t>(length);
    stored.data = TryAllocate(length);
    if (!stored.data) {
        return false;
    }
    if (length > 0) {
        std::memcpy(stored.data.get(), data.data(), length);
    }
    return true;
}

}  // namespace tavrel
