#include "ui/service_window_core.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "app/settings.h"
#include "capture/record_paths.h"
#include "databroadcast/resource_writer.h"
#include "platform/file.h"
#include "platform/text_encoding.h"
#include "ui/service_texts.h"

namespace tavrel {
namespace {

constexpr std::string_view kCaption = "tavrel";
constexpr size_t kServiceNameRoom = 99;  // a 100-byte buffer
constexpr size_t kChannelNameRoom = 29;  // a 30-byte field

// A shown programme is replaced when the store has another one (or another version) for the
// moment, and also when none is shown at present: a programme that comes back after a gap,
// or a next programme that was cleared while the current one's end was open, must reappear.
bool Differs(const EventRecord& found, const EventRecord& shown) {
    return shown.start.mjd == 0 || found.kind != shown.kind || found.version != shown.version ||
           found.event_id != shown.event_id;
}

std::string_view RecordText(const std::array<char, EventRecord::kNameSize>& name) {
    return {name.data(),
            static_cast<size_t>(std::find(name.begin(), name.end(), '\0') - name.begin())};
}

size_t CountFiles(const std::string& folder) {
    std::error_code error;
    size_t files = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error)) {
            ++files;
        }
    }
    return files;
}

}  // namespace

WindowPlacement LoadServiceWindowPlacement(Settings& settings) {
    WindowPlacement placement;
    if (settings.filtwnd_pos_x <= kUnplacedPosition ||
        settings.filtwnd_pos_y <= kUnplacedPosition) {
        settings.filtwnd_pos_x = 0;
        settings.filtwnd_pos_y = 0;
    } else {
        placement.default_place = false;
        placement.left = settings.filtwnd_pos_x;
        placement.top = settings.filtwnd_pos_y;
        placement.width = settings.filtwnd_size_x;
        placement.height = settings.filtwnd_size_y;
    }
    placement.show = settings.filtwnd_show != 0;
    return placement;
}

void SaveServiceWindowPlacement(Settings& settings, const WindowPlacement& placement) {
    settings.filtwnd_show = placement.show ? 1 : 0;
    settings.filtwnd_pos_x = placement.left;
    settings.filtwnd_pos_y = placement.top;
    settings.filtwnd_size_x = placement.width;
    settings.filtwnd_size_y = placement.height;
}

CServiceWindow::CServiceWindow(UiThread& ui, UiServices& services, const Clock& clock)
    : ui_(ui), services_ui_(services), clock_(clock) {}

void CServiceWindow::SetQueries(ServiceWindowQueries queries) {
    const ScopedLock hold(lock_);
    queries_ = std::move(queries);
}

void CServiceWindow::SetReservationRequests(ReservationRequests* requests) {
    const ScopedLock hold(lock_);
    reservations_ = requests;
}

void CServiceWindow::SetProcessingSwitches(bool guide, bool data) {
    const ScopedLock hold(lock_);
    guide_enabled_ = guide;
    data_enabled_ = data;
}

void CServiceWindow::SetGuideDialog(GuideDialog dialog) {
    const ScopedLock hold(lock_);
    guide_dialog_ = std::move(dialog);
}

void CServiceWindow::SetChangeObserver(ChangeObserver observer) {
    const ScopedLock hold(lock_);
    observer_ = std::move(observer);
}

void CServiceWindow::Notify(uint32_t changes) {
    ChangeObserver observer;
    {
        const ScopedLock hold(lock_);
        observer = observer_;
    }
    if (changes != 0 && observer) {
        observer(changes);
    }
}

// --- processing thread ---

void CServiceWindow::OnStreamReset() {
    const ScopedLock hold(lock_);
    ui_.Post([this] { FilterOff(); });
    services_.clear();
    guide_rows_.clear();
    events_.Clear();
    ui_.Post([this] { DeleteAllItems(); });
}

void CServiceWindow::OnProgramme(uint16_t service_id, uint16_t pmt_pid) {
    const ScopedLock hold(lock_);
    std::string text = std::to_string(service_id);
    const auto it = services_.find(service_id);
    if (it != services_.end()) {
        ui_.Post([this, service_id, pmt_pid, row = it->second.row_index, text] {
            AddServiceItem(service_id, pmt_pid, row, text, true);
        });
        return;
    }
    ServiceRow row;
    row.service_id = service_id;
    row.row_index = static_cast<uint16_t>(services_.size());
    services_.emplace(service_id, row);
    ui_.Post([this, service_id, pmt_pid, index = row.row_index, text] {
        AddServiceItem(service_id, pmt_pid, index, text, false);
    });
}

void CServiceWindow::OnStreams(uint16_t service_id, std::span<const StreamEntry> streams) {
    const ScopedLock hold(lock_);
    std::string text = StreamColumnText(streams);
    if (const auto it = services_.find(service_id); it != services_.end()) {
        // The whole latest PMT, also past the column's cut: the filter and the data-broadcast
        // command need every PID, and a new version replaces the old list.
        it->second.pids = DistinctPids(streams);
    }
    ui_.Post([this, service_id, text = std::move(text)] {
        SetServiceCell(service_id, kColumnStreams, text, {});
    });
}

void CServiceWindow::OnServiceName(uint16_t service_id, std::string_view name) {
    const ScopedLock hold(lock_);
    ui_.Post([this, service_id, cell = ShiftJisPrefixToUtf8(name, kServiceNameRoom),
              channel = ShiftJisPrefixToUtf8(name, kChannelNameRoom)] {
        SetServiceCell(service_id, kColumnChannelName, cell, channel);
    });
}

void CServiceWindow::OnEventRecord(const EventRecord& record, uint16_t service_id, bool actual) {
    const ScopedLock hold(lock_);
    events_.Insert(record, service_id);
    if (!Visible() || guide_rows_.contains(service_id)) {
        return;
    }
    guide_rows_.emplace(service_id, GuideRow{});
    // '*' marks a service of the stream being received, as its first event said.
    std::string text = std::to_string(service_id) + (actual ? "*" : "");
    ui_.Post([this, service_id, text = std::move(text)] { AddGuideItem(service_id, text); });
}

// --- posted work ---

void CServiceWindow::AddServiceItem(uint16_t service_id, uint16_t pmt_pid, uint16_t row_index,
                                    std::string text, bool known) {
    uint32_t changes = 0;
    {
        const ScopedLock hold(lock_);
        const auto item = std::find_if(service_items_.begin(), service_items_.end(),
                                       [&](const auto& i) { return i.service_id == service_id; });
        if (known) {
            // A repeated PAT entry: the row and its PMT column stay as they are.
            if (item != service_items_.end()) {
                item->cells[kColumnServiceId] = std::move(text);
                changes = kServiceListChanged;
            }
        } else if (services_.contains(service_id)) {
            ServiceListItem added;
            added.service_id = service_id;
            added.checked = true;
            added.cells[kColumnServiceId] = std::move(text);
            const size_t at = std::min<size_t>(row_index, service_items_.size());
            service_items_.insert(service_items_.begin() + static_cast<std::ptrdiff_t>(at),
                                  std::move(added));
            char pmt[16];
            std::snprintf(pmt, sizeof pmt, "0x%04X", pmt_pid);
            ui_.Post([this, service_id, cell = std::string(pmt)] {
                SetServiceCell(service_id, kColumnPmt, cell, {});
            });
            changes = kServiceListChanged | kServiceTipsChanged;
        }
    }
    Notify(changes);
}

void CServiceWindow::SetServiceCell(uint16_t service_id, size_t column, std::string text,
                                    std::string channel_name) {
    uint32_t changes = 0;
    {
        const ScopedLock hold(lock_);
        const auto item = std::find_if(service_items_.begin(), service_items_.end(),
                                       [&](const auto& i) { return i.service_id == service_id; });
        if (item == service_items_.end()) {
            return;
        }
        changes = kServiceListChanged | (text.empty() ? 0u : uint32_t{kServiceTipsChanged});
        item->cells[column] = std::move(text);
        if (column == kColumnChannelName) {
            if (const auto row = services_.find(service_id); row != services_.end()) {
                row->second.channel_name = std::move(channel_name);
            }
        }
    }
    Notify(changes);
}

void CServiceWindow::AddGuideItem(uint16_t service_id, std::string text) {
    {
        const ScopedLock hold(lock_);
        GuideListItem added;
        added.service_id = service_id;
        added.cells[0] = std::move(text);
        const auto at = std::upper_bound(
            guide_items_.begin(), guide_items_.end(), service_id,
            [](uint16_t id, const GuideListItem& item) { return id < item.service_id; });
        guide_items_.insert(at, std::move(added));
    }
    Notify(kGuideListChanged | kGuideTipsChanged);
}

void CServiceWindow::DeleteAllItems() {
    {
        const ScopedLock hold(lock_);
        service_items_.clear();
        guide_items_.clear();
    }
    Notify(kServiceListChanged | kGuideListChanged | kServiceTipsChanged | kGuideTipsChanged);
}

// --- UI thread ---

void CServiceWindow::SetVisible(bool visible) {
    visible_.store(visible, std::memory_order_release);
}

void CServiceWindow::SetCaptureState(bool enabled) {
    {
        const ScopedLock hold(lock_);
        capture_enabled_ = enabled;
        controls_.filter_enabled = enabled;
        controls_.guide_button_enabled = enabled;
        controls_.service_list_enabled = enabled && !filter_active_;
        if (!enabled) {
            controls_.guide_list_visible = false;
            controls_.service_list_visible = true;
            controls_.guide_button_checked = false;
        }
    }
    Notify(kControlsChanged | kServiceTipsChanged | kGuideTipsChanged);
}

std::vector<uint16_t> CServiceWindow::CollectDroppedPids(
    std::vector<uint16_t>& dropped_services) const {
    std::set<uint16_t> dropped;
    std::set<uint16_t> kept;
    for (const ServiceListItem& item : service_items_) {
        const auto row = services_.find(item.service_id);
        if (row == services_.end()) {
            continue;
        }
        if (!item.checked) {
            dropped_services.push_back(item.service_id);
        }
        (item.checked ? kept : dropped).insert(row->second.pids.begin(), row->second.pids.end());
    }
    std::sort(dropped_services.begin(), dropped_services.end());
    dropped_services.erase(std::unique(dropped_services.begin(), dropped_services.end()),
                           dropped_services.end());
    std::vector<uint16_t> pids;
    std::set_difference(dropped.begin(), dropped.end(), kept.begin(), kept.end(),
                        std::back_inserter(pids));
    return pids;
}

void CServiceWindow::PressFilterButton() {
    std::vector<uint16_t> services;
    std::vector<uint16_t> pids;
    decltype(queries_.filter) filter;
    bool switch_off = false;
    {
        const ScopedLock hold(lock_);
        if (!controls_.filter_enabled) {
            return;
        }
        switch_off = filter_active_;
        if (!switch_off) {
            filter_active_ = true;
            controls_.filter_checked = true;
            pids = CollectDroppedPids(services);
            controls_.service_list_enabled = false;
            filter = queries_.filter;
        }
    }
    if (switch_off) {
        FilterOff();
        return;
    }
    // Called without the window lock: applying the filter may wait for the packet loop.
    if (filter) {
        filter(services, pids);
    }
    Notify(kControlsChanged | kServiceListChanged);
}

void CServiceWindow::FilterOff() {
    decltype(queries_.filter) filter;
    {
        const ScopedLock hold(lock_);
        filter_active_ = false;
        controls_.filter_checked = false;
        controls_.service_list_enabled = capture_enabled_;
        filter = queries_.filter;
    }
    if (filter) {
        filter({}, {});
    }
    Notify(kControlsChanged);
}

void CServiceWindow::PostFilterOff() {
    ui_.Post([this] { FilterOff(); });
}

bool CServiceWindow::FilterActive() const {
    const ScopedLock hold(lock_);
    return filter_active_;
}

void CServiceWindow::SetGuideListShown(bool shown) {
    {
        const ScopedLock hold(lock_);
        controls_.guide_button_checked = shown;
        controls_.guide_list_visible = shown;
        controls_.service_list_visible = !shown;
    }
    Notify(kControlsChanged | kServiceTipsChanged | kGuideTipsChanged);
}

void CServiceWindow::SetRowChecked(size_t row, bool checked) {
    {
        const ScopedLock hold(lock_);
        if (!controls_.service_list_enabled || row >= service_items_.size()) {
            return;
        }
        service_items_[row].checked = checked;
    }
    Notify(kServiceListChanged);
}

bool CServiceWindow::RefreshRow(uint16_t service_id, MjdTime now, ProgrammeSlot& slot,
                                std::string& cell) {
    const std::unique_ptr<EventRecord> on_air = events_.EventAt(service_id, now);
    if (!on_air) {
        cell.clear();
        slot.current.start.mjd = 0;
        slot.current_tip.clear();
        slot.next.start.mjd = 0;
        slot.next_tip.clear();
        return true;
    }
    bool changed = false;
    if (Differs(*on_air, slot.current)) {
        slot.current = *on_air;
        cell = FormatEventText(kEventCellForm, *on_air);
        slot.current_tip = FormatEventText(kEventTipForm, *on_air);
        changed = true;
    }
    std::unique_ptr<EventRecord> following;
    if (on_air->duration != kUndefinedDuration) {
        MjdTime after = on_air->end;
        AddSeconds(after, 1);
        following = events_.EventAt(service_id, after);
    }
    if (!following) {
        slot.next.start.mjd = 0;
        slot.next_tip.clear();
        return true;
    }
    if (Differs(*following, slot.next)) {
        slot.next = *following;
        slot.next_tip = FormatEventText(kEventTipForm, *following);
        changed = true;
    }
    return changed;
}

void CServiceWindow::OnBroadcastTime(MjdTime now) {
    uint32_t changes = 0;
    {
        const ScopedLock hold(lock_);
        for (ServiceListItem& item : service_items_) {
            const auto row = services_.find(item.service_id);
            if (row != services_.end() && RefreshRow(item.service_id, now, row->second.programmes,
                                                     item.cells[kColumnProgramme])) {
                changes |= kServiceListChanged | kServiceTipsChanged;
            }
        }
        for (GuideListItem& item : guide_items_) {
            const auto row = guide_rows_.find(item.service_id);
            if (row == guide_rows_.end()) {
                continue;
            }
            GuideRow& guide = row->second;
            if (guide.channel_name.empty() && queries_.service_name) {
                std::array<char, kServiceNameRoom + 1> name{};
                if (queries_.service_name(item.service_id, name) != 0) {
                    const std::string_view sjis(name.data(), name.size());
                    item.cells[kColumnChannelName] = ShiftJisPrefixToUtf8(sjis, kServiceNameRoom);
                    guide.channel_name = ShiftJisPrefixToUtf8(sjis, kChannelNameRoom);
                    changes |= kGuideListChanged | kGuideTipsChanged;
                }
            }
            if (RefreshRow(item.service_id, now, guide.programmes, item.cells[kColumnProgramme])) {
                changes |= kGuideListChanged | kGuideTipsChanged;
            }
        }
    }
    Notify(changes);
}

void CServiceWindow::RelayBroadcastTime(MjdTime now) {
    ui_.Post([this, now] { OnBroadcastTime(now); });
    events_.PurgeEnded(now, CEventStore::kAllServices);
}

// --- commands ---

bool CServiceWindow::CommandEnabled(uint32_t command) const {
    const ScopedLock hold(lock_);
    switch (command) {
        case kCommandGuide:
            return guide_enabled_;
        case kCommandDataBroadcast:
            return data_enabled_;
        default:
            return true;
    }
}

int CServiceWindow::RunCommand(uint32_t command, std::optional<size_t> selected_row) {
    if (!CommandEnabled(command)) {
        return 0;
    }
    switch (command) {
        case kCommandDateReserveCurrent:
            return Reserve(selected_row, Which::kCurrent, false);
        case kCommandDateReserveNext:
            return Reserve(selected_row, Which::kNext, false);
        case kCommandEventReserveCurrent:
            return Reserve(selected_row, Which::kCurrent, true);
        case kCommandEventReserveNext:
            return Reserve(selected_row, Which::kNext, true);
        case kCommandGuide:
            return ShowGuide(selected_row);
        case kCommandDataBroadcast:
            return WriteDataBroadcast(selected_row);
        default:
            return 0;
    }
}

std::optional<uint16_t> CServiceWindow::ServiceIdAt(std::optional<size_t> row) const {
    if (!row || *row >= service_items_.size()) {
        return std::nullopt;
    }
    const uint16_t service_id = service_items_[*row].service_id;
    if (!services_.contains(service_id)) {
        return std::nullopt;
    }
    return service_id;
}

std::optional<EventRecord> CServiceWindow::SelectedProgramme(std::optional<size_t> selected_row,
                                                             Which which) const {
    const std::optional<uint16_t> service_id = ServiceIdAt(selected_row);
    if (!service_id) {
        return std::nullopt;
    }
    const ProgrammeSlot& slot = services_.at(*service_id).programmes;
    const EventRecord& record = which == Which::kCurrent ? slot.current : slot.next;
    if (record.start.mjd == 0) {
        return std::nullopt;
    }
    return record;
}

// The requests may open a modal dialog: they run without the window lock, so the processing
// thread's handlers never wait for the user.
int CServiceWindow::Reserve(std::optional<size_t> selected_row, Which which, bool by_event) {
    std::optional<EventRecord> record;
    ReservationRequests* requests = nullptr;
    {
        const ScopedLock hold(lock_);
        record = SelectedProgramme(selected_row, which);
        requests = reservations_;
    }
    if (!record || requests == nullptr) {
        return 0;
    }
    const std::string_view name = RecordText(record->name);
    if (by_event) {
        return requests->RequestEventReservation(0, 0, record->service_id, record->event_id, name);
    }
    return requests->RequestDateReservation(record->service_id, record->start, record->duration,
                                            name);
}

int CServiceWindow::ShowGuide(std::optional<size_t> selected_row) {
    std::vector<EventRecord> events;
    GuideDialog dialog;
    ReservationRequests* requests = nullptr;
    uint16_t service_id = 0;
    {
        const ScopedLock hold(lock_);
        const std::optional<uint16_t> selected = ServiceIdAt(selected_row);
        // One call finds and copies the service's events: the processing thread may clear
        // the store at any time, so no map of it is kept across calls.
        if (!selected || !events_.SortedEvents(*selected, events)) {
            return 0;
        }
        service_id = *selected;
        dialog = guide_dialog_;
        requests = reservations_;
    }
    if (!dialog) {
        return 0;
    }
    const ProgrammeGuide guide(service_id, std::move(events));
    const int chosen = dialog(guide);
    if (chosen == kGuideClosed) {
        return 0;
    }
    if (chosen >= 0 && static_cast<size_t>(chosen) < guide.Events().size() && requests) {
        const EventRecord& record = guide.Events()[static_cast<size_t>(chosen)];
        requests->RequestEventReservation(0, 0, record.service_id, record.event_id,
                                          RecordText(record.name));
    }
    return 1;
}

int CServiceWindow::WriteDataBroadcast(std::optional<size_t> selected_row) {
    std::vector<uint16_t> pids;
    decltype(queries_.write_resources) write;
    uint16_t service_id = 0;
    {
        const ScopedLock hold(lock_);
        const std::optional<uint16_t> selected = ServiceIdAt(selected_row);
        if (!selected) {
            return 0;
        }
        service_id = *selected;
        pids = services_.at(service_id).pids;
        write = queries_.write_resources;
    }
    const std::optional<std::string> chosen = services_ui_.BrowseForFolder();
    if (!chosen) {
        return 0;
    }
    if (pids.empty() || !write) {
        services_ui_.ShowMessage("書き出すデータ放送がありません。", kCaption, MessageButtons::kOk);
        return 0;
    }
    const std::string folder = ResourceFolderPath(*chosen, service_id, clock_);
    const bool existed = IsDirectory(folder);
    if (!CreateDirectoryChain(folder)) {
        services_ui_.ShowMessage("フォルダを作成できません。\n" + folder, kCaption,
                                 MessageButtons::kOk);
        return 0;
    }
    for (const uint16_t pid : pids) {
        write(folder, pid);
    }
    const size_t files = CountFiles(folder);
    if (files == 0) {
        // Made only to know that it can be: a folder appears only with files in it.
        if (!existed) {
            std::error_code ignored;
            std::filesystem::remove(folder, ignored);
        }
        services_ui_.ShowMessage("書き出すデータ放送のファイルがありませんでした。", kCaption,
                                 MessageButtons::kOk);
        return 0;
    }
    services_ui_.ShowMessage(
        "データ放送のファイルを " + std::to_string(files) + " 個書き出しました。\n" + folder,
        kCaption, MessageButtons::kOk);
    return 1;
}

// --- state for drawing ---

std::vector<ServiceListItem> CServiceWindow::ServiceItems() const {
    const ScopedLock hold(lock_);
    return service_items_;
}

std::vector<GuideListItem> CServiceWindow::GuideItems() const {
    const ScopedLock hold(lock_);
    return guide_items_;
}

ServiceWindowControls CServiceWindow::Controls() const {
    const ScopedLock hold(lock_);
    return controls_;
}

std::optional<std::string> CServiceWindow::ServiceRowTip(size_t row) const {
    const ScopedLock hold(lock_);
    const std::optional<uint16_t> service_id = ServiceIdAt(row);
    if (!service_id) {
        return std::nullopt;
    }
    const ServiceRow& service = services_.at(*service_id);
    return BuildRowTip(*service_id, service.channel_name, service.programmes.current_tip,
                       service.programmes.next_tip);
}

std::optional<std::string> CServiceWindow::GuideRowTip(size_t row) const {
    const ScopedLock hold(lock_);
    if (row >= guide_items_.size()) {
        return std::nullopt;
    }
    const uint16_t service_id = guide_items_[row].service_id;
    const auto guide = guide_rows_.find(service_id);
    if (guide == guide_rows_.end()) {
        return std::nullopt;
    }
    return BuildRowTip(service_id, guide->second.channel_name, guide->second.programmes.current_tip,
                       guide->second.programmes.next_tip);
}

std::optional<ServiceRow> CServiceWindow::Service(uint16_t service_id) const {
    const ScopedLock hold(lock_);
    const auto it = services_.find(service_id);
    if (it == services_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<GuideRow> CServiceWindow::Guide(uint16_t service_id) const {
    const ScopedLock hold(lock_);
    const auto it = guide_rows_.find(service_id);
    if (it == guide_rows_.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace tavrel
