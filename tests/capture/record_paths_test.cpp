#include "capture/record_paths.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::TempDir;
using test_support::WriteText;

TEST(MakeUniquePath, NumbersTheBaseNameUntilANameIsFree) {
    TempDir dir;
    for (const char* taken : {"a.ts", "a_1.ts", "show.part.ts", "bare"}) {
        WriteText(dir.File(taken), "");
    }
    const std::pair<std::string, std::string> kCases[] = {
        {"b.ts", "b.ts"},  // a free name stays
        {"a.ts", "a_2.ts"},
        {"show.part.ts", "show.part_1.ts"},  // dots of the base name stay
        {"bare", "bare_1"},
    };
    for (const auto& [name, unique] : kCases) {
        std::string path = dir.File(name);
        MakeUniquePath(path);
        EXPECT_EQ(path, dir.File(unique));
    }
}

TEST(CreateDirectoryChain, CreatesEveryMissingLevelAndFailsOnAFileInTheWay) {
    TempDir dir;
    const std::string deep = dir.File("a/b/c");
    EXPECT_TRUE(CreateDirectoryChain(deep));
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_TRUE(CreateDirectoryChain(deep));  // existing folder: fine
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
