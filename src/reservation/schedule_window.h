#pragma once

#include <QWidget>
#include <memory>

#include "app/child_windows.h"
#include "reservation/reservation_edit_dialog.h"
#include "reservation/reservation_manager.h"
#include "reservation/reservation_port.h"
#include "reservation/schedule_commands.h"
#include "ui/service_window_link.h"

class QPushButton;
class QRadioButton;
class QTableWidget;

namespace tavrel {

namespace gui {
class QtUiThread;
}

// The schedule window's Qt half: a tool window with the two views (pending and finished, their
// counts on the radio buttons), "終了クリア", "追加", "変更", "削除" and the list of
// reservations. It owns the reservation engine and is the capture's ReservationPort; the list
// is rebuilt whenever the engine says a list changed. The close box only hides it.
class ScheduleWindow final : public QWidget, public ReservationPort {
public:
    // device may be null (no channel capabilities); it must outlive the window.
    ScheduleWindow(gui::QtUiThread& ui, UiServices& services, const Clock& clock,
                   CDTV_Base* device);
    ~ScheduleWindow() override;

    ReservationManager& Manager() { return manager_; }
    ScheduleCommands& Commands() { return commands_; }
    // The service windows' reservation requests.
    ReservationRequests& Requests() { return requests_; }
    // The selected row of the list shown, -1 for none.
    int SelectedRow() const;
    void Rebuild();

    // ReservationPort.
    void Connect(ProcessorQueries* queries) override { port_.Connect(queries); }
    void WriteReservationData(std::span<const uint8_t> unit) override {
        port_.WriteReservationData(unit);
    }
    void ClearServicePids(uint32_t a) override { port_.ClearServicePids(a); }
    void UpdateServicePids(uint16_t program_number, std::span<const StreamEntry> streams) override {
        port_.UpdateServicePids(program_number, streams);
    }
    std::string Tick(const std::optional<MjdTime>& clock) override { return port_.Tick(clock); }
    void SetAutoPath(const std::string& folder) override { port_.SetAutoPath(folder); }
    void SaveSchedule() override { port_.SaveSchedule(); }
    WindowPlace Place() const override;
    void SetPlace(const WindowPlace& place) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    ReservationManager manager_;
    ReservationEnginePort port_;
    QtReservationEditor editor_;
    ScheduleCommands commands_;
    ScheduleRequests requests_;
    // Read by the rebuilds posted by the engine: false once the window is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool placed_ = false;
    QRadioButton* pending_ = nullptr;
    QRadioButton* finished_ = nullptr;
    QTableWidget* list_ = nullptr;
};

}  // namespace tavrel
