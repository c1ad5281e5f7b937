#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "app/child_windows.h"
#include "ui/service_window_core.h"
#include "ui/service_window_link.h"

class QMenu;
class QPushButton;
class QTableWidget;

namespace tavrel {

namespace gui {
class QtUiThread;
}

// The service window's Qt half: a tool window with the service list (check boxes: the services
// the filter keeps), the list of programmes on air, the two push-like buttons and the popup of
// a service. It draws CServiceWindow and forwards the user's actions; the capture reaches the
// core through this window as its ServiceWindowPort. The close box only hides it.
class ServiceWindow final : public QWidget, public ServiceWindowPort {
public:
    ServiceWindow(gui::QtUiThread& ui, UiServices& services, const Clock& clock);
    ~ServiceWindow() override;

    CServiceWindow& Core() { return core_; }
    // The row selected in the service list (the first when several are).
    std::optional<size_t> SelectedRow() const;
    // The popup of a right click on a selected row, with its enable states set.
    QMenu& Popup();
    void Redraw();

    // ServiceWindowPort.
    void ShowCaptureState(bool capturing) override;
    void SwitchFilterOff() override;
    void SetBroadcastTime(MjdTime now) override { link_.SetBroadcastTime(now); }
    WindowPlace Place() const override;
    void SetPlace(const WindowPlace& place) override;
    void Connect(ProcessorQueries* queries, bool program_guide, bool data_broadcast) override {
        link_.Connect(queries, program_guide, data_broadcast);
    }
    void OnNewStream(uint32_t end_of_stream) override { link_.OnNewStream(end_of_stream); }
    void OnProgram(const ProgramEntry& program) override { link_.OnProgram(program); }
    void OnStreams(uint16_t program_number, std::span<const StreamEntry> streams) override {
        link_.OnStreams(program_number, streams);
    }
    void OnServiceName(uint16_t service_id, const char* shift_jis_name) override {
        link_.OnServiceName(service_id, shift_jis_name);
    }
    void OnEvent(const EventRecord& event, uint16_t service_id, uint32_t actual) override {
        link_.OnEvent(event, service_id, actual);
    }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void DrawServiceList();
    void DrawGuideList();
    void DrawControls();
    void UpdatePopup();

    CServiceWindow core_;
    ServiceWindowLink link_;
    uint32_t pending_ = ~0u;  // changes not drawn yet
    bool placed_ = false;
    QPushButton* filter_ = nullptr;
    QPushButton* guide_button_ = nullptr;
    QTableWidget* services_ = nullptr;
    QTableWidget* guide_ = nullptr;
    QMenu* popup_ = nullptr;
};

}  // namespace tavrel
