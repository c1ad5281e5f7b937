// Generate a multiplex, analyse it, and compare what the analysis found with what the
// generator put in; ffprobe is an independent witness where it is installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "cli/report_format.h"
#include "platform/temp_dir.h"
#include "sim/multiplex.h"
#include "support/json_value.h"
#include "support/samples.h"

namespace tavrel::cli {
namespace {

using testing::JsonValue;

using Folder = test_support::TempDir;
using test_support::ReadWholeFile;

struct Generated {
    std::string path;
    sim::MultiplexManifest manifest;
};

Generated Generate(const Folder& folder, const sim::MultiplexConfig& config,
                   const std::string& name = "mux.ts") {
    sim::MultiplexGenerator generator(config);
    const std::string path = folder.File(name);
    std::ofstream out(path, std::ios::binary);
    std::vector<uint8_t> chunk;
    while (generator.Next(chunk)) {
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(chunk.size()));
    }
    return {path, generator.Manifest()};
}

JsonValue Analyze(std::vector<std::string> args) {
    args.insert(args.begin(), "analyze");
    args.push_back("--json");
    std::ostringstream out, err;
    const int status = RunCommand(args, out, err);
    EXPECT_EQ(status, kExitOk) << err.str();
    auto v = JsonValue::Parse(out.str());
    EXPECT_TRUE(v) << out.str();
    return v ? *v : JsonValue{};
}

sim::MultiplexConfig Config() {
    sim::MultiplexConfig c;
    c.seconds = 6;
    c.seed = 5;
    c.start = sim::MultiplexConfig::StartAt(2009, 1, 2, 3, 4, 5);
    return c;
}

TEST(EndToEnd, CountsExactlyTheInjectedFaultsAtEveryPacketSize) {
    Folder folder;
    for (const uint32_t size : {188u, 192u, 204u}) {
        sim::MultiplexConfig c = Config();
        c.packet_size = size;
        c.sync_errors = 3;
        c.continuity_errors = 4;
        c.scrambled_packets = 5;
        const Generated g = Generate(folder, c);
        const JsonValue r = Analyze({g.path});
        const JsonValue& s = r["stream"];
        EXPECT_EQ(s["packet_length"].Int(), size);
        EXPECT_EQ(s["sync_errors"].Int(), 3) << size;
        EXPECT_EQ(s["discontinuities"].Int(), 4) << size;
        EXPECT_EQ(s["scrambled"].Int(), 5) << size;
        EXPECT_EQ(s["bytes"].Int(), static_cast<int64_t>(g.manifest.bytes_written));
        // Each sync error costs the damaged unit and nothing else. A 192-byte unit is cut
        // from its sync byte on, so the last one lacks the 4 bytes that would follow it.
        EXPECT_EQ(s["packets"].Int(),
                  static_cast<int64_t>(g.manifest.units_written - 3 - (size == 192 ? 1 : 0)));
        EXPECT_EQ(s["counter_sy"].Int(), 0);
        EXPECT_EQ(s["counter_st"].Int(), 0);
    }
}

TEST(EndToEnd, ServicesNamesTimeAndProgrammesMatchWhatWasSent) {
    Folder folder;
    const Generated g = Generate(folder, Config());
    const JsonValue r = Analyze({g.path});
    const sim::PlannedTransportStream& ts = g.manifest.transport_streams.at(0);
    EXPECT_EQ(r["stream"]["transport_stream_id"].Int(), ts.transport_stream_id);

    const auto& programmes = r["programmes"].Arr();
    ASSERT_EQ(programmes.size(), ts.services.size());
    for (size_t i = 0; i < programmes.size(); ++i) {
        const sim::PlannedService& planned = ts.services[i];
        EXPECT_EQ(programmes[i]["service_id"].Int(), planned.service_id);
        EXPECT_EQ(programmes[i]["pmt_pid"].Int(), planned.pmt_pid);
        EXPECT_EQ(programmes[i]["service_name"].Str(), planned.name);
        const auto& streams = programmes[i]["streams"].Arr();
        ASSERT_EQ(streams.size(), planned.streams.size());
        for (size_t k = 0; k < streams.size(); ++k) {
            EXPECT_EQ(streams[k]["pid"].Int(), planned.streams[k].pid);
            EXPECT_EQ(streams[k]["stream_type"].Int(), planned.streams[k].stream_type);
            EXPECT_EQ(streams[k]["component_tag"].Int(), planned.streams[k].component_tag);
        }
    }

    ASSERT_FALSE(g.manifest.tot_times.empty());
    const JsonValue& time = r["broadcast_time"];
    EXPECT_EQ(time["count"].Int(), static_cast<int64_t>(g.manifest.tot_times.size()));
    EXPECT_EQ(time["first"].Str(), "2009-01-02 03:04:05");
    EXPECT_EQ(time["last"].Str(),
              FormatMjdTime(g.manifest.tot_times.back().mjd, g.manifest.tot_times.back().seconds));

    const auto& networks = r["networks"].Arr();
    ASSERT_EQ(networks.size(), 1u);
    EXPECT_EQ(networks[0]["name"].Str(), g.manifest.network.name);
    EXPECT_EQ(networks[0]["transport_streams"].Arr().size(),
              g.manifest.network.transport_streams.size());

    // The programme on air at the last TOT is the planned one, name and text decoded.
    const auto& events = r["events"].Arr();
    ASSERT_EQ(events.size(), ts.services.size());
    const MjdTime last = g.manifest.tot_times.back();
    for (const JsonValue& service : events) {
        const auto id = service["service_id"].Int();
        const auto it = std::find_if(ts.services.begin(), ts.services.end(),
                                     [&](const auto& s) { return s.service_id == id; });
        ASSERT_NE(it, ts.services.end());
        const sim::PlannedEvent* on_air = nullptr;
        for (const sim::PlannedEvent& e : it->events) {
            if (e.start <= last) {
                on_air = &e;
            }
        }
        ASSERT_NE(on_air, nullptr);
        ASSERT_FALSE(service["present"].IsNull()) << id;
        EXPECT_EQ(service["present"]["event_id"].Int(), on_air->event_id);
        EXPECT_EQ(service["present"]["name"].Str(), on_air->name);
        EXPECT_EQ(service["present"]["text"].Str(), on_air->text);
        if (on_air->duration == kUndefinedDuration) {
            EXPECT_TRUE(service["present"]["duration"].IsNull());
        } else {
            EXPECT_EQ(service["present"]["duration"].Int(), on_air->duration);
        }
    }
}

TEST(EndToEnd, ChannelChangeReportsBothStreamsAndTheSecondOnesServices) {
    Folder folder;
    sim::MultiplexConfig c = Config();
    c.change_seconds = 3;
    const Generated g = Generate(folder, c);
    const JsonValue r = Analyze({g.path});
    const auto& changes = r["stream"]["transport_stream_changes"].Arr();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].Int(), g.manifest.transport_streams[0].transport_stream_id);
    EXPECT_EQ(changes[1].Int(), g.manifest.transport_streams[1].transport_stream_id);
    EXPECT_EQ(r["programmes"][0]["service_id"].Int(),
              g.manifest.transport_streams[1].services[0].service_id);
}

TEST(EndToEnd, GenerateCommandWritesTheSameBytesAsTheGenerator) {
    Folder folder;
    sim::MultiplexConfig c = Config();
    c.seconds = 2;
    const Generated g = Generate(folder, c, "direct.ts");
    const std::string cli = folder.File("cli.ts");
    std::ostringstream out, err;
    ASSERT_EQ(RunCommand({"generate", cli, "--seconds", "2", "--seed", "5", "--start",
                          "2009-01-02 03:04:05"},
                         out, err),
              kExitOk)
        << err.str();
    EXPECT_EQ(ReadWholeFile(cli), ReadWholeFile(g.path));
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"generate"},
                                               {"generate", cli, "--packet-size", "190"},
                                               {"generate", cli, "--start", "2009-02-30 00:00:00"},
                                               {"generate", cli, "--start", "tomorrow"},
                                               {"generate", cli, "--bitrate", "-5"},
                                               {"generate", "/nonexistent/dir/x.ts"}}) {
        std::ostringstream o, e;
        EXPECT_EQ(RunCommand(bad, o, e), kExitUsage) << bad.back();
        EXPECT_FALSE(e.str().empty());
    }
}

TEST(EndToEnd, ExtractedDataBroadcastFilesAreTheOnesSent) {
    Folder folder;
    const Generated g = Generate(folder, Config());
    const std::string out = folder.File("extract");
    const JsonValue r = Analyze({g.path, "--extract", out});
    size_t carousels = 0;
    for (const sim::PlannedService& service : g.manifest.transport_streams.at(0).services) {
        if (!service.carousel) {
            continue;
        }
        ++carousels;
        const JsonValue* reported = nullptr;
        for (const JsonValue& c : r["carousels"].Arr()) {
            if (c["pid"].Int() == service.carousel->pid) {
                reported = &c;
            }
        }
        ASSERT_NE(reported, nullptr) << service.service_id;
        EXPECT_EQ((*reported)["service_id"].Int(), service.service_id);
        ASSERT_FALSE((*reported)["extracted_to"].IsNull());
        const std::filesystem::path root = (*reported)["extracted_to"].Str();
        EXPECT_EQ(root.parent_path(), std::filesystem::path(out));
        char tag[8];
        std::snprintf(tag, sizeof tag, "%02X", service.carousel->component_tag);
        size_t files = 0;
        for (const sim::PlannedModule& m : service.carousel->modules) {
            char id[8];
            std::snprintf(id, sizeof id, "%04X", m.module_id);
            for (const sim::PlannedResource& res : m.resources) {
                std::filesystem::path file;
                if (!res.location.empty()) {
                    file = root / tag / id / res.location;
                } else {
                    for (const auto& entry : std::filesystem::directory_iterator(root / tag)) {
                        if (entry.path().stem() == id && entry.is_regular_file()) {
                            file = entry.path();
                        }
                    }
                }
                ASSERT_TRUE(std::filesystem::is_regular_file(file)) << file;
                EXPECT_EQ(ReadWholeFile(file.string()), res.bytes) << file;
                ++files;
            }
        }
        EXPECT_EQ((*reported)["resources"].Int(), static_cast<int64_t>(files));
        for (const JsonValue& m : (*reported)["modules"].Arr()) {
            EXPECT_TRUE(m["complete"].Bool());
        }
    }
    EXPECT_EQ(carousels, 2u);
}

// ffprobe reads our files and our rewritten PATs with its own demuxer.
class FfprobeWitness : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v ffprobe > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "ffprobe is not installed (apt-get install ffmpeg)";
        }
    }
    static JsonValue Probe(const std::string& path) {
        const std::string out = path + ".probe.json";
        const std::string command =
            "ffprobe -v error -show_programs -show_streams -of json '" + path + "' > '" + out + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(out);
        const auto v = JsonValue::Parse(std::string(std::istreambuf_iterator<char>(in), {}));
        EXPECT_TRUE(v);
        return v ? *v : JsonValue{};
    }
    static std::map<int64_t, std::set<int64_t>> Programmes(const JsonValue& probe) {
        std::map<int64_t, std::set<int64_t>> out;
        for (const JsonValue& p : probe["programs"].Arr()) {
            if (p["program_num"].Int() == 0) {
                continue;  // a service known only from the SDT, not from the PAT
            }
            auto& pids = out[p["program_id"].Int()];
            for (const JsonValue& s : p["streams"].Arr()) {
                pids.insert(std::stoll(s["id"].Str(), nullptr, 16));
            }
        }
        return out;
    }
};

TEST_F(FfprobeWitness, ListsTheSameProgrammesAndPids) {
    Folder folder;
    for (const uint32_t size : {188u, 192u}) {
        sim::MultiplexConfig c = Config();
        c.packet_size = size;
        const Generated g = Generate(folder, c);
        const auto probed = Programmes(Probe(g.path));
        const sim::PlannedTransportStream& ts = g.manifest.transport_streams.at(0);
        ASSERT_EQ(probed.size(), ts.services.size()) << size;
        for (const sim::PlannedService& s : ts.services) {
            ASSERT_TRUE(probed.contains(s.service_id));
            for (const sim::PlannedStream& stream : s.streams) {
                if (stream.stream_type != 0x0D) {  // ffprobe may leave data streams out
                    EXPECT_TRUE(probed.at(s.service_id).contains(stream.pid))
                        << s.service_id << " " << stream.pid;
                }
            }
        }
    }
}

TEST_F(FfprobeWitness, FindsStreamParametersAndFfmpegCopiesEveryStream) {
    Folder folder;
    const Generated g = Generate(folder, Config());
    const JsonValue probe = Probe(g.path);
    for (const JsonValue& s : probe["streams"].Arr()) {
        if (!s.Has("codec_type")) {
            continue;  // the data carousels: ffprobe has no type for them
        }
        if (s["codec_type"].Str() == "video") {
            EXPECT_GT(s["width"].Int(), 0);
        } else if (s["codec_type"].Str() == "audio") {
            EXPECT_EQ(s["sample_rate"].Str(), "48000");
        }
    }
    const std::string command = "ffmpeg -v fatal -i '" + g.path +
                                "' -map 0 -c copy -copy_unknown -f null - > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST_F(FfprobeWitness, SeesOnlyTheKeptProgrammesAfterFiltering) {
    Folder folder;
    const Generated g = Generate(folder, Config());
    const auto& services = g.manifest.transport_streams.at(0).services;
    const std::string dropped = folder.File("dropped.ts");
    Analyze(
        {g.path, "--output", dropped, "--drop-service", std::to_string(services[1].service_id)});
    auto probed = Programmes(Probe(dropped));
    EXPECT_EQ(probed.size(), services.size() - 1);
    EXPECT_FALSE(probed.contains(services[1].service_id));

    const std::string kept = folder.File("kept.ts");
    Analyze({g.path, "--output", kept, "--keep-service", std::to_string(services[2].service_id)});
    probed = Programmes(Probe(kept));
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
        Folder folder;
        const std::string copy = folder.File(name);
        std::filesystem::copy_file(path, copy);
        const JsonValue probe = Probe(copy);
        std::map<int64_t, std::pair<int64_t, std::set<int64_t>>> theirs;
        for (const JsonValue& p : probe["programs"].Arr()) {
            if (p["program_num"].Int() == 0) {
                continue;
            }
            auto& entry = theirs[p["program_id"].Int()];
            entry.first = p["pmt_pid"].Int();
            for (const JsonValue& st : p["streams"].Arr()) {
                entry.second.insert(std::stoll(st["id"].Str(), nullptr, 16));
            }
        }
        const JsonValue ours = Analyze({copy});
        ASSERT_EQ(ours["programmes"].Arr().size(), theirs.size()) << name;
        for (const JsonValue& p : ours["programmes"].Arr()) {
            const auto it = theirs.find(p["service_id"].Int());
            ASSERT_NE(it, theirs.end()) << name << " " << p["service_id"].Int();
            EXPECT_EQ(p["pmt_pid"].Int(), it->second.first);
            std::set<int64_t> pids;
            if (!p["streams"].IsNull()) {
                for (const JsonValue& st : p["streams"].Arr()) {
                    pids.insert(st["pid"].Int());
                }
            }
            // ffprobe lists the streams of the PMTs it found; where it found none, neither
            // did we, or it gave up before it.
            if (!it->second.second.empty()) {
                EXPECT_EQ(pids, it->second.second) << name << " " << p["service_id"].Int();
            }
        }
    }
}

}  // namespace
}  // namespace tavrel::cli
