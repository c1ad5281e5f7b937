// The analyze command end to end: options, errors, real captures, filtering.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/analyzer.h"
#include "cli/commands.h"
#include "platform/clock.h"
#include "platform/temp_dir.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/module_builder.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "support/json_value.h"
#include "support/samples.h"
#include "support/stream_builder.h"

namespace tavrel::cli {
namespace {

using testing::JsonValue;
using testing::StreamBuilder;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunCli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunCommand(args, out, err);
    return {status, out.str(), err.str()};
}

// A scratch folder with a helper that writes a file into it.
struct TempFolder : test_support::TempDir {
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }
};

using test_support::ReadWholeFile;

TEST(AnalyzeCommand, BadUsageGivesOneLineAndStatus2) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"analyze"},
             {"analyze", "/nonexistent/file.ts"},
             {"analyze", "x.ts", "--keep-service", "70000"},
             {"analyze", "x.ts", "--drop-service", "abc"},
             {"analyze", "x.ts", "--drop-service"},
             {"analyze", "x.ts", "--frobnicate"},
             {"analyze", "a.ts", "b.ts"},
             {"analyze", "x.ts", "--keep-service", "1", "--drop-service", "2"},
             {"transmogrify"},
             {}}) {
        const Result r = RunCli(args);
        EXPECT_EQ(r.status, kExitUsage);
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(r.err.empty());
        if (!args.empty() && args[0] == "analyze") {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

TEST(AnalyzeCommand, FileWithoutPacketGridIsAnError) {
    TempFolder dir;
    const Result r = RunCli({"analyze", dir.Write("junk.ts", std::vector<uint8_t>(5000, 0x47))});
    // Sync bytes everywhere still line up as a grid; zeros do not.
    EXPECT_EQ(r.status, kExitOk);
    const Result zero = RunCli({"analyze", dir.Write("zero.ts", std::vector<uint8_t>(5000, 0x00))});
    EXPECT_EQ(zero.status, kExitUsage);
    EXPECT_NE(zero.err.find("no transport packet grid"), std::string::npos);
    const Result empty = RunCli({"analyze", dir.Write("empty.ts", {})});
    EXPECT_EQ(empty.status, kExitUsage);
}

TEST(AnalyzeCommand, RandomAndTruncatedFilesNeverCrash) {
    TempFolder dir;
    std::mt19937 rng(11);
    std::vector<uint8_t> stream =
        StreamBuilder()
            .Section(0, sim::PatSection(0x10, 0, {{0x400, 0x1F0}}))
            .Section(0x1F0, sim::PmtSection(0x400, 0, 0x111, {}, {{0x02, 0x111, {}}}))
            .Bytes();
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<uint8_t> bytes = stream;
        bytes.resize(rng() % (bytes.size() + 1));
        for (int k = 0; k < 8 && !bytes.empty(); ++k) {
            bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        }
        if (trial % 4 == 0) {
            bytes.resize(rng() % 3000);
            for (auto& b : bytes) {
                b = static_cast<uint8_t>(rng());
            }
        }
        const Result r = RunCli({"analyze", dir.Write("t.ts", bytes), "--json"});
        EXPECT_TRUE(r.status == kExitOk || r.status == kExitUsage);
        if (r.status == kExitOk) {
            EXPECT_TRUE(JsonValue::Parse(r.out)) << r.out;
        }
    }
}

TEST(AnalyzeCommand, RealCapturesGiveTheirProgrammes) {
    const std::string path = testing::SamplePath("isdbt-akita-2020-sections.ts");
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "sample " << path << " is not present";
    }
    const Result r = RunCli({"analyze", path, "--json"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const auto v = JsonValue::Parse(r.out);
    ASSERT_TRUE(v) << r.out;
    EXPECT_EQ((*v)["stream"]["packet_length"].Int(), 188);
    EXPECT_EQ((*v)["stream"]["packets"].Int(), 20);
    EXPECT_EQ((*v)["stream"]["transport_stream_id"].Int(), 0x7ED0);
    const auto& programmes = (*v)["programmes"].Arr();
    ASSERT_EQ(programmes.size(), 4u);
    EXPECT_EQ(programmes[0]["service_id"].Int(), 0x4800);
    EXPECT_EQ(programmes[0]["pmt_pid"].Int(), 0x01F0);
    EXPECT_EQ(programmes[0]["streams"].Arr().size(), 11u);
    EXPECT_EQ(programmes[0]["streams"][0]["type_name"].Str(), "m2v");

    // Every sample goes through without harm, as text and as JSON.
    for (const char* name : {"pat_tsid7FE3.ts", "test-101.ts", "test-181.ts", "test-186.1.ts",
                             "test-186.2.ts", "test-203.1.ts", "tokyomx_psi_all.ts"}) {
        const Result text = RunCli({"analyze", testing::SamplePath(name)});
        EXPECT_TRUE(text.status == kExitOk || text.status == kExitUsage) << name;
        const Result json = RunCli({"analyze", testing::SamplePath(name), "--json"});
        if (json.status == kExitOk) {
            EXPECT_TRUE(JsonValue::Parse(json.out)) << name;
        }
    }
}

TEST(AnalyzeCommand, JsonNumbersOfTheRealSatelliteCaptureReadBackExactly) {
    const std::string path = testing::SamplePath("test-101.ts");
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "sample " << path << " is not present";
    }
    AnalyzeOptions options;
    options.input = path;
    Analyzer analyzer(options);
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    analyzer.Feed(bytes.data(), bytes.size());
    ASSERT_TRUE(analyzer.Finish());

    const Result r = RunCli({"analyze", path, "--json"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_NE(r.out.find("\"frequency\": 11727.48,"), std::string::npos);
    const auto v = JsonValue::Parse(r.out);
    ASSERT_TRUE(v);
    size_t compared = 0;
    for (const JsonValue& network : (*v)["networks"].Arr()) {
        const auto& decoded =
            analyzer.Report().networks.at(static_cast<uint16_t>(network["network_id"].Int()));
        for (const JsonValue& ts : network["transport_streams"].Arr()) {
            const SatelliteDelivery& d = decoded.transport_streams.at(
                static_cast<uint16_t>(ts["transport_stream_id"].Int()));
            EXPECT_EQ(ts["satellite"]["frequency"].Number(), d.frequency);
            EXPECT_EQ(ts["satellite"]["orbital_position"].Number(), d.orbital_position);
            EXPECT_EQ(ts["satellite"]["symbol_rate"].Number(), d.symbol_rate);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 26u);
}

// A clock one second later at every reading.
class TickingClock final : public Clock {
public:
    uint32_t TickCount() const override { return clock_.TickCount(); }
    LocalTime Now() const override {
        const LocalTime now = clock_.Now();
        clock_.Advance(1000);
        return now;
    }

private:
    mutable FakeClock clock_{0, LocalTime{2008, 3, 15, 19, 30, 5, 0, 6}};
};

TEST(AnalyzeCommand, ExtractPutsTheCarouselsOfOneServiceIntoOneFolder) {
    StreamBuilder b;
    b.Section(0, sim::PatSection(0x10, 0, {{0x400, 0x1F0}}))
        .Section(0x1F0, sim::PmtSection(0x400, 0, 0x111, {},
                                        {{0x0D, 0x140, sim::StreamIdentifierDescriptor(0x40)},
                                         {0x0D, 0x141, sim::StreamIdentifierDescriptor(0x41)}}));
    for (const uint16_t pid : {0x140, 0x141}) {
        const sim::BuiltModule m = sim::PngModule(1, 0, std::vector<uint8_t>(10, 0x89));
        sim::Dii dii;
        dii.download_id = 1;
        dii.modules = {m.entry};
        b.Section(pid, sim::DiiSection(dii));
        for (const auto& ddb : sim::ModuleDdbSections(1, 1, 0, dii.block_size, m.bytes)) {
            b.Section(pid, ddb);
        }
    }
    const TempFolder dir;
    AnalyzeOptions options;
    options.extract_dir = dir.File("out");
    const TickingClock clock;
    Analyzer analyzer(options, clock);
    const std::vector<uint8_t> bytes = b.Bytes();
    analyzer.Feed(bytes.data(), bytes.size());
    ASSERT_TRUE(analyzer.Finish());
    const auto& carousels = analyzer.Report().carousels;
    ASSERT_EQ(carousels.size(), 2u);
    ASSERT_TRUE(carousels[0].extracted_to && carousels[1].extracted_to);
    EXPECT_EQ(*carousels[0].extracted_to, dir.File("out/1024-20080315-193005"));
    EXPECT_EQ(*carousels[1].extracted_to, *carousels[0].extracted_to);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("out/1024-20080315-193005/40/0001.png")));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("out/1024-20080315-193005/41/0001.png")));
}

// Two programmes: 0x0400 with video 0x0111, 0x0401 with video 0x0211; both use audio 0x0112.
std::vector<uint8_t> TwoProgrammeStream() {
    StreamBuilder b;
    b.Section(0, sim::PatSection(0x7FE3, 0, {{0, 0x10}, {0x400, 0x1F0}, {0x401, 0x1F1}}));
    b.Section(0x1F0, sim::PmtSection(0x400, 0, 0x111, {}, {{0x02, 0x111, {}}, {0x0F, 0x112, {}}}));
    b.Section(0x1F1, sim::PmtSection(0x401, 0, 0x211, {}, {{0x02, 0x211, {}}, {0x0F, 0x112, {}}}));
    const uint8_t payload[4] = {0, 0, 1, 0xE0};
    for (int i = 0; i < 6; ++i) {
        b.RawPayload(0x111, i == 0, payload);
        b.RawPayload(0x211, i == 0, payload);
        b.RawPayload(0x112, i == 0, payload);
    }
    b.Section(0, sim::PatSection(0x7FE3, 0, {{0, 0x10}, {0x400, 0x1F0}, {0x401, 0x1F1}}));
    return b.Bytes();
}

std::map<uint16_t, int> PidCounts(const std::vector<uint8_t>& ts) {
    std::map<uint16_t, int> counts;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        ++counts[static_cast<uint16_t>((ts[i + 1] & 0x1F) << 8 | ts[i + 2])];
    }
    return counts;
}

TEST(AnalyzeCommand, DropOrKeepServiceRemovesOnlyPidsNoKeptServiceUsesAndRewritesEveryPat) {
    TempFolder dir;
    const std::string in = dir.Write("in.ts", TwoProgrammeStream());
    const std::string out = dir.File("out.ts");
    ASSERT_EQ(RunCli({"analyze", in, "--output", out, "--drop-service", "0x401"}).status, kExitOk);
    const auto ts = ReadWholeFile(out);
    // Video 0x0211 was only the dropped service's, audio 0x0112 is shared; PMT PIDs are in no
    // stream list.
    EXPECT_EQ(PidCounts(ts), (std::map<uint16_t, int>{
                                 {0x0000, 2}, {0x01F0, 1}, {0x01F1, 1}, {0x0111, 6}, {0x0112, 6}}));
    // Both PATs, including the first one of the file, list only 0x0400.
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        if (ts[i + 1] == 0x40 && ts[i + 2] == 0x00) {
            EXPECT_EQ(std::tuple(ts[i + 7], ts[i + 13], ts[i + 14]), std::tuple(13, 0x04, 0x00));
        }
    }
    ASSERT_EQ(RunCli({"analyze", in, "--output", out, "--keep-service", "1025"}).status, kExitOk);
    EXPECT_EQ(
        PidCounts(ReadWholeFile(out)),
        (std::map<uint16_t, int>{{0x0000, 2}, {0x01F0, 1}, {0x01F1, 1}, {0x0211, 6}, {0x0112, 6}}));
}

TEST(AnalyzeCommand, OutputWithoutFilterIsTheStreamLessNullPackets) {
    TempFolder dir;
    const auto bytes = TwoProgrammeStream();
    const std::string out = dir.File("out.ts");
    ASSERT_EQ(RunCli({"analyze", dir.Write("in.ts", bytes), "--output", out}).status, kExitOk);
    // The builder starts with three null packets; everything else passes unchanged.
    EXPECT_EQ(ReadWholeFile(out), std::vector<uint8_t>(bytes.begin() + 3 * 188, bytes.end()));
}

#ifdef TAVREL_CLI_PATH
TEST(AnalyzeCommand, ReadsAPipeAndFiltersOnceThePmtsAreKnown) {
    TempFolder dir;
    const std::string in = dir.Write("in.ts", TwoProgrammeStream());
    const std::string out = dir.File("out.ts");
    const std::string json = dir.File("report.json");
    const std::string command = "cat '" + in + "' | '" + std::string(TAVREL_CLI_PATH) +
                                "' analyze - --json --drop-service 1025 --output '" + out +
                                "' > '" + json + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto report = ReadWholeFile(json);
    const auto v = JsonValue::Parse(std::string(report.begin(), report.end()));
    ASSERT_TRUE(v);
    EXPECT_EQ((*v)["input"].Str(), "-");
    EXPECT_EQ((*v)["programmes"].Arr().size(), 2u);
    const auto counts = PidCounts(ReadWholeFile(out));
    EXPECT_EQ(counts.count(0x211), 0u);  // the PMTs come before any video packet here
    EXPECT_EQ(counts.at(0x111), 6);
}
#endif

}  // namespace
}  // namespace tavrel::cli
