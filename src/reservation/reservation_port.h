#pragma once

#include <optional>
#include <span>
#include <string>

#include "app/child_windows.h"
#include "reservation/reservation_manager.h"

namespace tavrel {

// The reservation engine as the capture sees it: output 1 and the PMT events go to the
// manager, the processor's queries become the engine's lookups and filter, and every status
// display run with a reservation clock ticks the engine and returns its status text.
class ReservationEnginePort final : public ReservationPort {
public:
    explicit ReservationEnginePort(ReservationManager& manager) : manager_(manager) {}

    void Connect(ProcessorQueries* queries) override;
    void WriteReservationData(std::span<const uint8_t> unit) override {
        manager_.WriteReservationData(unit);
    }
    void ClearServicePids(uint32_t) override { manager_.ClearServicePids(); }
    void UpdateServicePids(uint16_t program_number, std::span<const StreamEntry> streams) override {
        manager_.UpdateServicePids(program_number, streams);
    }
    std::string Tick(const std::optional<MjdTime>& clock) override;
    void SetAutoPath(const std::string& folder) override { manager_.SetDefaultFolder(folder); }
    void SaveSchedule() override { saved_ = manager_.SaveSchedule(); }
    // Whether the last SaveSchedule wrote the file (the window reports nothing; a command can).
    bool Saved() const { return saved_; }

private:
    ReservationManager& manager_;
    bool saved_ = false;
};

// The engine's lookups and output-1 filter through the capture's queries.
ReservationStreamCallbacks CallbacksFromQueries(ProcessorQueries& queries);

}  // namespace tavrel
