#include "platform/profile_file.h"

#include <gtest/gtest.h>

#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::ReadText;
using test_support::TempDir;
using test_support::WriteText;

TEST(ProfileFile, ValuesAreTrimmedAndUnquotedAndWhatIsMissingOrEmptyGivesTheDefault) {
    const ProfileFile profile = ProfileFile::Parse(
        "[S]\r\n  K  =  a b  \r\nQ=\"quoted \"\r\nE=x=y\r\n;C=comment\r\nN=\r\nB=   \r\n"
        "[T]\nK=other\n");
    const std::pair<std::string, std::string> kCases[] = {
        {profile.GetString("S", "K", "-"), "a b"},
        {profile.GetString("s", "k", "-"), "a b"},  // in any letter case
        {profile.GetString("S", "Q", "-"), "quoted "},
        {profile.GetString("S", "E", "-"), "x=y"},  // only the first '=' separates
        {profile.GetString("T", "K", "-"), "other"},
        {profile.GetString("S", "C", "-"), "-"},  // a comment is no key
        {profile.GetString("S", "N", "-"), "-"},  // empty: the caller's default
        {profile.GetString("S", "B", "-"), "-"},
        {profile.GetString("S", "OTHER", "-"), "-"},
        {profile.GetString("U", "K", "-"), "-"},
    };
    for (const auto& [got, want] : kCases) {
        EXPECT_EQ(got, want);
    }
    EXPECT_EQ(profile.Find("S", "N"), std::string());
}

TEST(ProfileFile, WritingAKeyKeepsEverythingElseAndSaveReplacesTheFile) {
    const std::string original =
        "; settings of a test\n"
        "[Other]\n"
        "Keep=me\n"
        "\n"
        "[S]\n"
        "a=1\n"
        "; a comment inside\n"
        "b=2\n"
        "\n"
        "[Last]\n"
        "z=9\n";
    const TempDir dir;
    const std::string path = dir.File("x.ini");
    EXPECT_FALSE(ProfileFile::Load(path).Find("Other", "Keep").has_value());
    WriteText(path, original);
    ProfileFile profile = ProfileFile::Load(path);
    profile.SetString("s", "B", "20");     // replaces, in any letter case
    profile.SetString("S", "c", "3");      // joins its section before the blank line
    profile.SetString("New", "k", " v ");  // new section at the end; value as given
    std::string expected = original;
    expected.replace(expected.find("b=2\n"), 4, "B=20\nc=3\n");
    EXPECT_EQ(profile.Text(), expected + "[New]\nk= v \n");
    ASSERT_TRUE(profile.Save(path));
    EXPECT_EQ(ReadText(path), profile.Text());
    EXPECT_EQ(ProfileFile::Load(path).GetString("S", "C", ""), "3");
    EXPECT_FALSE(profile.Save(dir.File("missing/x.ini")));
    // New lines take the file's line breaks.
    ProfileFile crlf = ProfileFile::Parse("[S]\r\na=1\r\n");
    crlf.SetString("S", "b", "2");
    crlf.SetString("T", "c", "3");
    EXPECT_EQ(crlf.Text(), "[S]\r\na=1\r\nb=2\r\n[T]\r\nc=3\r\n");
}

}  // namespace
}  // namespace tavrel
