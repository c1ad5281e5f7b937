#pragma once

// What the service window shows and decides, without a toolkit: the services of the stream
// being received with their streams and programmes, the programmes on air of every service
// in the programme tables, the output filter chosen by ticking services, and the commands of
// the service popup. The window's Qt half draws the state read here and forwards the user's
// actions.
//
// Threads: the five handlers run on the processing thread; everything else on the UI thread.
// Handlers record what they need under the window lock and post the rest to the UI thread,
// where the list state changes. Lock order: the window lock before its own event store's and
// before the service-name query's; the filter, the reservation requests, the dialogs and the
// data-broadcast write run after the window lock was released.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/lock.h"
#include "platform/ui_services.h"
#include "platform/ui_thread.h"
#include "ts/event_record.h"
#include "ts/event_store.h"
#include "ts/mjd_time.h"
#include "ts/program_entries.h"
#include "ui/programme_guide.h"

namespace tavrel {

struct Settings;

// What the capture core lends the window while a capture runs.
struct ServiceWindowQueries {
    // Writes the service's name (Shift_JIS, NUL-terminated) and returns non-zero when known.
    std::function<int(uint16_t service_id, std::span<char> name)> service_name;
    // Applies the filter to output 0: drop these services and PIDs; both empty means no
    // filter.
    std::function<void(std::span<const uint16_t> services, std::span<const uint16_t> pids)> filter;
    // Writes the data-broadcast resources of the carousel on pid below folder: 0 when there
    // is none.
    std::function<int(const std::string& folder, uint16_t pid)> write_resources;
};

// The reservation requests of the popup and the guide. Names are Shift_JIS, as in the
// records.
class ReservationRequests {
public:
    virtual ~ReservationRequests() = default;
    // duration: seconds, kUndefinedDuration when unknown.
    virtual int RequestDateReservation(uint16_t service_id, const MjdTime& start, uint32_t duration,
                                       std::string_view name) = 0;
    virtual int RequestEventReservation(uint16_t network_id, uint16_t stream_id,
                                        uint16_t service_id, uint16_t event_id,
                                        std::string_view name) = 0;
};

// The programme on air and the next one as a row last showed them.
struct ProgrammeSlot {
    EventRecord current{};  // start MJD 0: none
    EventRecord next{};
    std::string current_tip;  // UTF-8, the tooltip form
    std::string next_tip;
};

struct ServiceRow {
    uint16_t service_id = 0;
    uint16_t row_index = 0;  // the number of services known when it was added
    // Every elementary PID of the latest PMT, once each.
    std::vector<uint16_t> pids;
    ProgrammeSlot programmes;
    std::string channel_name;  // UTF-8, at most 29 bytes of Shift_JIS
};

struct GuideRow {
    std::string channel_name;
    ProgrammeSlot programmes;
};

// Columns of the service list and of the guide list.
enum ServiceColumn : size_t {
    kColumnServiceId = 0,
    kColumnChannelName = 1,
    kColumnProgramme = 2,
    kColumnPmt = 3,
    kColumnStreams = 4,
};

struct ServiceListItem {
    uint16_t service_id = 0;
    bool checked = true;
    std::array<std::string, 5> cells;
};

struct GuideListItem {
    uint16_t service_id = 0;
    std::array<std::string, 3> cells;
};

struct ServiceWindowControls {
    bool filter_checked = false;  // "フィルタ実行"
    bool filter_enabled = false;
    bool guide_button_checked = false;  // "放送中の番組一覧"
    bool guide_button_enabled = false;
    bool service_list_enabled = false;
    bool service_list_visible = true;
    bool guide_list_visible = false;
};

// What changed, for the Qt half to redraw.
enum ServiceWindowChange : uint32_t {
    kServiceListChanged = 1,
    kGuideListChanged = 2,
    kControlsChanged = 4,
    kServiceTipsChanged = 8,
    kGuideTipsChanged = 16,
};

// Commands of the service popup.
enum ServiceCommand : uint32_t {
    kCommandDateReserveCurrent = 32783,
    kCommandDateReserveNext = 32784,
    kCommandEventReserveCurrent = 32790,
    kCommandEventReserveNext = 32789,
    kCommandGuide = 32804,
    kCommandDataBroadcast = 32806,
};

// Where the window is placed at start and what is saved at the end.
struct WindowPlacement {
    bool default_place = true;  // keep the dialog's own place and size
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool show = false;
};
// From the settings; an unplaced position stores both coordinates as 0.
WindowPlacement LoadServiceWindowPlacement(Settings& settings);
void SaveServiceWindowPlacement(Settings& settings, const WindowPlacement& placement);

class CServiceWindow {
public:
    // The guide dialog runs modally and returns the chosen line or kGuideClosed.
    using GuideDialog = std::function<int(const ProgrammeGuide& guide)>;
    using ChangeObserver = std::function<void(uint32_t changes)>;

    // ui and services must outlive the window, and the window everything posted to ui.
    CServiceWindow(UiThread& ui, UiServices& services, const Clock& clock);
    CServiceWindow(const CServiceWindow&) = delete;
    CServiceWindow& operator=(const CServiceWindow&) = delete;

    // Set up by the capture core at capture start; empty queries and null requests turn the
    // commands into no-ops.
    void SetQueries(ServiceWindowQueries queries);
    void SetReservationRequests(ReservationRequests* requests);
    // "PROC_EPG" and "PROC_DATA": enable the guide and data-broadcast commands.
    void SetProcessingSwitches(bool guide, bool data);
    void SetGuideDialog(GuideDialog dialog);
    void SetChangeObserver(ChangeObserver observer);

    // --- processing thread ---
    void OnStreamReset();
    void OnProgramme(uint16_t service_id, uint16_t pmt_pid);
    void OnStreams(uint16_t service_id, std::span<const StreamEntry> streams);
    // name: Shift_JIS, up to its NUL or 100 bytes.
    void OnServiceName(uint16_t service_id, std::string_view name);
    void OnEventRecord(const EventRecord& record, uint16_t service_id, bool actual);

    // --- UI thread ---
    void SetVisible(bool visible);
    bool Visible() const { return visible_.load(std::memory_order_acquire); }
    void SetCaptureState(bool enabled);
    // The filter button pressed: on when off, off when on.
    void PressFilterButton();
    // The filter switched off (capture stop, device search, a new transport stream).
    void FilterOff();
    // FilterOff from any thread, in order with the handlers' work.
    void PostFilterOff();
    // The "programmes on air" button: show the guide list instead of the service list.
    void SetGuideListShown(bool shown);
    // The user ticked or unticked a row; ignored while the list is disabled.
    void SetRowChecked(size_t row, bool checked);
    // The broadcast time: refreshes current and next programmes of both lists.
    void OnBroadcastTime(MjdTime now);
    // The status display's relay: posts the refresh, then drops ended programmes from the
    // window's store.
    void RelayBroadcastTime(MjdTime now);

    bool CommandEnabled(uint32_t command) const;
    // A popup command on the selected row (none: nothing). Returns the command's result.
    int RunCommand(uint32_t command, std::optional<size_t> selected_row);
    int ShowGuide(std::optional<size_t> selected_row);
    int WriteDataBroadcast(std::optional<size_t> selected_row);

    // --- state for drawing (any thread; copies) ---
    std::vector<ServiceListItem> ServiceItems() const;
    std::vector<GuideListItem> GuideItems() const;
    ServiceWindowControls Controls() const;
    std::optional<std::string> ServiceRowTip(size_t row) const;
    std::optional<std::string> GuideRowTip(size_t row) const;
    // Copies of the model, for inspection.
    std::optional<ServiceRow> Service(uint16_t service_id) const;
    std::optional<GuideRow> Guide(uint16_t service_id) const;
    bool FilterActive() const;
    // The window's own programme store, filled from the processor's events.
    CEventStore& Events() { return events_; }

private:
    enum class Which { kCurrent, kNext };

    int Reserve(std::optional<size_t> selected_row, Which which, bool by_event);
    // The row's programme, with the lock held; none without a row or a programme.
    std::optional<EventRecord> SelectedProgramme(std::optional<size_t> selected_row,
                                                 Which which) const;
    // The row's service id, with the lock held.
    std::optional<uint16_t> ServiceIdAt(std::optional<size_t> row) const;

    void AddServiceItem(uint16_t service_id, uint16_t pmt_pid, uint16_t row_index, std::string text,
                        bool known);
    void SetServiceCell(uint16_t service_id, size_t column, std::string text,
                        std::string channel_name);
    void AddGuideItem(uint16_t service_id, std::string text);
    void DeleteAllItems();
    // The broadcast-time refresh of one row; true when its texts or tips may have changed.
    bool RefreshRow(uint16_t service_id, MjdTime now, ProgrammeSlot& slot, std::string& cell);
    void Notify(uint32_t changes);
    std::vector<uint16_t> CollectDroppedPids(std::vector<uint16_t>& dropped_services) const;

    UiThread& ui_;
    UiServices& services_ui_;
    const Clock& clock_;
    std::atomic<bool> visible_{false};

    mutable RecursiveLock lock_;
    bool guide_enabled_ = false;
    bool data_enabled_ = false;
    std::map<uint16_t, ServiceRow> services_;
    std::map<uint16_t, GuideRow> guide_rows_;
    bool filter_active_ = false;
    bool capture_enabled_ = false;
    ServiceWindowQueries queries_;
    ReservationRequests* reservations_ = nullptr;
    GuideDialog guide_dialog_;
    ChangeObserver observer_;
    std::vector<ServiceListItem> service_items_;
    std::vector<GuideListItem> guide_items_;
    ServiceWindowControls controls_;

    CEventStore events_;  // locks itself; taken after the window lock
};

}  // namespace tavrel
