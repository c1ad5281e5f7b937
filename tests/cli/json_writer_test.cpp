#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/json_value.h"

namespace tavrel::cli {
namespace {

// Numbers read back exactly; controls, quotes and broken UTF-8 are escaped into valid JSON.
TEST(JsonWriter, NumbersReadBackExactlyAndStringsAreEscaped) {
    // 11727.48: a BS frequency in MHz, where six digits would give 11727.5.
    for (const char* text :
         {"11727.48", "28.86", "12040", "0.1", "-0.5", "1234567.0625", "1e-07", "2.5e+300"}) {
        JsonWriter j;
        j.BeginArray();
        j.Number("", std::strtod(text, nullptr));
        j.EndArray();
        EXPECT_EQ(j.Text(), std::string("[\n  ") + text + "\n]");
    }
    EXPECT_EQ(JsonWriter::Escape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\n\\u0001");
    // A lone continuation byte and a cut three-byte sequence become U+FFFD; valid text stays.
    EXPECT_EQ(JsonWriter::Escape("\x80x\xE3\x81"), "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(JsonWriter::Escape("字"), "字");
    JsonWriter j;
    j.BeginObject();
    j.String("k", std::string("\xFF\x00z", 3));
    j.EndObject();
    EXPECT_TRUE(testing::JsonValue::Parse(j.Text()));
}

}  // namespace
}  // namespace tavrel::cli
