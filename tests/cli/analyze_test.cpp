// The analyze command end to end: options, errors, real captures, filtering.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/analyzer.h"
#include "cli/cli_run.h"
#include "cli/json_writer.h"
#include "platform/clock.h"
#include "platform/temp_dir.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/module_builder.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "support/samples.h"
#include "support/stream_builder.h"

namespace tavrel::cli {
namespace {

using test_support::ReadWholeFile;
using Json = nlohmann::json;
using testing::StreamBuilder;

// Bad usage of analyze and generate, and files without a packet grid: one line, status 2.
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
        {{"generate"}, "needs an output file"},
        {{"generate", "x.ts", "--packet-size", "190"}, "--packet-size"},
        {{"generate", "x.ts", "--start", "2009-02-30 00:00:00"}, "does not exist"},
        {{"generate", "x.ts", "--start", "tomorrow"}, "--start"},
        {{"generate", "x.ts", "--bitrate", "-5"}, "--bitrate"},
        {{"generate", "/nonexistent/dir/x.ts"}, "/nonexistent/dir/x.ts"},
        {{"transmogrify"}, "usage:"},
        {{}, "usage:"},
    };
    for (const auto& c : cases) {
        const Outcome r = RunCli(c.args);
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (!c.args.empty() && c.args[0] != "transmogrify") {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    // Sync bytes everywhere still line up as a grid.
    EXPECT_EQ(RunCli({"analyze", WriteBytes(dir.File("sync.ts"), std::vector<uint8_t>(5000, 0x47))})
                  .status,
              kExitOk);
}

// The programmes of a terrestrial capture; the satellite figures of another read back from the
// JSON exactly as decoded; every sample goes through without harm, as text and as JSON.
TEST(AnalyzeCommand, RealCaptures) {
    const std::string path = testing::SamplePath("isdbt-akita-2020-sections.ts");
    const std::string satellite = testing::SamplePath("test-101.ts");
    if (!std::filesystem::exists(path) || !std::filesystem::exists(satellite)) {
        GTEST_SKIP() << "samples " << path << ", " << satellite << " are not present";
    }
    const auto json = [](const std::string& file) {
        const Outcome r = RunCli({"analyze", file, "--json"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        return std::pair(r.out, Json::parse(r.out, nullptr, false));
    };
    Json v = json(path).second;
    EXPECT_EQ(std::tuple(v["stream"]["packet_length"], v["stream"]["packets"],
                         v["stream"]["transport_stream_id"]),
              std::tuple(188, 20, 0x7ED0));
    auto& programmes = v["programmes"];
    ASSERT_EQ(programmes.size(), 4u);
    EXPECT_EQ(std::tuple(programmes[0]["service_id"], programmes[0]["pmt_pid"],
                         programmes[0]["streams"].size(), programmes[0]["streams"][0]["type_name"]),
              std::tuple(0x4800, 0x01F0, 11u, "m2v"));

    AnalyzeOptions options;
    options.input = satellite;
    Analyzer analyzer(options);
    const std::vector<uint8_t> bytes = ReadWholeFile(satellite);
    analyzer.Feed(bytes.data(), bytes.size());
    ASSERT_TRUE(analyzer.Finish());
    auto [text, s] = json(satellite);
    EXPECT_NE(text.find("\"frequency\": 11727.48,"), std::string::npos);
    size_t compared = 0;
    for (auto& network : s["networks"]) {
        const auto& decoded = analyzer.Report().networks.at(network["network_id"].get<uint16_t>());
        for (auto& ts : network["transport_streams"]) {
            const SatelliteDelivery& d =
                decoded.transport_streams.at(ts["transport_stream_id"].get<uint16_t>());
            auto& j = ts["satellite"];
            EXPECT_EQ(std::tuple(j["frequency"], j["orbital_position"], j["symbol_rate"]),
                      std::tuple(d.frequency, d.orbital_position, d.symbol_rate));
            ++compared;
        }
    }
    EXPECT_EQ(compared, 26u);

    for (const char* name : {"pat_tsid7FE3.ts", "test-101.ts", "test-181.ts", "test-186.1.ts",
                             "test-186.2.ts", "test-203.1.ts", "tokyomx_psi_all.ts"}) {
        const Outcome plain = RunCli({"analyze", testing::SamplePath(name)});
        EXPECT_TRUE(plain.status == kExitOk || plain.status == kExitUsage) << name;
        const Outcome as_json = RunCli({"analyze", testing::SamplePath(name), "--json"});
        EXPECT_TRUE(as_json.status != kExitOk ||
                    !Json::parse(as_json.out, nullptr, false).is_discarded())
            << name;
    }
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
    for (const auto& [carousel, tag] : {std::pair(carousels[0], "/40"), {carousels[1], "/41"}}) {
        EXPECT_EQ(carousel.extracted_to.value_or(""), folder);
        EXPECT_TRUE(std::filesystem::is_regular_file(folder + tag + "/0001.png")) << tag;
    }
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
    } cases[] = {{"--keep-service", "1025", 0x401}, {"--drop-service", "0x401", 0x400}};
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

#ifdef TAVREL_CLI_PATH
    // From a pipe the filter starts once the PMTs are known, here before any video packet.
    const std::string piped = dir.File("piped.ts"), json = dir.File("report.json");
    const std::string command = "cat '" + in + "' | '" + std::string(TAVREL_CLI_PATH) +
                                "' analyze - --json --drop-service 1025 --output '" + piped +
                                "' > '" + json + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Json v = Json::parse(test_support::ReadText(json), nullptr, false);
    EXPECT_EQ(std::tuple(v["input"], v["programmes"].size()), std::tuple("-", 2u));
    EXPECT_EQ(PidCounts(ReadWholeFile(piped)), PidCounts(ReadWholeFile(out)));
#endif
}

// Numbers read back exactly; controls, quotes and broken UTF-8 are escaped into valid JSON.
TEST(JsonWriter, NumbersReadBackExactlyAndStringsAreEscaped) {
    // 11727.48: a BS frequency in MHz, where six digits would give 11727.5.
    for (const char* text :
         {"11727.48", "28.86", "12040", "0.1", "-0.5", "1234567.0625", "1e-07", "2.5e+300"}) {
        JsonWriter j;
        j.BeginArray();
        j.Number("", std::strtod(text, nullptr));
        j.EndArray();
        EXPECT_EQ(j.Text(), std::string("[\n  ") + text + "\n]");
    }
    EXPECT_EQ(JsonWriter::Escape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\n\\u0001");
    // A lone continuation byte and a cut three-byte sequence become U+FFFD; valid text stays.
    EXPECT_EQ(JsonWriter::Escape("\x80x\xE3\x81"), "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(JsonWriter::Escape("字"), "字");
    JsonWriter j;
    j.BeginObject();
    j.String("k", std::string("\xFF\x00z", 3));
    j.EndObject();
    EXPECT_FALSE(Json::parse(j.Text(), nullptr, false).is_discarded());
}

}  // namespace
}  // namespace tavrel::cli
