#include "platform/paths.h"

#include <gtest/gtest.h>

namespace tavrel {
namespace {

TEST(Paths, AddSeparatorAddsExactlyOne) {
    EXPECT_EQ(AddSeparator("/rec"), "/rec/");
    EXPECT_EQ(AddSeparator("/rec/"), "/rec/");
    EXPECT_EQ(AddSeparator(""), "/");
}

TEST(Paths, JoinPutsOneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/rec", "a.ts"), "/rec/a.ts");
    EXPECT_EQ(JoinPath("/rec/", "a.ts"), "/rec/a.ts");
    EXPECT_EQ(JoinPath("/rec", "/a.ts"), "/rec/a.ts");
    EXPECT_EQ(JoinPath("/", "a.ts"), "/a.ts");
    EXPECT_EQ(JoinPath("", "a.ts"), "a.ts");
}

TEST(Paths, ParentFolderDropsTheLastName) {
    EXPECT_EQ(ParentFolder("/rec/sub/a.ts"), "/rec/sub");
    EXPECT_EQ(ParentFolder("/a.ts"), "/");
    EXPECT_EQ(ParentFolder("a.ts"), "");
    EXPECT_EQ(ParentFolder("rel/a.ts"), "rel");
}

TEST(Paths, FileNameAndExtensionLookOnlyAtTheLastName) {
    EXPECT_EQ(FileName("/rec/a.b.ts"), "a.b.ts");
    EXPECT_EQ(FileName("a.ts"), "a.ts");
    EXPECT_EQ(FileName("/rec/"), "");
    EXPECT_EQ(Extension("/rec/a.b.ts"), ".ts");
    EXPECT_EQ(Extension("/rec.d/name"), "");  // a dot in a folder name is no extension
    EXPECT_EQ(Extension("/rec/name."), ".");
    EXPECT_EQ(RemoveExtension("/rec/a.b.ts"), "/rec/a.b");
    EXPECT_EQ(RemoveExtension("/rec.d/name"), "/rec.d/name");
}

}  // namespace
}  // namespace tavrel
