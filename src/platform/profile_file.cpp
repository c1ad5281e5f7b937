#include "platform/profile_file.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>

namespace tavrel {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// One line from its pieces. Appending into a reserved string rather than chaining operator+
// also keeps g++ 12 from a false -Wrestrict on the inlined copies of the chain.
std::string Joined(std::initializer_list<std::string_view> parts) {
    size_t size = 0;
    for (const std::string_view part : parts) {
        size += part.size();
    }
    std::string out;
    out.reserve(size);
    for (const std::string_view part : parts) {
        out.append(part);
    }
    return out;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

ProfileFile::Line ProfileFile::Classify(std::string text) {
    const std::string_view trimmed = Trim(text);
    if (!trimmed.empty() && trimmed.front() == '[') {
        std::string_view name = trimmed.substr(1);
        name = name.substr(0, name.find(']'));
        std::string section(Trim(name));  // copied before text moves away from under it
        return Line{std::move(text), true, std::move(section)};
    }
    if (trimmed.empty() || trimmed.front() == ';') {
        return Line{std::move(text), false, {}};
    }
    const size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) {
        return Line{std::move(text), false, {}};
    }
    std::string key(Trim(trimmed.substr(0, eq)));
    return Line{std::move(text), false, std::move(key)};
}

ProfileFile ProfileFile::Parse(std::string_view text) {
    ProfileFile profile;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        profile.lines_.push_back(Classify(std::string(line)));
        if (nl == std::string_view::npos) {
            break;
        }
        text.remove_prefix(nl + 1);
    }
    return profile;
}

ProfileFile ProfileFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(text);
}

size_t ProfileFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].is_section && EqualNoCase(lines_[i].name, section)) {
            return i;
        }
    }
    return kNone;
}

std::vector<std::string> ProfileFile::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.is_section) {
            names.push_back(line.name);
        }
    }
    return names;
}

size_t ProfileFile::FindKey(size_t header, std::string_view key) const {
    for (size_t i = header + 1; i < lines_.size() && !lines_[i].is_section; ++i) {
        if (!lines_[i].name.empty() && EqualNoCase(lines_[i].name, key)) {
            return i;
        }
    }
    return kNone;
}

std::optional<std::string> ProfileFile::Find(std::string_view section, std::string_view key) const {
    const size_t header = FindSection(section);
    if (header == kNone) {
        return std::nullopt;
    }
    const size_t at = FindKey(header, key);
    if (at == kNone) {
        return std::nullopt;
    }
    const std::string& text = lines_[at].text;
    std::string_view value = Trim(std::string_view(text).substr(text.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view default_value) const {
    std::optional<std::string> value = Find(section, key);
    if (!value || value->empty()) {
        return std::string(default_value);
    }
    return *std::move(value);
}

void ProfileFile::SetString(std::string_view section, std::string_view key,
                            std::string_view value) {
    // New lines follow the line breaks of the file they join.
    const bool crlf =
        !lines_.empty() && !lines_.front().text.empty() && lines_.front().text.back() == '\r';
    const std::string_view tail = crlf ? "\r" : "";
    std::string entry = Joined({key, "=", value, tail});

    const size_t header = FindSection(section);
    if (header == kNone) {
        lines_.push_back(Line{Joined({"[", section, "]", tail}), true, std::string(section)});
        lines_.push_back(Line{std::move(entry), false, std::string(key)});
        return;
    }
    const size_t at = FindKey(header, key);
    if (at != kNone) {
        lines_[at] = Line{std::move(entry), false, std::string(key)};
        return;
    }
    // After the last non-blank line of the section, so blank lines that separate it from the
    // next section stay where they are.
    size_t insert = header + 1;
    for (size_t i = header + 1; i < lines_.size() && !lines_[i].is_section; ++i) {
        if (!Trim(lines_[i].text).empty()) {
            insert = i + 1;
        }
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert),
                  Line{std::move(entry), false, std::string(key)});
}

std::string ProfileFile::Text() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += '\n';
    }
    return out;
}

bool ProfileFile::Save(const std::string& path) const {
    return ReplaceFileText(path, Text());
}

bool ReplaceFileText(const std::string& path, std::string_view text) {
    // Written beside the target and renamed over it, so an interrupted write never leaves a
    // half file in place of the old one.
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace tavrel
