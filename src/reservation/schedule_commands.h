#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "reservation/reservation.h"
#include "reservation/reservation_manager.h"

namespace tavrel {

// Which list the schedule window shows (the ids of its two radio buttons).
enum class ScheduleView : int { kPending = 1052, kFinished = 1053 };

struct ScheduleRow {
    int index = 0;                       // position in the list shown
    std::array<std::string, 4> columns;  // kind and state, start, length, details (UTF-8)
};

struct ScheduleListState {
    std::string pending_radio;   // "録画予約(%d件)"
    std::string finished_radio;  // "録画終了(%d件)"
    std::vector<ScheduleRow> rows;
};

// "[ 録画中 ]" and the others; empty for a waiting entry.
std::string StateLabel(uint32_t state);
std::array<std::string, 4> ScheduleColumns(const Reservation& r);
ScheduleListState BuildScheduleList(const std::vector<Reservation>& pending,
                                    const std::vector<Reservation>& finished, ScheduleView view);

// The edit dialog: shows the work record and, on OK, leaves the edited record in it.
class ReservationEditor {
public:
    virtual ~ReservationEditor() = default;
    virtual bool Run(Reservation& work) = 0;
};

// What the schedule window and the requests of the service windows do, without the window.
class ScheduleCommands {
public:
    ScheduleCommands(ReservationManager& manager, ReservationEditor& editor)
        : manager_(manager), editor_(editor) {}

    ScheduleView View() const { return view_; }
    // False when it was already shown.
    bool SetView(ScheduleView view);
    ScheduleListState Rebuild() const;

    // "追加", "変更", "削除" and "終了クリア"; `selected` is a row of the list shown. Changing
    // and deleting act on the pending list only.
    void Add();
    void Change(int selected);
    void Delete(int selected);
    void ClearFinished() { manager_.ClearFinished(); }

    // Prefill the work record and run the dialog; true on OK.
    bool NewDateReservation(bool from_programme, uint16_t service_id, MjdTime start,
                            uint32_t duration, std::string_view sjis_name);
    bool NewEventReservation(uint16_t network_id, uint16_t stream_id, uint16_t service_id,
                             uint16_t event_id, std::string_view sjis_name, int channel);
    // From the service windows: a reservation for a programme; 1 (a manager exists).
    int RequestDateReservation(uint16_t service_id, MjdTime start, uint32_t duration,
                               std::string_view sjis_name);
    int RequestEventReservation(uint16_t network_id, uint16_t stream_id, uint16_t service_id,
                                uint16_t event_id, std::string_view sjis_name);

    const Reservation& Work() const { return work_; }
    bool EditorOpen() const { return editor_open_; }

private:
    bool RunEditor(Reservation& record);

    ReservationManager& manager_;
    ReservationEditor& editor_;
    ScheduleView view_ = ScheduleView::kPending;
    Reservation work_;
    bool editor_open_ = false;
};

}  // namespace tavrel
