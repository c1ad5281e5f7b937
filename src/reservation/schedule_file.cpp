#include "reservation/schedule_file.h"

#include <cstdarg>
#include <cstdio>
#include <set>

#include "app/settings.h"
#include "platform/profile_file.h"

namespace tavrel {
namespace {

constexpr std::string_view kFileSection = "Tavrel_Schedule";

// Appends one printf-formatted line and its CR LF.
[[gnu::format(printf, 2, 3)]] void Line(std::string& out, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n > 0) {
        out.append(buffer, static_cast<size_t>(n) < sizeof(buffer) ? static_cast<size_t>(n)
                                                                   : sizeof(buffer) - 1);
    }
    out += "\r\n";
}

void FormatOne(std::string& out, const Reservation& r, int number) {
    const uint32_t saved = r.Flag & RSV_KEEP_MASK;
    const CalendarDate date = DateFromMjd(r.StartDateMJD);
    Line(out, "[Schedule_%d]", number);
    Line(out, ";0x%08X", saved);
    Line(out, "Flag=%d", static_cast<int32_t>(saved));
    Line(out, ";Start=%04d/%02d/%02d %02d:%02d", date.year, date.month, date.day,
         static_cast<int>(r.StartTimeSec / 3600), static_cast<int>(r.StartTimeSec / 60 % 60));
    Line(out, "StartDateMJD=%d", static_cast<int32_t>(r.StartDateMJD));
    Line(out, "StartTimeSec=%d", static_cast<int32_t>(r.StartTimeSec));
    Line(out, ";Rec=%02u:%02u:%2u", r.RecordSec / 3600, r.RecordSec / 60 % 60, r.RecordSec % 60);
    Line(out, "RecordSec=%d", static_cast<int32_t>(r.RecordSec));
    Line(out, "NetworkID=%d", r.NetworkID);
    Line(out, "StreamID=%d", r.StreamID);
    Line(out, "ServiceID=%d", r.ServiceID);
    Line(out, "EventID=%d", r.EventID);
    Line(out, "OffsetStart=%d", r.OffsetStart);
    Line(out, "OffsetEnd=%d", r.OffsetEnd);
    Line(out, "Dir=%s", std::string(TextOf(r.Dir)).c_str());
    Line(out, "File=%s", std::string(TextOf(r.File)).c_str());
    Line(out, "Ext=%s", std::string(TextOf(r.Ext)).c_str());
    Line(out, "ChVal=%d", r.ChVal);
    Line(out, "ChStr=%s", std::string(TextOf(r.ChStr)).c_str());
    Line(out, "EnableServiceID=%s", std::string(TextOf(r.EnableServiceID)).c_str());
    out += "\r\n";
}

}  // namespace

std::string FormatSchedule(std::span<const Reservation> pending) {
    std::string out;
    Line(out, "[%s]", std::string(kFileSection).c_str());
    Line(out, "ScheduleNum=%d", static_cast<int>(pending.size()));
    out += "\r\n";
    int number = 1;
    for (const Reservation& r : pending) {
        FormatOne(out, r, number++);
    }
    return out;
}

std::vector<Reservation> ParseSchedule(std::string_view text) {
    const ProfileFile file = ProfileFile::Parse(text);
    std::vector<Reservation> result;
    const int32_t count = Atoi(file.GetString(kFileSection, "ScheduleNum", "0"));
    // Only the sections the file has can hold a reservation: a damaged count of two billion
    // must not mean two billion look-ups.
    std::set<int32_t> numbers;
    for (const std::string& name : file.SectionNames()) {
        constexpr std::string_view kPrefix = "schedule_";
        if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 10) {
            continue;
        }
        std::string lower = name.substr(0, kPrefix.size());
        for (char& c : lower) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        const std::string digits = name.substr(kPrefix.size());
        const int32_t i = Atoi(digits);
        if (lower == kPrefix && i >= 1 && i <= count && std::to_string(i) == digits) {
            numbers.insert(i);
        }
    }
    for (const int32_t i : numbers) {
        const std::string section = "Schedule_" + std::to_string(i);
        auto number = [&](std::string_view key) { return Atoi(file.GetString(section, key, "0")); };
        const auto flag = static_cast<uint32_t>(number("Flag"));
        if (flag == 0) {
            continue;
        }
        Reservation r;
        r.Flag = flag;
        r.StartDateMJD = static_cast<uint32_t>(number("StartDateMJD"));
        r.StartTimeSec = static_cast<uint32_t>(number("StartTimeSec"));
        r.RecordSec = static_cast<uint32_t>(number("RecordSec"));
        r.NetworkID = static_cast<uint16_t>(number("NetworkID"));
        r.StreamID = static_cast<uint16_t>(number("StreamID"));
        r.ServiceID = static_cast<uint16_t>(number("ServiceID"));
        r.EventID = static_cast<uint16_t>(number("EventID"));
        r.OffsetStart = number("OffsetStart");
        r.OffsetEnd = number("OffsetEnd");
        CopyText(r.Dir, file.GetString(section, "Dir", ""));
        CopyText(r.File, file.GetString(section, "File", ""));
        CopyText(r.Ext, file.GetString(section, "Ext", ""));
        r.ChVal = static_cast<uint8_t>(number("ChVal"));
        CopyText(r.ChStr, file.GetString(section, "ChStr", ""));
        CopyText(r.EnableServiceID, file.GetString(section, "EnableServiceID", ""));
        result.push_back(r);
    }
    return result;
}

}  // namespace tavrel
