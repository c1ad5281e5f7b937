#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel {

// A settings file of "[section]" headers and "key=value" lines, read whole and written whole.
// Sections and keys are matched without regard to ASCII letter case. Lines the program does
// not know (other sections, keys, comments starting with ';', blank lines) are kept as they
// are when a key is changed and the file is saved again.
class ProfileFile {
public:
    ProfileFile() = default;

    // Reads the file; a missing or unreadable file gives an empty profile.
    static ProfileFile Load(const std::string& path);
    static ProfileFile Parse(std::string_view text);

    // The value of the key with surrounding blanks (and one pair of enclosing quotes) removed;
    // nothing when the section or the key is missing. The first of duplicate names wins.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    // The value, or default_value when the key is missing or its value is empty.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view default_value) const;

    // The names of the section headers, in file order (duplicates included).
    std::vector<std::string> SectionNames() const;

    // Stores the value as given: replaces the key's line, or adds the key at the end of its
    // section, or adds the section at the end of the file.
    void SetString(std::string_view section, std::string_view key, std::string_view value);

    std::string Text() const;
    // Replaces the file in one step (a new file renamed over the old one). False on failure.
    bool Save(const std::string& path) const;

private:
    struct Line {
        std::string text;  // as read, without the line break
        bool is_section;   // a "[name]" header
        std::string name;  // section name or key, trimmed; empty for other lines
    };

    // Index of the first header of the section, or npos.
    size_t FindSection(std::string_view section) const;
    // Index of the key's line inside the section starting at header, or npos.
    size_t FindKey(size_t header, std::string_view key) const;
    static Line Classify(std::string text);

    std::vector<Line> lines_;
};

// Replaces the file with the text in one step (a new file renamed over the old one). False on
// failure, with the old file left as it was.
bool ReplaceFileText(const std::string& path, std::string_view text);

}  // namespace tavrel
