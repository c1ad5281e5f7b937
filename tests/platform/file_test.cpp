#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <vector>

#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::ReadWholeFile;
using test_support::TempDir;

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

// Most queries are checked through the folder chain, the recorder and the settings file.
TEST(FileQueries, MakingAFolderAndTheFreeBytesOfAMissingPath) {
    TempDir dir;
    EXPECT_FALSE(PathExists(""));
    EXPECT_TRUE(MakeDirectory(dir.File("sub")));
    EXPECT_FALSE(MakeDirectory(dir.File("sub")));        // exists already
    EXPECT_FALSE(MakeDirectory(dir.File("no/parent")));  // one level at a time
    EXPECT_FALSE(FreeBytesAvailable(dir.File("missing")).has_value());
}

}  // namespace
}  // namespace tavrel
