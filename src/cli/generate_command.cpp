#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/clock.h"
#include "sim/multiplex.h"
#include "ts/mjd_time.h"

namespace tavrel::cli {
namespace {

struct GenerateOptions {
    std::string output;
    sim::MultiplexConfig config;
};

GenerateOptions ParseGenerate(const std::vector<std::string>& args) {
    GenerateOptions o;
    o.config.start = NowLocal(SystemClock::Instance());
    bool have_output = false;
    ArgumentWalk walk(args);
    auto count = [&](const std::string& option) {
        return static_cast<uint32_t>(ParseNumber(walk.Value(option), 0, 1'000'000, option));
    };
    while (walk.More()) {
        const std::string& a = walk.Next();
        if (a == "--seconds") {
            o.config.seconds = static_cast<double>(ParseNumber(walk.Value(a), 1, 86400, a));
        } else if (a == "--packet-size") {
            o.config.packet_size = static_cast<uint32_t>(ParseNumber(walk.Value(a), 188, 204, a));
            if (o.config.packet_size != 188 && o.config.packet_size != 192 &&
                o.config.packet_size != 204) {
                throw UsageError{"--packet-size is 188, 192 or 204"};
            }
        } else if (a == "--bitrate") {
            o.config.bitrate = ParseNumber(walk.Value(a), 2'000'000, 1'000'000'000, a);
        } else if (a == "--start") {
            o.config.start = ParseDateTime(walk.Value(a), a);
        } else if (a == "--seed") {
            o.config.seed = ParseNumber(walk.Value(a), 0, UINT64_MAX, a);
        } else if (a == "--sync-errors") {
            o.config.sync_errors = count(a);
        } else if (a == "--cc-errors") {
            o.config.continuity_errors = count(a);
        } else if (a == "--scrambled") {
            o.config.scrambled_packets = count(a);
        } else if (a == "--tsid-change-at") {
            o.config.change_seconds = static_cast<double>(ParseNumber(walk.Value(a), 0, 86400, a));
        } else if (ArgumentWalk::IsOption(a)) {
            throw UsageError{"unknown option " + a};
        } else if (!have_output) {
            o.output = a;
            have_output = true;
        } else {
            throw UsageError{"only one output file may be given"};
        }
    }
    if (!have_output) {
        throw UsageError{"generate needs an output file"};
    }
    return o;
}

}  // namespace

int RunGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const GenerateOptions o = ParseGenerate(args);
        std::unique_ptr<sim::MultiplexGenerator> generator;
        try {
            generator = std::make_unique<sim::MultiplexGenerator>(o.config);
        } catch (const std::invalid_argument& e) {
            throw UsageError{e.what()};
        }
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(o.output.c_str(), "wb"),
                                                   &std::fclose);
        if (!file) {
            throw UsageError{"cannot create " + o.output + ": " + std::strerror(errno)};
        }
        std::vector<uint8_t> chunk;
        uint64_t written = 0;
        while (generator->Next(chunk)) {
            if (std::fwrite(chunk.data(), 1, chunk.size(), file.get()) != chunk.size()) {
                err << "tavrel-cli: cannot write " << o.output << ": " << std::strerror(errno)
                    << "\n";
                return kExitFailure;
            }
            written += chunk.size();
        }
        if (std::fclose(file.release()) != 0) {
            err << "tavrel-cli: cannot write " << o.output << ": " << std::strerror(errno) << "\n";
            return kExitFailure;
        }
        out << "wrote " << written << " bytes (" << generator->Manifest().total_units << " "
            << o.config.packet_size << "-byte packets) to " << o.output << "\n";
        return kExitOk;
    } catch (const UsageError& e) {
        err << "tavrel-cli: " << e.message << "\n";
        return kExitUsage;
    }
}

}  // namespace tavrel::cli
