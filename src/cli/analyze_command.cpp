#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>

#include "capture/recorder.h"
#include "cli/analyzer.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/report_format.h"

namespace tavrel::cli {
namespace {

constexpr size_t kBlock = 0x8000;

AnalyzeOptions ParseAnalyze(const std::vector<std::string>& args) {
    AnalyzeOptions o;
    bool have_input = false;
    ArgumentWalk walk(args);
    auto service = [](const std::string& text, const std::string& option) {
        return static_cast<uint16_t>(ParseNumber(text, 0, 0xFFFF, option, true));
    };
    while (walk.More()) {
        const std::string& a = walk.Next();
        if (a == "--json") {
            o.json = true;
        } else if (a == "--keep-null") {
            o.keep_null = true;
        } else if (a == "--events") {
            o.all_events = true;
        } else if (a == "--extract") {
            o.extract_dir = walk.Value(a);
        } else if (a == "--output") {
            o.output = walk.Value(a);
        } else if (a == "--drop-service") {
            o.drop_services.push_back(service(walk.Value(a), a));
        } else if (a == "--keep-service") {
            if (o.keep_service) {
                throw UsageError{"--keep-service may be given once"};
            }
            o.keep_service = service(walk.Value(a), a);
        } else if (ArgumentWalk::IsOption(a)) {
            throw UsageError{"unknown option " + a};
        } else if (!have_input) {
            o.input = a;
            have_input = true;
        } else {
            throw UsageError{"only one input may be given"};
        }
    }
    if (!have_input) {
        throw UsageError{"analyze needs a FILE (or - for standard input)"};
    }
    if (o.keep_service && !o.drop_services.empty()) {
        throw UsageError{"--keep-service and --drop-service exclude each other"};
    }
    return o;
}

// Reads a file or standard input in blocks of the capture's size.
class Input {
public:
    explicit Input(const std::string& path) : path_(path) {
        if (path == "-") {
            fd_ = STDIN_FILENO;
            return;
        }
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            throw UsageError{"cannot open " + path + ": " + std::strerror(errno)};
        }
    }
    ~Input() {
        if (fd_ > STDIN_FILENO) {
            close(fd_);
        }
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool IsFile() const { return fd_ != STDIN_FILENO; }

    void Rewind() {
        if (lseek(fd_, 0, SEEK_SET) != 0) {
            throw UsageError{"cannot read " + path_ + " twice: " + std::strerror(errno)};
        }
    }

    // Calls sink with full blocks (the last one may be shorter).
    void ForEachBlock(const std::function<void(const uint8_t*, size_t)>& sink) {
        auto block = std::make_unique<uint8_t[]>(kBlock);
        size_t filled = 0;
        for (;;) {
            const ssize_t n = read(fd_, block.get() + filled, kBlock - filled);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw UsageError{"cannot read " + path_ + ": " + std::strerror(errno)};
            }
            filled += static_cast<size_t>(n);
            if (filled == kBlock || (n == 0 && filled > 0)) {
                sink(block.get(), filled);
                filled = 0;
            }
            if (n == 0) {
                return;
            }
        }
    }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace

int RunAnalyze(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const AnalyzeOptions options = ParseAnalyze(args);
        Input input(options.input);
        const bool filtering = options.keep_service || !options.drop_services.empty();

        std::map<uint16_t, std::vector<StreamEntry>> first_pass_pmts;
        if (filtering && input.IsFile()) {
            // The filter must be in place before the first packet is written: learn every
            // programme's streams first. A pipe cannot be read twice and is filtered from the
            // moment its PMTs are known.
            Analyzer scout(options);
            input.ForEachBlock([&](const uint8_t* d, size_t n) { scout.Feed(d, n); });
            first_pass_pmts = scout.AllPmts();
            input.Rewind();
        }

        std::unique_ptr<Recorder> recorder;
        if (!options.output.empty()) {
            recorder = std::make_unique<Recorder>();
            if (!recorder->Open(options.output)) {
                throw UsageError{"cannot create " + options.output + ": " + std::strerror(errno)};
            }
        }

        Analyzer analyzer(options);
        if (!first_pass_pmts.empty()) {
            analyzer.UsePmtsFrom(first_pass_pmts);
        }
        analyzer.RecordTo(recorder.get());
        input.ForEachBlock([&](const uint8_t* d, size_t n) { analyzer.Feed(d, n); });
        if (!analyzer.Finish()) {
            throw UsageError{"cannot create " + options.extract_dir + ": " + std::strerror(errno)};
        }
        if (recorder) {
            recorder->Close();
        }

        const AnalysisReport& report = analyzer.Report();
        if (report.stream.packets == 0) {
            err << "tavrel-cli: no transport packet grid found in " << options.input
                << " (it takes three packets in a row)\n";
            return kExitUsage;
        }
        out << (options.json ? ReportJson(report, options) : ReportText(report, options));
        return kExitOk;
    } catch (const UsageError& e) {
        err << "tavrel-cli: " << e.message << "\n";
        return kExitUsage;
    }
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::vector<std::string> rest(args.size() > 1 ? args.begin() + 1 : args.end(),
                                        args.end());
    if (!args.empty() && args[0] == "analyze") {
        return RunAnalyze(rest, out, err);
    }
    if (!args.empty() && args[0] == "generate") {
        return RunGenerate(rest, out, err);
    }
    if (!args.empty() && args[0] == "schedule") {
        return RunSchedule(rest, out, err);
    }
    if (!args.empty() && args[0] == "capture") {
        return RunCapture(rest, out, err);
    }
    err << "usage: tavrel-cli analyze FILE|- [--json] [--events] [--keep-null] [--extract DIR]\n"
           "                  [--output OUT.ts] [--drop-service SID]... [--keep-service SID]\n"
           "       tavrel-cli generate OUT.ts [--seconds N] [--packet-size 188|192|204]\n"
           "                  [--bitrate BPS] [--start \"YYYY-MM-DD hh:mm:ss\"] [--seed N]\n"
           "                  [--sync-errors N] [--cc-errors N] [--scrambled N]\n"
           "                  [--tsid-change-at SECONDS]\n"
           "       tavrel-cli schedule list FILE\n"
           "       tavrel-cli schedule add FILE --date \"YYYY-MM-DD hh:mm:ss\" [--length "
           "hh:mm:ss]\n"
           "                  [--service SID] [--daily|--weekly] [--dir DIR] [--file NAME]\n"
           "                  [--ext EXT] [--no-service-limit] [--force]\n"
           "       tavrel-cli schedule add FILE --service SID --event EID [--network NID]\n"
           "                  [--stream TSID] [--offset-start MIN] [--offset-end MIN]\n"
           "                  [--no-service-limit] [--dir DIR] [--file NAME] [--ext EXT]\n"
           "       tavrel-cli schedule remove FILE N\n"
           "       tavrel-cli capture [--list-devices] [--device N] [--in EP] [--out EP|none]\n"
           "                  [--firmware-init] [--source FILE.ts] [multiplex options]\n"
           "                  [--seconds N] [--record FILE | --record-auto] [--stop-timer MIN]\n"
           "                  [--udp HOST:PORT] [--udp-size N] [--settings-dir DIR]\n";
    return kExitUsage;
}

}  // namespace tavrel::cli
