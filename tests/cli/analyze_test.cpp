// The analyze command end to end: options, errors, real captures, filtering.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/analyzer.h"
#include "cli/cli_run.h"
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

using test_support::ReadWholeFile;
using testing::JsonValue;
using testing::StreamBuilder;

TEST(AnalyzeCommand, BadUsageAndFilesWithoutPacketGridGiveOneLineAndStatus2) {
    test_support::TempDir dir;
    const std::string zeros = WriteBytes(dir.File("zero.ts"), std::vector<uint8_t>(5000, 0));
    const std::string empty = WriteBytes(dir.File("empty.ts"), {});
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"analyze"}, ""},
        {{"analyze", "/nonexistent/file.ts"}, "/nonexistent/file.ts"},
        {{"analyze", "x.ts", "--keep-service", "70000"}, "--keep-service"},
        {{"analyze", "x.ts", "--drop-service", "abc"}, "--drop-service"},
        {{"analyze", "x.ts", "--drop-service"}, "--drop-service"},
        {{"analyze", "x.ts", "--frobnicate"}, "--frobnicate"},
        {{"analyze", "a.ts", "b.ts"}, ""},
        {{"analyze", "x.ts", "--keep-service", "1", "--drop-service", "2"}, "exclude each other"},
        {{"analyze", zeros}, "no transport packet grid"},
        {{"analyze", empty}, "no transport packet grid"},
        {{"transmogrify"}, "usage:"},
        {{}, "usage:"},
    };
    for (const auto& c : cases) {
        const Outcome r = RunCli(c.args);
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (!c.args.empty() && c.args[0] == "analyze") {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    // Sync bytes everywhere still line up as a grid.
    EXPECT_EQ(RunCli({"analyze", WriteBytes(dir.File("sync.ts"), std::vector<uint8_t>(5000, 0x47))})
                  .status,
              kExitOk);
}

TEST(AnalyzeCommand, RealCapturesGiveTheirProgrammes) {
    const std::string path = testing::SamplePath("isdbt-akita-2020-sections.ts");
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "sample " << path << " is not present";
    }
    const Outcome r = RunCli({"analyze", path, "--json"});
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
        const Outcome text = RunCli({"analyze", testing::SamplePath(name)});
        EXPECT_TRUE(text.status == kExitOk || text.status == kExitUsage) << name;
        const Outcome json = RunCli({"analyze", testing::SamplePath(name), "--json"});
        EXPECT_TRUE(json.status != kExitOk || JsonValue::Parse(json.out)) << name;
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

    const Outcome r = RunCli({"analyze", path, "--json"});
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
        b.Sections(pid, sim::ModuleDdbSections(1, 1, 0, dii.block_size, m.bytes));
    }
    const test_support::TempDir dir;
    AnalyzeOptions options;
    options.extract_dir = dir.File("out");
    const TickingClock clock;
    Analyzer analyzer(options, clock);
    const std::vector<uint8_t> bytes = b.Bytes();
    analyzer.Feed(bytes.data(), bytes.size());
    ASSERT_TRUE(analyzer.Finish());
    const auto& carousels = analyzer.Report().carousels;
    ASSERT_EQ(carousels.size(), 2u);
    const std::string folder = dir.File("out/1024-20080315-193005");
    for (const auto& carousel : carousels) {
        EXPECT_EQ(carousel.extracted_to.value_or(""), folder);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/40/0001.png"));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/41/0001.png"));
}

// Two programmes: 0x0400 with video 0x0111, 0x0401 with video 0x0211; both use audio 0x0112.
std::vector<uint8_t> TwoProgrammeStream() {
    StreamBuilder b;
    b.Section(0, sim::PatSection(0x7FE3, 0, {{0, 0x10}, {0x400, 0x1F0}, {0x401, 0x1F1}}));
    b.Section(0x1F0, sim::PmtSection(0x400, 0, 0x111, {}, {{0x02, 0x111, {}}, {0x0F, 0x112, {}}}));
    b.Section(0x1F1, sim::PmtSection(0x401, 0, 0x211, {}, {{0x02, 0x211, {}}, {0x0F, 0x112, {}}}));
    const uint8_t payload[4] = {0, 0, 1, 0xE0};
    for (int i = 0; i < 6; ++i) {
        for (const uint16_t pid : {0x111, 0x211, 0x112}) {
            b.RawPayload(pid, i == 0, payload);
        }
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

TEST(AnalyzeCommand, OutputDropsOnlyPidsNoKeptServiceUsesAndRewritesEveryPat) {
    test_support::TempDir dir;
    const std::vector<uint8_t> bytes = TwoProgrammeStream();
    const std::string in = WriteBytes(dir.File("in.ts"), bytes);
    const std::string out = dir.File("out.ts");
    // Without a filter: the stream less the builder's three leading null packets.
    ASSERT_EQ(RunCli({"analyze", in, "--output", out}).status, kExitOk);
    EXPECT_EQ(ReadWholeFile(out), std::vector<uint8_t>(bytes.begin() + 3 * 188, bytes.end()));

    // Audio 0x0112 is shared and stays; PMT PIDs are in no stream list.
    const struct {
        const char* option;
        const char* service;
        uint16_t kept;
    } cases[] = {{"--drop-service", "0x401", 0x400}, {"--keep-service", "1025", 0x401}};
    for (const auto& c : cases) {
        ASSERT_EQ(RunCli({"analyze", in, "--output", out, c.option, c.service}).status, kExitOk);
        const auto ts = ReadWholeFile(out);
        const uint16_t video = c.kept == 0x400 ? 0x111 : 0x211;
        EXPECT_EQ(PidCounts(ts),
                  (std::map<uint16_t, int>{{0, 2}, {0x1F0, 1}, {0x1F1, 1}, {video, 6}, {0x112, 6}}))
            << c.option;
        // Both PATs, including the first one of the file, list only the kept programme.
        for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
            if (ts[i + 1] == 0x40 && ts[i + 2] == 0x00) {
                EXPECT_EQ(std::tuple(ts[i + 7], ts[i + 13], ts[i + 14]),
                          std::tuple(13, 0x04, c.kept & 0xFF));
            }
        }
    }
}

#ifdef TAVREL_CLI_PATH
TEST(AnalyzeCommand, ReadsAPipeAndFiltersOnceThePmtsAreKnown) {
    test_support::TempDir dir;
    const std::string in = WriteBytes(dir.File("in.ts"), TwoProgrammeStream());
    const std::string out = dir.File("out.ts");
    const std::string json = dir.File("report.json");
    const std::string command = "cat '" + in + "' | '" + std::string(TAVREL_CLI_PATH) +
                                "' analyze - --json --drop-service 1025 --output '" + out +
                                "' > '" + json + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto v = JsonValue::Parse(test_support::ReadText(json));
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
