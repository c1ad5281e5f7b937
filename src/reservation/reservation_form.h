#pragma once

#include <optional>
#include <string>
#include <vector>

#include "reservation/reservation.h"
#include "ts/mjd_time.h"

namespace tavrel {

class CDTV_Base;

inline constexpr int kFormKindDate = 0;
inline constexpr int kFormKindEvent = 1;
inline constexpr int kAfterEndDelete = 0;
inline constexpr int kAfterEndDaily = 1;
inline constexpr int kAfterEndWeekly = 2;

struct ChannelChoice {
    std::string text;  // UTF-8
    int value = -1;    // -1: no channel
};

// What the reservation edit dialog shows and the user changes, control by control. The dialog
// draws it and writes the user's input back; the logic below fills and reads it.
struct ReservationForm {
    int kind = -1;  // kFormKindDate or kFormKindEvent; -1: nothing selected
    // Date, time and length pickers; without a date they show "指定なし".
    bool dated = false;
    CalendarDate date;
    ClockTime time;
    ClockTime length;
    bool pickers_enabled = true;
    std::vector<ChannelChoice> channels;
    int channel_selection = 0;
    bool channels_enabled = true;
    std::string channel_text;
    bool channel_text_enabled = true;
    bool service_limit = false;
    std::string service_id;
    bool service_limit_enabled = true;  // the check box, the id and the after-end list
    int after_end = kAfterEndDelete;
    std::string ids;  // "0x%04X/0x%04X/0x%04X", never read back
    std::string event_id;
    bool event_id_enabled = false;
    std::string offset_start = "0";
    std::string offset_end = "0";
    bool offsets_enabled = false;
    bool convert_enabled = false;
    std::string dir;
    bool file_given = false;
    std::string file;
    std::string ext;
};

// The texts of the lists.
inline constexpr const char* kKindTexts[] = {"日時指定", "イベント指定"};
inline constexpr const char* kAfterEndTexts[] = {"予約削除", "翌日の同じ時間帯に予約",
                                                 "翌週の同じ時間帯に予約"};

// The form for work record w; device may be null (no channel capabilities).
ReservationForm FillForm(const Reservation& w, CDTV_Base* device);
// The "日付指定タイプに変換" button: the event's start and length become a date reservation.
void ConvertToDateType(ReservationForm& form, const Reservation& w, CDTV_Base* device);

struct FormResult {
    std::optional<Reservation> record;  // set on success
    std::string message;                // on failure, what to tell the user (may be empty)
};
// OK: the record the form describes, or why it cannot be taken.
FormResult ReadDialogRecord(const ReservationForm& form, const Reservation& w, CDTV_Base* device);

// A programme's start and length for a picker: lengths of a day or more, and the open end,
// show as 23:59:59, the longest the picker holds.
ClockTime LengthForPicker(uint32_t record_sec);

// "0x" and one to four hexadecimal digits; nothing otherwise.
std::optional<uint16_t> ParseEventId(std::string_view text);

}  // namespace tavrel
