// Writing resources to disk: names by component tag, module id, location and content type,
// and a tree that never leaves the chosen folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "databroadcast/carousel_fixture.h"
#include "databroadcast/resource_writer.h"
#include "platform/temp_dir.h"
#include "sim/module_builder.h"

namespace tavrel {
namespace {

using testing::Bytes;
using testing::CarouselFixture;
using testing::MakeDii;
using Tree = std::map<std::string, std::string>;

constexpr uint16_t kPid = CarouselFixture::kPid;

// Every file below root, by its path relative to root, with its content.
Tree ReadTree(const std::string& root) {
    Tree tree;
    if (!std::filesystem::exists(root)) {
        return tree;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            const auto bytes = test_support::ReadWholeFile(entry.path().string());
            tree[std::filesystem::relative(entry.path(), root).generic_string()] =
                std::string(bytes.begin(), bytes.end());
        }
    }
    return tree;
}

// One module of JPEG parts with the given locations.
sim::BuiltModule Located(const std::vector<std::string>& locations) {
    std::vector<sim::MimePart> parts;
    for (const std::string& location : locations) {
        parts.push_back({"image/jpeg", location, Bytes("data of " + location)});
    }
    return sim::MultipartModule(7, 0, "b", parts);
}

TEST(ResourceNames, ExtensionByContentTypeIsCaseSensitiveFolderByServiceAndLocalTime) {
    const std::pair<const char*, const char*> kExtensions[] = {
        {"text/X-arib-bml; charset=euc-jp", ".bml"},
        {"application/X-arib-btable", ".bta"},
        {"image/X-arib-png", ".png"},
        {"image/jpeg", ".jpg"},
        {"image/x-arib-png", ".bin"},
        {"image/JPEG", ".bin"},
        {"", ".bin"}};
    for (const auto& [type, extension] : kExtensions) {
        EXPECT_EQ(ExtensionForContentType(type), extension) << type;
    }
    EXPECT_EQ(ResourceFolderName(1024, CalendarDate{15, 3, 2008}, ClockTime{19, 30, 5}),
              "1024-20080315-193005");
    FakeClock clock(0, LocalTime{2008, 3, 15, 19, 30, 5, 0, 6});
    EXPECT_EQ(ResourceFolderPath("/data/out", 65535, clock), "/data/out/65535-20080315-193005");
    clock.SetNow(LocalTime{2010, 12, 31, 0, 0, 0, 0, 5});
    EXPECT_EQ(ResourceFolderName(7, clock), "7-20101231-000000");
}

TEST(WriteResources, FilesAreNamedByTagModuleLocationAndTypeAndStayInsideTheFolder) {
    const std::string png = "\x89PNG\r\n\x1A\n-image-";
    ResourceRecord other;
    other.length = 5;
    SetText(other.content_type, "image/jpeg");
    const struct {
        const char* what;
        std::vector<sim::BuiltModule> modules;
        Tree tree;
        std::function<void(CarouselFixture&, const std::string&)> before = {};
    } kCases[] = {
        {"a PNG module is tag/module.png, a lower-case type .bin",
         {sim::PngModule(3, 0, Bytes(png)),
          sim::SingleResourceModule(4, 0, "image/x-arib-png", Bytes("p"))},
         {{"40/0003.png", png}, {"40/0004.bin", "p"}}},
        // The part without location comes first ("" sorts first) and must not take the name
        // of the folder that the others need.
        {"parts with and without location",
         {sim::MultipartModule(7, 0, "b",
                               {{"", "", Bytes("no location")},
                                {"image/jpeg", "img/a.jpg", Bytes("a")},
                                {"image/jpeg", "b.jpg", Bytes("b")}})},
         {{"40/0007.bin", "no location"}, {"40/0007/img/a.jpg", "a"}, {"40/0007/b.jpg", "b"}}},
        {"only the carousel's service and tag",
         {sim::PngModule(3, 0, Bytes("mine"))},
         {{"40/0003.png", "mine"}},
         [&](CarouselFixture& f, const std::string&) {
             f.store.StoreResource(0x0401, CarouselFixture::kTag, 3, Bytes("other"), other);
             f.store.StoreResource(CarouselFixture::kServiceId, 0x41, 3, Bytes("other"), other);
         }},
        {"hostile locations",
         {Located({"/abs/evil", "../../escape", "..\\..\\escape2", "C:\\win\\evil", "a\x01",
                   "./x/./y", "\x83\x5C.png", ".."})},
         {{"40/0007/abs/evil", "data of /abs/evil"},
          {"40/0007/escape", "data of ../../escape"},
          {"40/0007/escape2", "data of ..\\..\\escape2"},
          {"40/0007/C_/win/evil", "data of C:\\win\\evil"},
          {"40/0007/a_", "data of a\x01"},
          {"40/0007/x/y", "data of ./x/./y"},
          {"40/0007/\xE3\x82\xBD.png", "data of \x83\x5C.png"},  // Shift_JIS 0x5C is no separator
          {"40/0007/_", "data of .."}}},                         // nothing left of the name
        {"a file that cannot be created is skipped",
         {Located({"a", "b", "c"})},
         {{"40/0007/a", "data of a"}, {"40/0007/c", "data of c"}},
         [](CarouselFixture&, const std::string& out) {
             std::filesystem::create_directories(out + "/40/0007/b");  // a folder, not a file
         }},
        {"a record left without data is skipped",
         {},
         {{"40/0007/small", "s"}},
         [](CarouselFixture& f, const std::string&) {
             const auto m = sim::MultipartModule(
                 7, 0, "b",
                 {{"", "big", std::vector<uint8_t>(500, 'x')}, {"", "small", Bytes("s")}});
             EXPECT_TRUE(f.Dii(MakeDii(1, 4066, {m.entry})));
             const ScopedCarouselAllocationLimit limit(100);  // the big part cannot be kept
             f.store.ParseModuleContent(CarouselFixture::kServiceId, CarouselFixture::kTag, 7, 0,
                                        "", m.bytes);
             ASSERT_EQ(testing::StoredResources(f.store).size(), 2u);
         }},
        {"a carousel without resources yet: no folder at all",
         {},
         {},
         [](CarouselFixture& f, const std::string&) {
             EXPECT_TRUE(f.Dii(MakeDii(1, 100, {{9, 10, 0, {}}})));
         }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        CarouselFixture f;
        f.Deliver(c.modules);
        const test_support::TempDir dir;
        const std::string out = dir.File("base/out");
        if (c.before) {
            c.before(f, out);
        }
        EXPECT_EQ(f.store.WriteResources(out, kPid), 1);
        EXPECT_EQ(ReadTree(out), c.tree);
        EXPECT_EQ(std::filesystem::exists(out), !c.tree.empty());
        // Writing again replaces the files with the same tree.
        EXPECT_EQ(f.store.WriteResources(out, kPid), 1);
        EXPECT_EQ(ReadTree(out), c.tree);
        EXPECT_EQ(ReadTree(dir.Path()).size(), c.tree.size()) << "nothing outside the folder";
        EXPECT_EQ(f.store.WriteResources(out, 0x0141), 0);  // no carousel there
    }
}

}  // namespace
}  // namespace tavrel
