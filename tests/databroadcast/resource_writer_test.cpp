// Writing resources to disk: names by component tag, module id, location and content type,
// and a tree that never leaves the chosen folder.
#include <gtest/gtest.h>

#include <filesystem>
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

// Puts finished modules into the carousel on kPid.
void Deliver(CarouselFixture& f, const std::vector<sim::BuiltModule>& modules) {
    std::vector<sim::DiiModule> entries;
    for (const auto& m : modules) {
        entries.push_back(m.entry);
    }
    EXPECT_TRUE(f.Dii(MakeDii(1, 4066, entries)));
    for (const auto& m : modules) {
        f.AllBlocks(
            sim::ModuleDdbSections(1, m.entry.module_id, m.entry.module_version, 4066, m.bytes));
    }
}

// A carousel whose one module holds parts with the given locations.
void DeliverLocations(CarouselFixture& f, const std::vector<std::string>& locations) {
    std::vector<sim::MimePart> parts;
    for (const std::string& location : locations) {
        parts.push_back({"image/jpeg", location, Bytes("data of " + location)});
    }
    Deliver(f, {sim::MultipartModule(7, 0, "b", parts)});
}

TEST(ResourceNames, ExtensionByContentTypeIsCaseSensitive) {
    EXPECT_EQ(ExtensionForContentType("text/X-arib-bml; charset=euc-jp"), ".bml");
    EXPECT_EQ(ExtensionForContentType("application/X-arib-btable"), ".bta");
    EXPECT_EQ(ExtensionForContentType("image/X-arib-png"), ".png");
    EXPECT_EQ(ExtensionForContentType("image/jpeg"), ".jpg");
    EXPECT_EQ(ExtensionForContentType("image/x-arib-png"), ".bin");
    EXPECT_EQ(ExtensionForContentType("image/JPEG"), ".bin");
    EXPECT_EQ(ExtensionForContentType(""), ".bin");
}

TEST(ResourceNames, FolderNameFromServiceIdAndLocalTime) {
    EXPECT_EQ(ResourceFolderName(1024, CalendarDate{15, 3, 2008}, ClockTime{19, 30, 5}),
              "1024-20080315-193005");
    FakeClock clock(0, LocalTime{2008, 3, 15, 19, 30, 5, 0, 6});
    EXPECT_EQ(ResourceFolderName(1024, clock), "1024-20080315-193005");
    EXPECT_EQ(ResourceFolderPath("/data/out", 65535, clock), "/data/out/65535-20080315-193005");
    clock.SetNow(LocalTime{2010, 12, 31, 0, 0, 0, 0, 5});
    EXPECT_EQ(ResourceFolderName(7, clock), "7-20101231-000000");
}

TEST(ResourceNames, SafeRelativePathKeepsNamesAndDropsEscapes) {
    EXPECT_EQ(SafeRelativePath("40/0003/img/a.png"), "40/0003/img/a.png");
    EXPECT_EQ(SafeRelativePath("40/0003//etc/passwd"), "40/0003/etc/passwd");
    EXPECT_EQ(SafeRelativePath("40/0003/../../../x"), "40/0003/x");
    EXPECT_EQ(SafeRelativePath("40/0003/..\\..\\x"), "40/0003/x");
    EXPECT_EQ(SafeRelativePath("40/0003/C:\\Windows\\x"), "40/0003/C_/Windows/x");
    EXPECT_EQ(SafeRelativePath("40/0003/./a\x01\x7F\tb"), "40/0003/a___b");
    EXPECT_EQ(SafeRelativePath("../.."), "");
    // Shift_JIS becomes UTF-8; the trail byte 0x5C of "ソ" is no separator.
    EXPECT_EQ(SafeRelativePath("40/0003/\x83\x5C.png"), "40/0003/\xE3\x82\xBD.png");
}

TEST(WriteResources, PngModuleIsWrittenAsTagSlashModuleDotPngALowerCaseTypeAsBin) {
    CarouselFixture f;
    const std::string png = "\x89PNG\r\n\x1A\n-image-";
    Deliver(f, {sim::PngModule(3, 0, Bytes(png)),
                sim::SingleResourceModule(4, 0, "image/x-arib-png", Bytes("p"))});
    const test_support::TempDir dir;
    const std::string out = dir.File("1024-20080315-193005");
    EXPECT_EQ(f.store.WriteResources(out, kPid), 1);
    EXPECT_EQ(ReadTree(out), (Tree{{"40/0003.png", png}, {"40/0004.bin", "p"}}));
}

TEST(WriteResources, ModuleWithAndWithoutLocationsWritesEveryResource) {
    // The part without location is written first (its location "" sorts first) and must not
    // take the name of the folder that the others need.
    for (const std::string type : {"text/plain", ""}) {
        CarouselFixture f;
        Deliver(f, {sim::MultipartModule(7, 0, "b",
                                         {{type, "", Bytes("no location")},
                                          {"image/jpeg", "img/a.jpg", Bytes("a")},
                                          {"image/jpeg", "b.jpg", Bytes("b")}})});
        const test_support::TempDir dir;
        EXPECT_EQ(f.store.WriteResources(dir.Path(), kPid), 1);
        EXPECT_EQ(ReadTree(dir.Path()), (Tree{{"40/0007.bin", "no location"},
                                              {"40/0007/img/a.jpg", "a"},
                                              {"40/0007/b.jpg", "b"}}))
            << type;
    }
}

TEST(WriteResources, PartsWithLocationsAreNamedByThemAndEveryWriteGivesTheSameTree) {
    CarouselFixture f;
    DeliverLocations(f, {"startup.bml", "img/a.png", "b.txt"});
    const test_support::TempDir dir;
    EXPECT_EQ(f.store.WriteResources(dir.File("first"), kPid), 1);
    const Tree first = ReadTree(dir.File("first"));
    EXPECT_EQ(first, (Tree{{"40/0007/startup.bml", "data of startup.bml"},
                           {"40/0007/img/a.png", "data of img/a.png"},
                           {"40/0007/b.txt", "data of b.txt"}}));
    // Again into another folder, and over the same tree: the files are replaced.
    EXPECT_EQ(f.store.WriteResources(dir.File("second"), kPid), 1);
    EXPECT_EQ(f.store.WriteResources(dir.File("first"), kPid), 1);
    EXPECT_EQ(ReadTree(dir.File("second")), first);
    EXPECT_EQ(ReadTree(dir.File("first")), first);
    // A PID without a carousel, or a carousel without resources yet: no folder at all.
    const std::string out = dir.File("out");
    EXPECT_EQ(f.store.WriteResources(out, 0x0141), 0);
    EXPECT_TRUE(f.Dii(MakeDii(1, 100, {{9, 10, 0, {}}}), 0x0141, 0x0400, 0x41));
    EXPECT_EQ(f.store.WriteResources(out, 0x0141), 1);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(WriteResources, OnlyTheCarouselsServiceAndTagAreWritten) {
    CarouselFixture f;
    Deliver(f, {sim::PngModule(3, 0, Bytes("mine"))});
    ResourceRecord other;
    other.length = 5;
    SetText(other.content_type, "image/jpeg");
    f.store.StoreResource(0x0401, CarouselFixture::kTag, 3, Bytes("other"), other);      // service
    f.store.StoreResource(CarouselFixture::kServiceId, 0x41, 3, Bytes("other"), other);  // tag
    const test_support::TempDir dir;
    EXPECT_EQ(f.store.WriteResources(dir.Path(), kPid), 1);
    EXPECT_EQ(ReadTree(dir.Path()), (Tree{{"40/0003.png", "mine"}}));
}

TEST(WriteResources, HostileLocationsStayInsideTheFolder) {
    CarouselFixture f;
    DeliverLocations(f, {"/abs/evil", "../../escape", "..\\..\\escape2", "C:\\win\\evil",
                         "a\x01"
                         "b",
                         "./x/./y", "\x83\x5C.png", ".."});
    const test_support::TempDir dir;
    const std::string out = dir.File("base/out");
    EXPECT_EQ(f.store.WriteResources(out, kPid), 1);
    // Nothing anywhere but below the folder...
    for (const auto& [path, content] : ReadTree(dir.Path())) {
        EXPECT_EQ(path.rfind("base/out/40/0007", 0), 0u) << path;
    }
    // ...and every part there under a name of its own.
    const Tree tree = ReadTree(out);
    EXPECT_EQ(tree.at("40/0007/abs/evil"), "data of /abs/evil");
    EXPECT_EQ(tree.at("40/0007/escape"), "data of ../../escape");
    EXPECT_EQ(tree.at("40/0007/escape2"), "data of ..\\..\\escape2");
    EXPECT_EQ(tree.at("40/0007/C_/win/evil"), "data of C:\\win\\evil");
    EXPECT_EQ(tree.at("40/0007/a_b"),
              "data of a\x01"
              "b");
    EXPECT_EQ(tree.at("40/0007/x/y"), "data of ./x/./y");
    EXPECT_EQ(tree.at("40/0007/\xE3\x82\xBD.png"), "data of \x83\x5C.png");
    EXPECT_EQ(tree.at("40/0007/_"), "data of ..");  // nothing left of the name
}

TEST(WriteResources, FileThatCannotBeCreatedIsSkipped) {
    CarouselFixture f;
    DeliverLocations(f, {"a", "b", "c"});
    const test_support::TempDir dir;
    std::filesystem::create_directories(dir.File("40/0007/b"));  // a folder where a file goes
    EXPECT_EQ(f.store.WriteResources(dir.Path(), kPid), 1);
    EXPECT_EQ(ReadTree(dir.Path()), (Tree{{"40/0007/a", "data of a"}, {"40/0007/c", "data of c"}}));
}

TEST(WriteResources, RecordLeftWithoutDataIsSkipped) {
    CarouselFixture f;
    const auto m = sim::MultipartModule(7, 0, "b",
                                        {{"image/jpeg", "big", std::vector<uint8_t>(500, 'x')},
                                         {"image/jpeg", "small", Bytes("s")}});
    EXPECT_TRUE(f.Dii(MakeDii(1, 4066, {m.entry})));
    {
        // The big part cannot be kept; the small one can.
        const ScopedCarouselAllocationLimit limit(100);
        f.store.ParseModuleContent(CarouselFixture::kServiceId, CarouselFixture::kTag, 7, 0, "",
                                   m.bytes);
    }
    ASSERT_EQ(testing::StoredResources(f.store).size(), 2u);
    const test_support::TempDir dir;
    EXPECT_EQ(f.store.WriteResources(dir.Path(), kPid), 1);
    EXPECT_EQ(ReadTree(dir.Path()), (Tree{{"40/0007/small", "s"}}));
}

}  // namespace
}  // namespace tavrel
