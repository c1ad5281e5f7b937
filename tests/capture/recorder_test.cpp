#include "capture/recorder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "capture/record_paths.h"
#include "platform/file.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::ReadWholeFile;
using test_support::TempDir;
using test_support::WriteText;

constexpr size_t kPacket = 188;

// A stream of recognisable bytes: byte i is a function of i, so a lost or doubled block shows.
std::vector<uint8_t> Stream(size_t n, size_t offset = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t at = offset + i;
        v[i] = static_cast<uint8_t>(at * 7 + at / 251);
    }
    return v;
}

// Feeds data in packet-sized deliveries, as the processor does; true when every one succeeded.
bool Deliver(Recorder& recorder, const std::vector<uint8_t>& data) {
    bool ok = true;
    for (size_t at = 0; at < data.size(); at += kPacket) {
        ok = recorder.Write(std::span(data).subspan(at, std::min(kPacket, data.size() - at))) && ok;
    }
    return ok;
}

TEST(Recorder, KeepsEveryDeliveryInOrderWhetherClosedReopenedOrDestroyedFreeSpaceWhileOpen) {
    TempDir dir;
    const std::string first = dir.File("rec.ts");
    WriteText(first, "an older recording");
    const auto data = Stream(300 * 1024);
    FakeClock clock(4242);
    Recorder recorder(clock);
    EXPECT_EQ(recorder.GetRecorderFreeSpace(), 0u);
    ASSERT_TRUE(recorder.Open(first));
    EXPECT_EQ(std::filesystem::file_size(first), 0u);  // overwritten
    // The volume's free space; other programs write to the same disk meanwhile.
    EXPECT_NEAR(static_cast<double>(recorder.GetRecorderFreeSpace()),
                static_cast<double>(std::filesystem::space(dir.Path()).available), 64 << 20);
    EXPECT_EQ(recorder.StartTick(), 4242u);
    EXPECT_EQ(recorder.Directory(), dir.Path());
    EXPECT_TRUE(Deliver(recorder, data));
    // A second Open closes the first file with its buffered bytes.
    clock.SetTick(5000);
    ASSERT_TRUE(recorder.Open(dir.File("second.ts")));
    EXPECT_EQ(recorder.StartTick(), 5000u);
    EXPECT_EQ(ReadWholeFile(first), data);
    EXPECT_EQ(recorder.BytesWritten(), data.size());
    ASSERT_TRUE(Deliver(recorder, Stream(5000)));
    recorder.Close();
    EXPECT_EQ(std::tuple(recorder.IsOpen(), recorder.GetRecorderFreeSpace()),
              std::tuple(false, 0u));
    EXPECT_EQ(ReadWholeFile(dir.File("second.ts")), Stream(5000));
    {
        Recorder destroyed;
        ASSERT_TRUE(destroyed.Open(dir.File("third.ts")));
        ASSERT_TRUE(Deliver(destroyed, Stream(5000, 3)));
    }
    EXPECT_EQ(ReadWholeFile(dir.File("third.ts")), Stream(5000, 3));
    // Without an open file nothing is accepted.
    EXPECT_FALSE(recorder.Write(data));
    EXPECT_FALSE(recorder.Flush(10));
    EXPECT_FALSE(recorder.Open(dir.File("missing/rec.ts")));
    EXPECT_FALSE(recorder.Write(data));
    EXPECT_EQ(recorder.Buffered(), 0u);
}

TEST(Recorder, DataUpToTheFlushSizeStaysBufferedUntilClose) {
    TempDir dir;
    const std::string path = dir.File("rec.ts");
    const auto data = Stream(Recorder::kFlushSize + 1);
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(path));
    ASSERT_TRUE(recorder.Write(std::span(data).first(Recorder::kFlushSize)));
    EXPECT_EQ(recorder.Buffered(), Recorder::kFlushSize);  // exactly the flush size: held
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    // One byte more than the flush size sends one block of exactly the flush size.
    ASSERT_TRUE(recorder.Write(std::span(data).last(1)));
    EXPECT_EQ(recorder.BytesWritten(), Recorder::kFlushSize);
    EXPECT_EQ(recorder.Buffered(), 1u);
    EXPECT_EQ(std::filesystem::file_size(path), Recorder::kFlushSize);
    recorder.Close();
    EXPECT_EQ(ReadWholeFile(path), data);

    // Flush size zero: each delivery goes to the disk at once.
    Recorder direct(SystemClock::Instance(), 0);
    ASSERT_TRUE(direct.Open(path));
    ASSERT_TRUE(direct.Write(Stream(kPacket)));
    EXPECT_EQ(direct.BytesWritten(), kPacket);
    EXPECT_EQ(ReadWholeFile(path), Stream(kPacket));
}

// A failed block is reported and lost whole; a delivery larger than the buffer is cut. Either
// way the recording goes on with the next delivery.
TEST(Recorder, FailedOrOversizedDeliveriesAreReportedAndRecordingGoesOn) {
    TempDir dir;
    const std::string path = dir.File("rec.ts");
    const size_t block = Recorder::kFlushSize;
    const auto data = Stream(3 * block + 1);
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(path));
    // The second disk write finds the disk full after 1000 bytes; the third finds room again.
    int writes = 0;
    ScopedWriteFault fault([&writes](std::span<const uint8_t>) {
        return ++writes == 2 ? WriteFault{1000, ENOSPC} : WriteFault{};
    });
    ASSERT_TRUE(recorder.Write(std::span(data).first(block + 1)));
    EXPECT_FALSE(recorder.Write(std::span(data).subspan(block + 1, block)));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(recorder.BytesWritten(), block);  // unchanged by the failed block
    EXPECT_EQ(std::filesystem::file_size(path), block);
    EXPECT_TRUE(recorder.Write(std::span(data).subspan(2 * block + 1)));
    EXPECT_EQ(recorder.BytesWritten(), 2 * block);
    const auto big = Stream(Recorder::kBufferLimit + 500);
    EXPECT_FALSE(recorder.Write(big));  // only what fits beside the byte still held
    const auto next = Stream(kPacket, 7);
    EXPECT_TRUE(recorder.Write(next));
    recorder.Close();

    // The first and third blocks back to back, with no part of the lost one, then the cut one.
    std::vector<uint8_t> expected;
    for (const auto part : {std::span(data).first(block), std::span(data).subspan(2 * block),
                            std::span(big).first(Recorder::kBufferLimit - 1), std::span(next)}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST(RecordPaths, AutomaticNamesFromTheLocalTimeAndNumberedUntilAFreeOne) {
    const LocalTime at{2009, 1, 2, 3, 4, 5, 678, 5};
    EXPECT_EQ(AutomaticRecordingName(at), "cap-20090102-030405.ts");
    EXPECT_EQ(AutomaticRecordingPath("/rec", at), "/rec/cap-20090102-030405.ts");
    EXPECT_EQ(AutomaticRecordingPath("/rec/", at), "/rec/cap-20090102-030405.ts");
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
    // The single level beneath it.
    EXPECT_FALSE(PathExists(""));
    EXPECT_TRUE(MakeDirectory(dir.File("sub")));
    EXPECT_FALSE(MakeDirectory(dir.File("sub")));        // exists already
    EXPECT_FALSE(MakeDirectory(dir.File("no/parent")));  // one level at a time
    EXPECT_FALSE(FreeBytesAvailable(dir.File("missing")).has_value());
    EXPECT_FALSE(OutputFile().Write(Stream(kPacket)));  // nothing open
}

}  // namespace
}  // namespace tavrel
