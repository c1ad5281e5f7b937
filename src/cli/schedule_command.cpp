// `tavrel-cli schedule list|add|remove FILE ...`: schedule.ini edited without a capture, through
// the same prefills and checks as the reservation edit dialog.
#include <functional>
#include <optional>
#include <ostream>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/options.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "reservation/reservation_form.h"
#include "reservation/reservation_manager.h"
#include "reservation/schedule_commands.h"

namespace tavrel::cli {
namespace {

struct AddOptions {
    std::optional<MjdTime> date;
    std::optional<uint32_t> length;
    std::optional<uint16_t> service;  // date type: the limitation; event type: the service
    std::optional<uint16_t> event;
    uint16_t network = 0;
    uint16_t stream = 0;
    std::optional<int32_t> offset_start;
    std::optional<int32_t> offset_end;
    bool no_limit = false;
    int after_end = kAfterEndDelete;
    std::optional<std::string> dir;
    std::optional<std::string> file;
    std::optional<std::string> ext;
    bool force = false;
};

// "hh:mm:ss" (at most 23:59:59, what the dialog's picker holds) or plain seconds.
uint32_t ParseLength(const std::string& text, const std::string& option) {
    unsigned h = 0, m = 0, s = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &h, &m, &s, &tail) == 3) {
        if (h > 23 || m > 59 || s > 59) {
            throw UsageError{option + " needs hh:mm:ss up to 23:59:59, not '" + text + "'"};
        }
        return h * 3600 + m * 60 + s;
    }
    return static_cast<uint32_t>(ParseNumber(text, 0, kSecondsPerDay - 1, option));
}

int32_t ParseMinutes(const std::string& text, const std::string& option) {
    const bool negative = text.starts_with('-');
    const auto magnitude =
        static_cast<int32_t>(ParseNumber(negative ? text.substr(1) : text, 0, 24 * 60, option));
    return negative ? -magnitude : magnitude;
}

uint16_t ParseId(const std::string& text, const std::string& option) {
    return static_cast<uint16_t>(ParseNumber(text, 0, 0xFFFF, option, true));
}

AddOptions ParseAdd(ArgumentWalk& walk) {
    AddOptions o;
    while (walk.More()) {
        const std::string& a = walk.Next();
        if (a == "--date") {
            o.date = ParseDateTime(walk.Value(a), a);
        } else if (a == "--length") {
            o.length = ParseLength(walk.Value(a), a);
        } else if (a == "--service") {
            o.service = ParseId(walk.Value(a), a);
        } else if (a == "--event") {
            o.event = ParseId(walk.Value(a), a);
        } else if (a == "--network") {
            o.network = ParseId(walk.Value(a), a);
        } else if (a == "--stream") {
            o.stream = ParseId(walk.Value(a), a);
        } else if (a == "--offset-start") {
            o.offset_start = ParseMinutes(walk.Value(a), a);
        } else if (a == "--offset-end") {
            o.offset_end = ParseMinutes(walk.Value(a), a);
        } else if (a == "--no-service-limit") {
            o.no_limit = true;
        } else if (a == "--daily") {
            o.after_end = kAfterEndDaily;
        } else if (a == "--weekly") {
            o.after_end = kAfterEndWeekly;
        } else if (a == "--dir") {
            o.dir = walk.Value(a);
        } else if (a == "--file") {
            o.file = walk.Value(a);
        } else if (a == "--ext") {
            o.ext = walk.Value(a);
        } else if (a == "--force") {
            o.force = true;
        } else {
            throw UsageError{"unknown option for schedule add: " + a};
        }
    }
    if (o.event.has_value() == o.date.has_value()) {
        throw UsageError{"schedule add needs either --date or --event"};
    }
    if (o.event && !o.service) {
        throw UsageError{"--event needs --service"};
    }
    if (o.date && (o.offset_start || o.offset_end)) {
        throw UsageError{"--offset-start and --offset-end are for --event"};
    }
    if (o.event && (o.length || o.after_end != kAfterEndDelete)) {
        throw UsageError{"--length, --daily and --weekly are for --date"};
    }
    return o;
}

// The dialog as the options fill it in: the form the prefill gives, changed as asked, then OK.
class OptionsEditor final : public ReservationEditor {
public:
    explicit OptionsEditor(const AddOptions& options) : options_(options) {}

    bool Run(Reservation& work) override {
        ReservationForm form = FillForm(work, nullptr);
        const AddOptions& o = options_;
        if (o.date) {
            form.date = DateFromMjd(o.date->mjd);
            form.time = SplitSeconds(o.date->seconds);
        }
        if (o.length) {
            form.length = SplitSeconds(*o.length);
        }
        if (o.date && o.service) {
            form.service_limit = true;
            form.service_id = std::to_string(*o.service);
        }
        if (o.no_limit) {
            form.service_limit = false;
        }
        form.after_end = o.after_end;
        if (o.offset_start) {
            form.offset_start = std::to_string(*o.offset_start);
        }
        if (o.offset_end) {
            form.offset_end = std::to_string(*o.offset_end);
        }
        if (o.dir) {
            form.dir = *o.dir;
        }
        if (o.file) {
            form.file = *o.file;
            form.file_given = true;
        }
        if (o.ext) {
            form.ext = *o.ext;
        }
        const FormResult result = ReadDialogRecord(form, work, nullptr);
        if (!result.record) {
            message = result.message;
            return false;
        }
        work = *result.record;
        return true;
    }

    std::string message;

private:
    const AddOptions& options_;
};

void PrintList(const ReservationManager& manager, std::ostream& out) {
    const ScheduleListState list =
        BuildScheduleList(manager.Pending(), manager.Finished(), ScheduleView::kPending);
    out << list.pending_radio << "\n";
    for (const ScheduleRow& row : list.rows) {
        out << row.index + 1;
        for (const std::string& column : row.columns) {
            out << "\t" << column;
        }
        out << "\n";
    }
}

}  // namespace

int RunSchedule(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        ArgumentWalk walk(args);
        if (!walk.More()) {
            throw UsageError{"schedule needs list, add or remove"};
        }
        const std::string action = walk.Next();
        if (!walk.More() || ArgumentWalk::IsOption(args[1])) {
            throw UsageError{"schedule " + action + " needs the schedule file"};
        }
        const std::string path = walk.Next();

        ConsoleUi ui(err, false);
        ReservationManager manager(SystemClock::Instance(), &ui, nullptr);
        manager.SetDefaultFolder(CurrentDirectory());
        manager.LoadSchedule(path);

        if (action == "list") {
            if (walk.More()) {
                throw UsageError{"schedule list takes no options"};
            }
            PrintList(manager, out);
            return kExitOk;
        }
        if (action == "remove") {
            if (!walk.More()) {
                throw UsageError{"schedule remove needs the number of an entry"};
            }
            const std::string& number = walk.Next();
            const auto count = manager.Pending().size();
            if (count == 0) {
                throw UsageError{path + " holds no reservation"};
            }
            const auto n = ParseNumber(number, 1, count, "the entry number");
            if (walk.More()) {
                throw UsageError{"schedule remove takes one entry number"};
            }
            manager.FinishReservation(kFinishDeleted, static_cast<int>(n - 1));
        } else if (action == "add") {
            const AddOptions options = ParseAdd(walk);
            ui.SetAnswer(options.force);
            OptionsEditor editor(options);
            ScheduleCommands commands(manager, editor);
            const bool ok = options.event ? commands.NewEventReservation(
                                                options.network, options.stream, *options.service,
                                                *options.event, {}, -1)
                                          : commands.NewDateReservation(false, 0, {}, 0, {});
            if (!ok) {
                err << "tavrel-cli: " << editor.message << "\n";
                return kExitUsage;
            }
            if (!manager.SetReservation(commands.Work(), -1)) {
                err << "tavrel-cli: the reservation overlaps another one; --force adds it anyway\n";
                return kExitFailure;
            }
        } else {
            throw UsageError{"schedule needs list, add or remove, not '" + action + "'"};
        }
        if (!manager.SaveSchedule()) {
            err << "tavrel-cli: cannot write " << path << "\n";
            return kExitFailure;
        }
        PrintList(manager, out);
        return kExitOk;
    } catch (const UsageError& e) {
        err << "tavrel-cli: " << e.message << "\n";
        return kExitUsage;
    }
}

}  // namespace tavrel::cli
