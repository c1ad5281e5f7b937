#include "capture/record_paths.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::TempDir;
using test_support::WriteText;

TEST(MakeUniquePath, LeavesAFreeNameAlone) {
    TempDir dir;
    std::string path = dir.File("a.ts");
    MakeUniquePath(path);
    EXPECT_EQ(path, dir.File("a.ts"));
}

TEST(MakeUniquePath, NumbersTheBaseNameUntilANameIsFree) {
    TempDir dir;
    WriteText(dir.File("a.ts"), "");
    WriteText(dir.File("a_1.ts"), "");
    std::string path = dir.File("a.ts");
    MakeUniquePath(path);
    EXPECT_EQ(path, dir.File("a_2.ts"));
}

TEST(MakeUniquePath, KeepsDotsOfTheBaseNameAndWorksWithoutExtension) {
    TempDir dir;
    WriteText(dir.File("show.part.ts"), "");
    std::string dotted = dir.File("show.part.ts");
    MakeUniquePath(dotted);
    EXPECT_EQ(dotted, dir.File("show.part_1.ts"));

    WriteText(dir.File("bare"), "");
    std::string bare = dir.File("bare");
    MakeUniquePath(bare);
    EXPECT_EQ(bare, dir.File("bare_1"));
}

TEST(CreateDirectoryChain, CreatesEveryMissingLevel) {
    TempDir dir;
    const std::string deep = dir.File("a/b/c");
    EXPECT_TRUE(CreateDirectoryChain(deep));
    EXPECT_TRUE(IsDirectory(dir.File("a")));
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_TRUE(CreateDirectoryChain(deep));  // existing folder: fine
}

TEST(CreateDirectoryChain, FailsOnAFileInTheWayAndOnAPathWithoutSeparator) {
    TempDir dir;
    WriteText(dir.File("file"), "x");
    EXPECT_FALSE(CreateDirectoryChain(dir.File("file")));
    EXPECT_FALSE(CreateDirectoryChain(dir.File("file/sub")));
    EXPECT_FALSE(CreateDirectoryChain("tavrel-relative-name-without-separator"));
    EXPECT_FALSE(PathExists("tavrel-relative-name-without-separator"));
}

TEST(AutomaticRecordingName, IsFormedFromTheLocalTime) {
    const LocalTime at{2009, 1, 2, 3, 4, 5, 678, 5};
    EXPECT_EQ(AutomaticRecordingName(at), "cap-20090102-030405.ts");
    EXPECT_EQ(AutomaticRecordingPath("/rec", at), "/rec/cap-20090102-030405.ts");
    EXPECT_EQ(AutomaticRecordingPath("/rec/", at), "/rec/cap-20090102-030405.ts");
    EXPECT_EQ(AutomaticRecordingName(LocalTime{2010, 12, 31, 23, 59, 59}),
              "cap-20101231-235959.ts");
}

}  // namespace
}  // namespace tavrel
