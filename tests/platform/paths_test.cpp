#include "platform/paths.h"

#include <gtest/gtest.h>

namespace tavrel {
namespace {

TEST(Paths, SeparatorsJoinsAndTheLastName) {
    const std::pair<std::string, std::string> kCases[] = {
        {AddSeparator("/rec"), "/rec/"},
        {AddSeparator("/rec/"), "/rec/"},
        {AddSeparator(""), "/"},
        {JoinPath("/rec", "a.ts"), "/rec/a.ts"},
        {JoinPath("/rec/", "/a.ts"), "/rec/a.ts"},
        {JoinPath("/", "a.ts"), "/a.ts"},
        {JoinPath("", "a.ts"), "a.ts"},
        {ParentFolder("/rec/sub/a.ts"), "/rec/sub"},
        {ParentFolder("/a.ts"), "/"},
        {ParentFolder("a.ts"), ""},
        {std::string(FileName("/rec/a.b.ts")), "a.b.ts"},
        {std::string(FileName("/rec/")), ""},
        {std::string(Extension("/rec/a.b.ts")), ".ts"},
        {std::string(Extension("/rec.d/name")), ""},  // a dot in a folder name is no extension
        {std::string(Extension("/rec/name.")), "."},
        {std::string(RemoveExtension("/rec/a.b.ts")), "/rec/a.b"},
        {std::string(RemoveExtension("/rec.d/name")), "/rec.d/name"},
    };
    for (const auto& [got, want] : kCases) {
        EXPECT_EQ(got, want);
    }
}

}  // namespace
}  // namespace tavrel
