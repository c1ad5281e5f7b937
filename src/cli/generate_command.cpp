#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>

#include "cli/commands.h"
#include "cli/multiplex_options.h"
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
    while (walk.More()) {
        const std::string& a = walk.Next();
        if (ParseMultiplexOption(a, walk, o.config)) {
            continue;
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
