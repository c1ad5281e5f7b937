#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

#include "ts/mjd_time.h"

namespace tavrel {

// Bits of Reservation::Flag.
inline constexpr uint32_t RSV_FILE_GIVEN = 0x00000001;
inline constexpr uint32_t RSV_CHANNEL_VALUE = 0x00000002;
inline constexpr uint32_t RSV_CHANNEL_TEXT = 0x00000004;
inline constexpr uint32_t RSV_SERVICE_LIMIT = 0x00000008;
inline constexpr uint32_t RSV_BY_EVENT = 0x00040000;
inline constexpr uint32_t RSV_BY_DATE = 0x00080000;
inline constexpr uint32_t RSV_DAILY = 0x00100000;
inline constexpr uint32_t RSV_WEEKLY = 0x00200000;
inline constexpr uint32_t RSV_STATE_MASK = 0x7F000000;
inline constexpr uint32_t RSV_USER_DELETED = 0x80000000;
// What survives a state change and what the schedule file keeps.
inline constexpr uint32_t RSV_KEEP_MASK = 0x80FFFFFF;

// State codes, (Flag >> 24) & 0x7F.
inline constexpr uint32_t RSV_STATE_WAITING = 0;
inline constexpr uint32_t RSV_STATE_PREPARING = 1;
inline constexpr uint32_t RSV_STATE_RECORDING = 2;
inline constexpr uint32_t RSV_STATE_FINISHED = 17;
inline constexpr uint32_t RSV_STATE_ERROR = 18;
inline constexpr uint32_t RSV_STATE_INVALID = 19;
inline constexpr uint32_t RSV_STATE_CANCELLED = 20;

// Codes of FinishReservation: a state in bits 24-30, or the user's deletion.
inline constexpr uint32_t kFinishEnded = 0x11000000;
inline constexpr uint32_t kFinishError = 0x12000000;
inline constexpr uint32_t kFinishMissed = 0x13000000;  // its time passed with nothing recorded
inline constexpr uint32_t kFinishDeleted = 0x80000000;

inline constexpr uint32_t kUndeterminedLength = 0xFFFFFFFF;

// One reservation: a plain record of fixed layout, copied whole between the lists, the edit
// form and the active recording. Texts are NUL-terminated; eventName is Shift_JIS as the
// programme guide gives it, the paths are UTF-8.
struct Reservation {
    static constexpr size_t kNameSize = 81;
    static constexpr size_t kPathSize = 260;
    static constexpr size_t kChannelTextSize = 80;
    static constexpr size_t kServiceIdSize = 100;

    uint32_t Flag = 0;
    uint32_t StartDateMJD = 0;  // 0: not known yet (event type)
    uint32_t StartTimeSec = 0;
    uint32_t RecordSec = 0;  // kUndeterminedLength: open end
    uint16_t NetworkID = 0;
    uint16_t StreamID = 0;
    uint16_t ServiceID = 0;
    uint16_t EventID = 0;
    int32_t OffsetStart = 0;  // minutes
    int32_t OffsetEnd = 0;
    uint8_t eventTableKind = 0;
    uint8_t eventVersion = 0;
    std::array<char, kNameSize> eventName{};
    std::array<char, kPathSize> Dir{};
    std::array<char, kPathSize> File{};
    std::array<char, kPathSize> Ext{};
    uint8_t ChVal = 0;
    std::array<char, kChannelTextSize> ChStr{};
    std::array<char, kServiceIdSize> EnableServiceID{};

    uint32_t State() const { return (Flag >> 24) & 0x7F; }
    void SetState(uint32_t state) { Flag = (Flag & RSV_KEEP_MASK) | ((state & 0x7F) << 24); }
    bool ByDate() const { return (Flag & RSV_BY_DATE) != 0; }
    // Date type wins where a record carries both kind bits.
    bool ByEvent() const { return !ByDate() && (Flag & RSV_BY_EVENT) != 0; }
    // Only such records take part in timing and in the overlap check.
    bool HasKnownStart() const { return ByDate() || (ByEvent() && StartDateMJD != 0); }
    MjdTime Start() const { return {StartDateMJD, StartTimeSec}; }
    void SetStart(MjdTime t) {
        StartDateMJD = t.mjd;
        StartTimeSec = t.seconds;
    }
    int64_t StartSeconds() const { return Start().TotalSeconds(); }
    // The service of the limitation: the decimal text's value, low 16 bits.
    uint16_t LimitedService() const;
};

static_assert(std::is_trivially_copyable_v<Reservation>);
static_assert(std::is_standard_layout_v<Reservation>);
static_assert(offsetof(Reservation, NetworkID) == 16 && offsetof(Reservation, OffsetStart) == 24);
static_assert(offsetof(Reservation, eventTableKind) == 32 &&
              offsetof(Reservation, eventName) == 34);
static_assert(offsetof(Reservation, Dir) == 115 && offsetof(Reservation, File) == 375);
static_assert(offsetof(Reservation, Ext) == 635 && offsetof(Reservation, ChVal) == 895);
static_assert(offsetof(Reservation, ChStr) == 896 && offsetof(Reservation, EnableServiceID) == 976);
static_assert(sizeof(Reservation) == 1076);

// The pending list's order: by start, unplaced event reservations last by service and event.
bool ReservationLess(const Reservation& a, const Reservation& b);

// True when a and b are the same reservation as far as preparing and recording go: the same
// kind and, for the event type, the same ids (its start follows the guide), else the same start.
bool SameReservation(const Reservation& a, const Reservation& b);

// Copies text into a fixed field, cut so that the NUL fits.
template <size_t N>
void CopyText(std::array<char, N>& field, std::string_view text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    field.fill('\0');
    text.copy(field.data(), n);
}

// The text of a fixed field up to its NUL.
template <size_t N>
std::string_view TextOf(const std::array<char, N>& field) {
    size_t n = 0;
    while (n < N && field[n] != '\0') {
        ++n;
    }
    return std::string_view(field.data(), n);
}

// A short printf-formatted text (the list's and the status bar's formats).
template <typename... T>
std::string FormatText(const char* format, T... values) {
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof(buffer), format, values...);
    return n > 0 ? std::string(buffer) : std::string();
}

}  // namespace tavrel
