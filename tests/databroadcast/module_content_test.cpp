// Module content: lines, header lines, boundaries, and how a finished module becomes
// resources (one, or one per multipart part).
#include <gtest/gtest.h>

#include "databroadcast/carousel_fixture.h"
#include "databroadcast/module_content.h"
#include "sim/module_builder.h"

namespace tavrel {
namespace {

using namespace std::string_literals;
using testing::Bytes;
using testing::StoredResources;

std::vector<std::string> AllLines(std::string_view text) {
    const auto bytes = Bytes(text);
    LineReader reader(bytes);
    std::vector<std::string> lines;
    while (reader.More()) {
        lines.emplace_back(reader.Next());
    }
    return lines;
}

// Parses one module into a fresh store and returns what was stored.
std::vector<testing::StoredResource> Parse(std::string_view module, std::string_view type = "",
                                           uint8_t version = 3) {
    CCarouselStore store;
    store.ParseModuleContent(0x0400, 0x40, 0x0007, version, type, Bytes(module));
    return StoredResources(store);
}

std::string AsString(const std::vector<uint8_t>& v) {
    return {v.begin(), v.end()};
}

// "location=data" of each stored resource in store order, joined by '|'; a record without data
// shows its location alone.
std::string Listing(const std::vector<testing::StoredResource>& resources) {
    std::string out;
    for (const auto& r : resources) {
        out += (out.empty() ? "" : "|") + r.location + (r.has_data ? "=" + AsString(r.data) : "");
    }
    return out;
}

TEST(ModuleContentHelpers, LinesHeaderLinesBoundariesAndLengths) {
    EXPECT_EQ(AllLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(AllLines(std::string_view("x\0y\n\n", 5)), (std::vector<std::string>{"x", "y", ""}));
    // LF CR is two terminators; a full 1024-byte line is cut, its terminator an empty line.
    EXPECT_EQ(AllLines("p\n\rq"), (std::vector<std::string>{"p", "", "q"}));
    EXPECT_EQ(AllLines(std::string(1025, 'a') + "\n"),
              (std::vector<std::string>{std::string(1024, 'a'), "a"}));
    EXPECT_EQ(AllLines(std::string(1024, 'c') + "\n"),
              (std::vector<std::string>{std::string(1024, 'c'), ""}));
    const auto bytes = Bytes("abc\ndef");
    LineReader reader(bytes);
    EXPECT_EQ(reader.Next(), "abc");
    EXPECT_TRUE(reader.Skip(1));
    EXPECT_EQ(reader.Next(), "ef");
    EXPECT_FALSE(reader.Skip(1));

    const auto h = SplitHeaderLine("Name :: :value: x");
    ASSERT_TRUE(h);
    EXPECT_EQ(std::pair(h->name, h->value),
              std::pair(std::string_view("Name"), std::string_view("value: x")));
    EXPECT_EQ(SplitHeaderLine("Content-Length:")->value, "");
    EXPECT_FALSE(SplitHeaderLine(": value"));
    EXPECT_FALSE(SplitHeaderLine("nothing"));
    EXPECT_TRUE(SplitHeaderLine(std::string(1022, 'n') + ": v"));
    EXPECT_FALSE(SplitHeaderLine(std::string(1023, 'n') + ": v"));

    const std::pair<std::string, std::string> kBoundaries[] = {
        {"multipart/mixed; boundary=\"a b\tc\"", "a b\tc"},
        {"multipart/mixed; boundary = \t=xyz\tq", "xyz"},
        {"multipart/mixed; boundary=\"open", "open"},
        {"multipart/mixed; Boundary=abc", ""},  // case-sensitive name
        {"multipart/mixed; boundary=\"\"", ""},
        {"multipart/mixed; boundary=" + std::string(76, 'b'), std::string(76, 'b')},
        {"multipart/mixed; boundary=" + std::string(77, 'b'), ""},
    };
    for (const auto& [value, boundary] : kBoundaries) {
        EXPECT_EQ(MultipartBoundary(value), boundary) << value;
    }
    EXPECT_EQ(std::tuple(LeadingDecimal(" 42 bytes"), LeadingDecimal("x42"), LeadingDecimal("-5")),
              std::tuple(42, 0, -5));
    EXPECT_GT(LeadingDecimal("99999999999999999999999"), INT32_MAX);
}

std::string Multipart(const std::vector<sim::MimePart>& parts) {
    return AsString(sim::MultipartBody("b", parts));
}

TEST(ModuleContent, TypesBoundariesContentLengthsAndLocationsDecideWhatIsStored) {
    const std::string head = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    const std::string xml = "<?xml version=\"1.0\"?>\r\n<bml>\0</bml>"s;
    const struct {
        const char* what;
        std::string module;
        std::string stored;
        const char* type = "";  // in the DII
    } kCases[] = {
        {"parts are kept in location order; the length, not the delimiter, ends a part",
         AsString(sim::MultipartBody(
             "BML-1", {{"text/X-arib-bml; charset=\"euc-jp\"", "startup.bml", Bytes("<bml/>\r\n")},
                       {"image/X-arib-png", "img/a.png", Bytes("PNG\r\n--BML-1\r\n")},
                       {"text/css", "s.css", Bytes("")}})),
         "img/a.png=PNG\r\n--BML-1\r\n|s.css=|startup.bml=<bml/>\r\n"},
        {"a module typed as multipart in the DII is read as one too",
         Multipart({{"text/plain", "a.txt", Bytes("A")}}), "a.txt=A", "multipart/mixed"},
        {"parts without location share one slot so the last wins",
         Multipart({{"image/jpeg", "", Bytes("first")}, {"image/png", "", Bytes("second")}}),
         "=second"},
        {"resource lists are never stored",
         Multipart({{"application/X-arib-resourceList", "list", Bytes("L")},
                    {"image/jpeg", "pic", Bytes("P")}}),
         "pic=P"},
        {"not even a whole module typed as one", "anything", "", "application/X-arib-resourceList"},
        {"an oversized Content-Length stops the parse",
         head + "--b\r\nContent-Location: one\r\nContent-Length: 3\r\n\r\n111\r\n"
                "--b\r\nContent-Location: two\r\nContent-Length: 900\r\n\r\n222\r\n"
                "--b\r\nContent-Location: three\r\nContent-Length: 3\r\n\r\n333\r\n--b--\r\n",
         "one=111"},
        {"a negative Content-Length stops the parse",
         head + "--b\r\nContent-Location: one\r\nContent-Length: -2\r\n\r\n111\r\n"
                "--b\r\nContent-Location: two\r\nContent-Length: 3\r\n\r\n222\r\n--b--\r\n",
         ""},
        {"a Content-Length up to the last byte is stored",
         head + "--b\r\nContent-Length: 4\r\n\r\nlast", "=last"},
        {"a part without length is empty and its lines are scanned",
         head + "--b\r\nContent-Location: nolength\r\n\r\nbody line\r\n"
                "--b\r\nContent-Location: next\r\nContent-Length: 2\r\n\r\nok\r\n--b--\r\n",
         "next=ok|nolength="},
        {"delimiters match in any case and the close ends the walk",
         "content-type: multipart/mixed; boundary=\"Part\"\r\n\r\npreamble\r\n"
         "--pART\r\nCONTENT-LOCATION: a\r\ncontent-length: 1\r\n\r\nA\r\n--PART--\r\n"
         "--Part\r\nContent-Location: b\r\nContent-Length: 1\r\n\r\nB\r\n",
         "a=A"},
        {"a quoted boundary may hold spaces",
         "Content-Type: multipart/mixed; boundary=\"two words\"\r\n\r\n--two words\r\n"
         "Content-Location: q\r\nContent-Length: 1\r\n\r\nQ\r\n--two words--\r\n",
         "q=Q"},
        {"an unquoted boundary ends at a space",
         "Content-Type: multipart/mixed; boundary=two words\r\n\r\n"
         "--two words\r\nContent-Location: x\r\nContent-Length: 1\r\n\r\nX\r\n"
         "--two\r\nContent-Location: y\r\nContent-Length: 1\r\n\r\nY\r\n--two--\r\n",
         "y=Y"},
        {"untyped without a multipart header: the whole module", xml, "=" + xml},
        {"also with a Content-Type of another kind", "Content-Type: text/plain\r\n\r\nhello",
         "=Content-Type: text/plain\r\n\r\nhello"},
        {"an empty untyped module is nothing", "", ""},
        {"without a boundary nothing is stored",
         "Content-Type: multipart/mixed\r\n\r\n--\r\nContent-Length: 1\r\n\r\nA\r\n", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Listing(Parse(c.module, c.type)), c.stored) << c.what;
    }
}

TEST(ModuleContent, RecordsOfATypedModuleAndOfAPartHeadersTakenAndCut) {
    // A module typed in the DII is one resource, whatever its first line says.
    const auto whole =
        Parse("Content-Type: multipart/mixed; boundary=x\r\n", "image/X-arib-png", 9);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(
        std::tuple(whole[0].content_type, whole[0].version, whole[0].path, AsString(whole[0].data)),
        std::tuple("image/X-arib-png", 9, "40/0007",
                   "Content-Type: multipart/mixed; boundary=x\r\n"));
    // A part takes its headers, cut to their fields, and the module's version.
    const std::string long_location(100, 'L');
    const std::string module =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: image/jpeg\r\nContent-Encoding: binary\r\nX-Other: ignored\r\n"
        "Content-Location: " +
        long_location + "\r\nContent-Length: 1\r\n\r\nJ\r\n--b--\r\n";
    const auto r = Parse(module, "", 2);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(std::tuple(r[0].content_type, r[0].content_encoding, r[0].location, r[0].path,
                         r[0].version),
              std::tuple("image/jpeg", "binary", std::string(79, 'L'),
                         "40/0007/" + std::string(79, 'L'), 2));
}

TEST(StoreResource, UpperCaseHexPathsOneRecordPerLocationNeverMoreBytesThanGiven) {
    CCarouselStore store;
    ResourceRecord record;
    record.version = 1;
    record.length = 1000;  // more than the bytes given
    EXPECT_TRUE(store.StoreResource(1, 0xAB, 0x00CD, Bytes("four"), record));
    SetText(record.location, "dir/f.bml");
    SetText(record.content_type, "image/png");
    EXPECT_TRUE(store.StoreResource(1, 0x0A, 0x0003, Bytes("old"), record));
    record.version = 2;
    record.length = 5;
    SetText(record.content_type, "image/X-arib-png");
    EXPECT_TRUE(store.StoreResource(1, 0x0A, 0x0003, Bytes("newer"), record));
    record.length = -1;
    EXPECT_FALSE(store.StoreResource(1, 0x0A, 0x0004, Bytes("four"), record));
    EXPECT_EQ(Listing(StoredResources(store)), "dir/f.bml=newer|=four");
    const auto r = StoredResources(store);
    EXPECT_EQ(std::tuple(r[0].path, r[0].version, r[0].content_type),
              std::tuple("0A/0003/dir/f.bml", 2, "image/X-arib-png"));
    EXPECT_EQ(r[1].path, "AB/00CD");
    // A record whose bytes cannot be had stays, without data.
    record.length = 100;
    const ScopedCarouselAllocationLimit limit(99);
    EXPECT_FALSE(store.StoreResource(1, 2, 3, std::vector<uint8_t>(100, 7), record));
    EXPECT_EQ(Listing(StoredResources(store)), "dir/f.bml|dir/f.bml=newer|=four");
}

}  // namespace
}  // namespace tavrel
