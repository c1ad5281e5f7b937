// Generate a multiplex, analyse it, and compare what the analysis found with what the
// generator put in; ffprobe is an independent witness where it is installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/app_harness.h"
#include "cli/cli_run.h"
#include "cli/report_format.h"
#include "platform/temp_dir.h"
#include "sim/multiplex.h"
#include "support/ffprobe.h"
#include "support/samples.h"

namespace tavrel::cli {
namespace {

using test_support::ReadWholeFile;
using Json = nlohmann::json;

struct Generated {
    std::string path;
    sim::MultiplexManifest manifest;
};

// Six seconds from 2009-01-02 03:04:05, changed by `change`, written to `name`.
Generated Generate(const test_support::TempDir& folder,
                   const std::function<void(sim::MultiplexConfig&)>& change = {},
                   const std::string& name = "mux.ts") {
    Generated g;
    const auto bytes = test_support::Multiplex(6, 5, &g.manifest, [&](sim::MultiplexConfig& c) {
        c.start = sim::MultiplexConfig::StartAt(2009, 1, 2, 3, 4, 5);
        if (change) {
            change(c);
        }
    });
    g.path = WriteBytes(folder.File(name), bytes);
    return g;
}

Json Analyze(std::vector<std::string> args) {
    args.insert(args.begin(), "analyze");
    args.push_back("--json");
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    Json v = Json::parse(r.out, nullptr, false);
    EXPECT_FALSE(v.is_discarded()) << r.out;
    return v;
}

// At 204 bytes the tuner also changes channel: both streams are reported, the second one's
// services listed.
TEST(EndToEnd, CountsExactlyTheInjectedFaultsAtEveryPacketSizeAndFollowsAChannelChange) {
    test_support::TempDir folder;
    for (const uint32_t size : {188u, 192u, 204u}) {
        const Generated g = Generate(folder, [&](sim::MultiplexConfig& c) {
            c.packet_size = size;
            c.sync_errors = 3;
            c.continuity_errors = 4;
            c.scrambled_packets = 5;
            c.change_seconds = size == 204 ? std::optional(3.0) : std::nullopt;
        });
        Json r = Analyze({g.path});
        std::vector<int64_t> figures;
        for (const char* key : {"packet_length", "sync_errors", "discontinuities", "scrambled",
                                "bytes", "packets", "counter_sy", "counter_st"}) {
            figures.push_back(r["stream"][key].get<int64_t>());
        }
        // Each sync error costs the damaged unit and nothing else. A 192-byte unit is cut
        // from its sync byte on, so the last one lacks the 4 bytes that would follow it.
        const auto units = static_cast<int64_t>(g.manifest.units_written - 3 - (size == 192));
        EXPECT_EQ(figures,
                  (std::vector<int64_t>{
                      size, 3, 4, 5, static_cast<int64_t>(g.manifest.bytes_written), units, 0, 0}));
        const auto& streams = g.manifest.transport_streams;
        EXPECT_EQ(r["stream"]["transport_stream_changes"],
                  size == 204 ? Json::array({streams[0].transport_stream_id,
                                             streams[1].transport_stream_id})
                              : Json::array({streams[0].transport_stream_id}));
        EXPECT_EQ(r["programmes"][0]["service_id"], streams[size == 204].services[0].service_id);
    }
}

// The generate command writes the generator's bytes (its refusals are in the analyze command's
// table of bad usage); their analysis finds the services, names, time, programmes and data
// broadcast files that the generator planned.
TEST(EndToEnd, ServicesNamesTimeProgrammesAndFilesMatchWhatWasSent) {
    test_support::TempDir folder;
    const Generated g = Generate(folder);
    const std::string cli = folder.File("cli.ts");
    const Outcome made = RunCli(
        {"generate", cli, "--seconds", "6", "--seed", "5", "--start", "2009-01-02 03:04:05"});
    ASSERT_EQ(made.status, kExitOk) << made.err;
    EXPECT_EQ(ReadWholeFile(cli), ReadWholeFile(g.path));
    const std::string out = folder.File("extract");
    Json r = Analyze({cli, "--extract", out});
    const sim::PlannedTransportStream& ts = g.manifest.transport_streams.at(0);
    EXPECT_EQ(r["stream"]["transport_stream_id"], ts.transport_stream_id);

    auto& programmes = r["programmes"];
    ASSERT_EQ(programmes.size(), ts.services.size());
    for (size_t i = 0; i < programmes.size(); ++i) {
        const sim::PlannedService& planned = ts.services[i];
        EXPECT_EQ(programmes[i]["service_id"], planned.service_id);
        EXPECT_EQ(programmes[i]["pmt_pid"], planned.pmt_pid);
        EXPECT_EQ(programmes[i]["service_name"], planned.name);
        std::vector<std::tuple<int64_t, int64_t, int64_t>> found, sent;
        for (auto& st : programmes[i]["streams"]) {
            found.emplace_back(st["pid"], st["stream_type"], st["component_tag"]);
        }
        for (const sim::PlannedStream& st : planned.streams) {
            sent.emplace_back(st.pid, st.stream_type, st.component_tag);
        }
        EXPECT_EQ(found, sent);
    }

    ASSERT_FALSE(g.manifest.tot_times.empty());
    const MjdTime last = g.manifest.tot_times.back();
    auto& time = r["broadcast_time"];
    EXPECT_EQ(std::tuple(time["count"], time["first"], time["last"]),
              std::tuple(static_cast<int64_t>(g.manifest.tot_times.size()), "2009-01-02 03:04:05",
                         FormatMjdTime(last.mjd, last.seconds)));

    auto& networks = r["networks"];
    ASSERT_EQ(networks.size(), 1u);
    EXPECT_EQ(networks[0]["name"], g.manifest.network.name);
    EXPECT_EQ(networks[0]["transport_streams"].size(), g.manifest.network.transport_streams.size());

    // The programme on air at the last TOT is the planned one, name and text decoded.
    auto& events = r["events"];
    ASSERT_EQ(events.size(), ts.services.size());
    for (auto& service : events) {
        const auto id = service["service_id"].get<int64_t>();
        const auto it = std::find_if(ts.services.begin(), ts.services.end(),
                                     [&](const auto& s) { return s.service_id == id; });
        ASSERT_NE(it, ts.services.end());
        const sim::PlannedEvent* on_air = nullptr;
        for (const sim::PlannedEvent& e : it->events) {
            on_air = e.start <= last ? &e : on_air;
        }
        ASSERT_NE(on_air, nullptr);
        auto& present = service["present"];
        ASSERT_FALSE(present.is_null()) << id;
        EXPECT_EQ(std::tuple(present["event_id"], present["name"], present["text"]),
                  std::tuple(on_air->event_id, on_air->name, on_air->text));
        EXPECT_EQ(
            present["duration"].is_null() ? kUndefinedDuration : present["duration"].get<int64_t>(),
            on_air->duration);
    }

    // The files of the data broadcast, each carousel in a folder of its own.
    size_t carousels = 0;
    for (const sim::PlannedService& service : ts.services) {
        if (!service.carousel) {
            continue;
        }
        ++carousels;
        auto& reports = r["carousels"];
        const auto reported = std::find_if(reports.begin(), reports.end(), [&](auto& c) {
            return c["pid"] == service.carousel->pid;
        });
        ASSERT_NE(reported, reports.end()) << service.service_id;
        ASSERT_EQ((*reported)["service_id"], service.service_id);
        ASSERT_FALSE((*reported)["extracted_to"].is_null());
        const std::filesystem::path root = (*reported)["extracted_to"].get<std::string>();
        EXPECT_EQ(root.parent_path(), std::filesystem::path(out));
        char tag[8];
        std::snprintf(tag, sizeof tag, "%02X", service.carousel->component_tag);
        size_t files = 0;
        for (const sim::PlannedModule& m : service.carousel->modules) {
            char id[8];
            std::snprintf(id, sizeof id, "%04X", m.module_id);
            for (const sim::PlannedResource& res : m.resources) {
                // A module of one resource without a location is written as the module's file.
                std::filesystem::path file = root / tag / id / res.location;
                if (res.location.empty()) {
                    for (const auto& entry : std::filesystem::directory_iterator(root / tag)) {
                        file = entry.path().stem() == id && entry.is_regular_file() ? entry.path()
                                                                                    : file;
                    }
                }
                ASSERT_TRUE(std::filesystem::is_regular_file(file)) << file;
                EXPECT_EQ(ReadWholeFile(file.string()), res.bytes) << file;
                ++files;
            }
        }
        EXPECT_EQ((*reported)["resources"], files);
        for (auto& m : (*reported)["modules"]) {
            EXPECT_EQ(m["complete"], true);
        }
    }
    EXPECT_EQ(carousels, 2u);
}

// ffprobe reads our files and our rewritten PATs with its own demuxer.
class FfprobeWitness : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::FfprobeInstalled()) {
            GTEST_SKIP() << "ffprobe is not installed (apt-get install ffmpeg)";
        }
    }
    static testing::FfprobeReport Probe(const std::string& path) {
        auto report = testing::Ffprobe(path);
        EXPECT_TRUE(report) << path;
        return report.value_or(testing::FfprobeReport{});
    }
};

TEST_F(FfprobeWitness, ListsTheSameProgrammesPidsAndStreamParameters) {
    test_support::TempDir folder;
    for (const uint32_t size : {188u, 192u}) {
        const Generated g =
            Generate(folder, [&](sim::MultiplexConfig& c) { c.packet_size = size; });
        testing::FfprobeReport probe = Probe(g.path);
        const auto& probed = probe.programmes;
        const sim::PlannedTransportStream& ts = g.manifest.transport_streams.at(0);
        ASSERT_EQ(probed.size(), ts.services.size()) << size;
        for (const sim::PlannedService& s : ts.services) {
            ASSERT_TRUE(probed.contains(s.service_id));
            for (const sim::PlannedStream& stream : s.streams) {
                // ffprobe may leave data streams out
                EXPECT_TRUE(stream.stream_type == 0x0D ||
                            probed.at(s.service_id).pids.contains(stream.pid))
                    << s.service_id << " " << stream.pid;
            }
        }
        if (size != 188) {
            continue;
        }
        for (auto& s : probe.json["streams"]) {
            // The data carousels have no codec type.
            const std::string type = s.value("codec_type", "");
            EXPECT_TRUE(type != "video" || s["width"] > 0);
            EXPECT_TRUE(type != "audio" || s["sample_rate"] == "48000");
        }
        const std::string command = "ffmpeg -v fatal -i '" + g.path +
                                    "' -map 0 -c copy -copy_unknown -f null - > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

TEST_F(FfprobeWitness, SeesOnlyTheKeptProgrammesAfterFiltering) {
    test_support::TempDir folder;
    const Generated g = Generate(folder);
    const auto& services = g.manifest.transport_streams.at(0).services;
    const std::string dropped = std::to_string(services[1].service_id);
    const std::string kept = std::to_string(services[2].service_id);
    const std::string out = folder.File("out.ts");
    Analyze({g.path, "--output", out, "--drop-service", dropped});
    auto probed = Probe(out).programmes;
    EXPECT_EQ(probed.size(), services.size() - 1);
    EXPECT_FALSE(probed.contains(services[1].service_id));

    Analyze({g.path, "--output", out, "--keep-service", kept});
    probed = Probe(out).programmes;
    ASSERT_EQ(probed.size(), 1u);
    EXPECT_TRUE(probed.contains(services[2].service_id));
}

TEST_F(FfprobeWitness, AgreesOnTheProgrammesOfRealCaptures) {
    for (const char* name : {"isdbt-akita-2020-sections.ts", "tokyomx_psi_all.ts", "test-101.ts"}) {
        const std::string path = testing::SamplePath(name);
        if (!std::filesystem::exists(path)) {
            GTEST_SKIP() << "sample " << path << " is not present";
        }
        // ffprobe wants a writable place for its output next to the input: use a copy.
        test_support::TempDir folder;
        const std::string copy = folder.File(name);
        std::filesystem::copy_file(path, copy);
        const auto theirs = Probe(copy).programmes;
        Json ours = Analyze({copy});
        ASSERT_EQ(ours["programmes"].size(), theirs.size()) << name;
        for (auto& p : ours["programmes"]) {
            const auto it = theirs.find(p["service_id"].get<int64_t>());
            ASSERT_NE(it, theirs.end()) << name << " " << p["service_id"];
            EXPECT_EQ(p["pmt_pid"], it->second.pmt_pid);
            std::set<int64_t> pids;
            for (auto& st : p["streams"]) {  // none when null
                pids.insert(st["pid"].get<int64_t>());
            }
            // ffprobe lists the streams of the PMTs it found; where it found none, neither
            // did we, or it gave up before it.
            EXPECT_TRUE(it->second.pids.empty() || pids == it->second.pids)
                << name << " " << p["service_id"];
        }
    }
}

}  // namespace
}  // namespace tavrel::cli
