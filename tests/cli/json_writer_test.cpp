#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/json_value.h"

namespace tavrel::cli {
namespace {

using testing::JsonValue;

TEST(JsonWriter, NumbersReadBackExactly) {
    const struct {
        double value;
        const char* text;
    } kCases[] = {
        {11727.48, "11727.48"},  // a BS frequency in MHz: six digits would give 11727.5
        {28.86, "28.86"},
        {12040.0, "12040"},
        {0.1, "0.1"},
        {-0.5, "-0.5"},
        {1234567.0625, "1234567.0625"},
        {1e-7, "1e-07"},
        {2.5e300, "2.5e+300"},
    };
    for (const auto& c : kCases) {
        JsonWriter j;
        j.BeginArray();
        j.Number("", c.value);
        j.EndArray();
        EXPECT_EQ(j.Text(), std::string("[\n  ") + c.text + "\n]");
        EXPECT_EQ(std::strtod(c.text, nullptr), c.value) << c.text;
    }
}

TEST(JsonWriter, EscapesControlsQuotesAndBrokenUtf8) {
    EXPECT_EQ(JsonWriter::Escape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\n\\u0001");
    // A lone continuation byte and a cut three-byte sequence become U+FFFD; valid text stays.
    EXPECT_EQ(JsonWriter::Escape("\x80x\xE3\x81"), "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(JsonWriter::Escape("字"), "字");
    JsonWriter j;
    j.BeginObject();
    j.String("k", std::string("\xFF\x00z", 3));
    j.EndObject();
    EXPECT_TRUE(JsonValue::Parse(j.Text()));
}

}  // namespace
}  // namespace tavrel::cli
