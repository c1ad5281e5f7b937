#include "reservation/reservation_manager.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/file.h"
#include "platform/profile_file.h"
#include "reservation/schedule_file.h"

namespace tavrel {
namespace {

constexpr std::string_view kOverlapQuestion =
    "録画予約時間が重複しています。\n重複予約を強行しますか？";
constexpr std::string_view kOverlapCaption = "録画予約";

bool Identical(const Reservation& a, const Reservation& b) {
    return std::memcmp(&a, &b, sizeof(Reservation)) == 0;
}

// The closed interval of a timed record: its start and start + RecordSec read signed, so an
// undetermined length ends one second before the start.
struct Span {
    int64_t low;
    int64_t high;
};
Span TimeSpan(const Reservation& r) {
    const int64_t a = r.StartSeconds();
    const int64_t e = a + static_cast<int32_t>(r.RecordSec);
    return {std::min(a, e), std::max(a, e)};
}

}  // namespace

ReservationManager::ReservationManager(const Clock& clock, UiServices* ui, CDTV_Base* device)
    : clock_(clock), ui_(ui), device_(device) {}

ReservationManager::~ReservationManager() = default;

void ReservationManager::SetRefreshListener(std::function<void()> listener) {
    Guard lock(lock_);
    refresh_ = std::move(listener);
}

void ReservationManager::SetStreamCallbacks(ReservationStreamCallbacks callbacks) {
    Guard lock(lock_);
    callbacks_ = std::move(callbacks);
}

void ReservationManager::ClearStreamCallbacks() {
    Guard lock(lock_);
    callbacks_ = {};
}

void ReservationManager::SetDefaultFolder(const std::string& folder) {
    Guard lock(lock_);
    default_folder_ = folder;
}

std::string ReservationManager::DefaultFolder() const {
    Guard lock(lock_);
    return default_folder_;
}

void ReservationManager::Refresh() {
    if (refresh_) {
        refresh_();
    }
}

void ReservationManager::LoadSchedule(const std::optional<std::string>& path) {
    Guard lock(lock_);
    if (path) {
        path_ = *path;
    }
    if (path_.empty()) {
        return;
    }
    pending_.clear();
    std::ifstream in(path_, std::ios::binary);
    if (in) {
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        pending_ = ParseSchedule(text);
        std::sort(pending_.begin(), pending_.end(), ReservationLess);
    }
    Refresh();
}

bool ReservationManager::SaveSchedule(const std::optional<std::string>& path) {
    Guard lock(lock_);
    if (path) {
        path_ = *path;
    }
    if (path_.empty()) {
        return false;
    }
    return ReplaceFileText(path_, FormatSchedule(pending_));
}

std::vector<Reservation> ReservationManager::Pending() const {
    Guard lock(lock_);
    return pending_;
}

std::vector<Reservation> ReservationManager::Finished() const {
    Guard lock(lock_);
    return finished_;
}

void ReservationManager::ClearFinished() {
    Guard lock(lock_);
    finished_.clear();
    Refresh();
}

bool ReservationManager::FindOverlap(const Reservation& record, int skip) const {
    if (!record.ByDate() || pending_.empty()) {
        return false;
    }
    const Span mine = TimeSpan(record);
    for (size_t i = 0; i < pending_.size(); ++i) {
        const Reservation& other = pending_[i];
        if (static_cast<int>(i) == skip || !other.HasKnownStart()) {
            continue;
        }
        // Closed intervals meet when neither ends before the other begins; this also catches
        // one lying wholly inside the other.
        const Span theirs = TimeSpan(other);
        if (std::max(mine.low, theirs.low) <= std::min(mine.high, theirs.high)) {
            return true;
        }
    }
    return false;
}

bool ReservationManager::AskOverlap() {
    if (ui_ == nullptr) {
        return true;
    }
    return ui_->ShowMessage(kOverlapQuestion, kOverlapCaption, MessageButtons::kYesNo) ==
           MessageAnswer::kYes;
}

bool ReservationManager::CheckOverlap(const Reservation& record, int skip) {
    {
        Guard lock(lock_);
        if (!FindOverlap(record, skip)) {
            return true;
        }
    }
    return AskOverlap();
}

void ReservationManager::StoreLocked(const Reservation& record, int index) {
    if (index < 0) {
        pending_.push_back(record);
    } else {
        pending_[static_cast<size_t>(index)] = record;
    }
    std::sort(pending_.begin(), pending_.end(), ReservationLess);
    Refresh();
}

int ReservationManager::Relocate(const Reservation& original, int hint) const {
    const auto count = static_cast<int>(pending_.size());
    if (hint >= 0 && hint < count && Identical(pending_[static_cast<size_t>(hint)], original)) {
        return hint;
    }
    for (int i = 0; i < count; ++i) {
        if (Identical(pending_[static_cast<size_t>(i)], original)) {
            return i;
        }
    }
    // The guide may have updated it meanwhile.
    for (int i = 0; i < count; ++i) {
        if (SameReservation(pending_[static_cast<size_t>(i)], original)) {
            return i;
        }
    }
    return -1;
}

bool ReservationManager::SetReservation(const Reservation& record, int index) {
    Guard lock(lock_);
    if (index < -1 || index >= static_cast<int>(pending_.size())) {
        return false;
    }
    if (!FindOverlap(record, index)) {
        StoreLocked(record, index);
        return true;
    }
    // The question waits for the user: the lock is not held meanwhile, so the processing
    // thread keeps writing and the engine keeps ticking. The entry to replace is found again
    // afterwards.
    const std::optional<Reservation> was =
        index >= 0 ? std::optional<Reservation>(pending_[static_cast<size_t>(index)])
                   : std::nullopt;
    lock.unlock();
    const bool forced = AskOverlap();
    lock.lock();
    if (!forced) {
        return false;
    }
    if (was) {
        index = Relocate(*was, index);
        if (index < 0) {
            return false;
        }
    }
    StoreLocked(record, index);
    return true;
}

int ReservationManager::FindEntry(const Reservation& original) const {
    Guard lock(lock_);
    return Relocate(original, -1);
}

bool ReservationManager::IsActiveEntry(int index) const {
    Guard lock(lock_);
    if (index < 0 || index >= static_cast<int>(pending_.size()) || !active_) {
        return false;
    }
    const uint32_t state = active_->record.State();
    return (state == RSV_STATE_PREPARING || state == RSV_STATE_RECORDING) &&
           SameReservation(active_->record, pending_[static_cast<size_t>(index)]);
}

int ReservationManager::ActiveIndexLocked() const {
    for (int i = 0; i < static_cast<int>(pending_.size()); ++i) {
        if (IsActiveEntry(i)) {
            return i;
        }
    }
    return -1;
}

bool ReservationManager::FinishLocked(uint32_t code, int index) {
    if (index < 0 || index >= static_cast<int>(pending_.size()) || IsActiveEntry(index)) {
        return false;
    }
    Reservation copy = pending_[static_cast<size_t>(index)];
    copy.Flag = (copy.Flag & RSV_KEEP_MASK) | code;
    if (code != kFinishDeleted) {
        finished_.push_back(copy);
    }
    pending_.erase(pending_.begin() + index);
    const int64_t step = (copy.Flag & RSV_DAILY) != 0    ? kSecondsPerDay
                         : (copy.Flag & RSV_WEEKLY) != 0 ? 7 * int64_t{kSecondsPerDay}
                                                         : 0;
    if (step != 0) {
        copy.Flag &= RSV_KEEP_MASK;
        MjdTime start = copy.Start();
        AddSeconds(start, step);
        copy.SetStart(start);
        // Added once the lock is released: it may need the overlap question.
        deferred_repeats_.push_back(copy);
    }
    Refresh();
    return true;
}

void ReservationManager::AddDeferredRepeats() {
    std::vector<Reservation> repeats;
    {
        Guard lock(lock_);
        repeats.swap(deferred_repeats_);
    }
    for (const Reservation& r : repeats) {
        SetReservation(r, -1);
    }
}

bool ReservationManager::FinishReservation(uint32_t code, int index) {
    bool finished = false;
    {
        Guard lock(lock_);
        finished = FinishLocked(code, index);
    }
    AddDeferredRepeats();
    return finished;
}

bool ReservationManager::CancelPreparation(int index) {
    Guard lock(lock_);
    if (!IsActiveEntry(index) || active_->recorder) {
        return false;
    }
    DropActive();
    waiting_for_end_ = false;
    pending_[static_cast<size_t>(index)].SetState(RSV_STATE_WAITING);
    Refresh();
    return true;
}

void ReservationManager::EndActiveRecording() {
    Guard lock(lock_);
    if (active_) {
        active_->record.RecordSec = 0;
    }
}

bool ReservationManager::ActiveIsRecording() const {
    Guard lock(lock_);
    return active_ && active_->recorder;
}

bool ReservationManager::RecordingActive() const {
    Guard lock(lock_);
    return recording_active_;
}

bool ReservationManager::WaitingForEnd() const {
    Guard lock(lock_);
    return waiting_for_end_;
}

std::optional<Reservation> ReservationManager::ActiveRecord() const {
    Guard lock(lock_);
    return active_ ? std::optional<Reservation>(active_->record) : std::nullopt;
}

std::string ReservationManager::ActivePath() const {
    Guard lock(lock_);
    return active_ ? active_->path : std::string();
}

}  // namespace tavrel
