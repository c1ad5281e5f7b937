#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <numeric>
#include <vector>

#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::ReadWholeFile;
using test_support::TempDir;
using test_support::WriteText;

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// Creating, overwriting and refusing a missing folder are checked through the recorder.
TEST(OutputFile, InjectedFailureKeepsEarlierDataAndDropsThePartialTail) {
    TempDir dir;
    const std::string path = dir.File("out.ts");
    OutputFile file;
    const auto first = Bytes(100, 0);
    const auto second = Bytes(100, 100);
    const auto third = Bytes(50, 200);
    EXPECT_FALSE(file.Write(first));  // nothing open yet
    ASSERT_TRUE(file.CreateAlways(path));
    ASSERT_TRUE(file.Write(first));
    {
        // The disk takes 40 bytes of the second write, then is full.
        ScopedWriteFault fault([](std::span<const uint8_t>) { return WriteFault{40, ENOSPC}; });
        EXPECT_FALSE(file.Write(second));
        EXPECT_EQ(errno, ENOSPC);
    }
    ASSERT_TRUE(file.Write(third));  // the hook is gone: writing goes on
    file.Close();

    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST(FileQueries, ExistenceFoldersAndMakingOne) {
    TempDir dir;
    const std::string file = dir.File("plain.txt");
    WriteText(file, "x");
    EXPECT_TRUE(PathExists(file));
    EXPECT_FALSE(IsDirectory(file));
    EXPECT_TRUE(PathExists(dir.Path()));
    EXPECT_TRUE(IsDirectory(dir.Path()));
    EXPECT_FALSE(PathExists(dir.File("nothing")));
    EXPECT_FALSE(PathExists(""));

    EXPECT_TRUE(MakeDirectory(dir.File("sub")));
    EXPECT_TRUE(IsDirectory(dir.File("sub")));
    EXPECT_FALSE(MakeDirectory(dir.File("sub")));        // exists already
    EXPECT_FALSE(MakeDirectory(dir.File("no/parent")));  // one level at a time
}

TEST(FileQueries, FreeBytesOfAnExistingVolumeAndNoneForAMissingPath) {
    TempDir dir;
    const auto free_bytes = FreeBytesAvailable(dir.Path());
    ASSERT_TRUE(free_bytes.has_value());
    const auto space = std::filesystem::space(dir.Path());
    EXPECT_EQ(*free_bytes, space.available);
    EXPECT_FALSE(FreeBytesAvailable(dir.File("missing")).has_value());
}

TEST(FileQueries, CurrentDirectoryIsTheWorkingDirectory) {
    EXPECT_EQ(CurrentDirectory(), std::filesystem::current_path().string());
}

}  // namespace
}  // namespace tavrel
