#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrel {

class CaptureApp;
class UiServices;
class ChannelWindow;
namespace gui {
class QtUiThread;
}

// The main window's Qt half: draws CaptureApp's MainWindowState and forwards every command to
// it. Redrawn after each command and after each batch of work posted to the UI thread (the
// status display among it, about three times a second while data flows).
class MainWindow final : public QMainWindow {
public:
    MainWindow(CaptureApp& app, gui::QtUiThread& ui_thread, UiServices& ui);
    ~MainWindow() override;

    // After the core's initialisation: places and shows the window and its child windows.
    void ShowInitialised();
    // Draws the whole state of the core (changing only what differs).
    void Refresh();
    // Called once the core accepted a close, after the places were stored.
    void SetCloseAccepted(std::function<void()> handler) { close_accepted_ = std::move(handler); }

    ChannelWindow& Channel() { return *channel_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    QWidget* BuildDeviceGroup();
    QWidget* BuildTransferGroup();
    QWidget* BuildStreamGroup();
    QWidget* BuildRecordingGroup();
    QWidget* BuildSendingGroup();
    void BuildStatusBar();
    // Runs a command of the core, then redraws.
    void Command(const std::function<void(CaptureApp&)>& command);
    void OpenOptions();
    void OpenAbout();
    void StorePlaces();

    CaptureApp& app_;
    UiServices& ui_;
    std::unique_ptr<ChannelWindow> channel_;
    std::function<void()> close_accepted_;

    // "デバイス"
    QComboBox* device_ = nullptr;
    QPushButton* research_ = nullptr;
    QComboBox* endpoint_in_ = nullptr;
    QComboBox* endpoint_out_ = nullptr;
    QCheckBox* firmware_init_ = nullptr;
    QPushButton* connect_ = nullptr;
    // "USB転送状況" and the stream figures.
    QLabel* time_ = nullptr;
    QLabel* success_ = nullptr;
    QLabel* failure_ = nullptr;
    QLabel* rate_ = nullptr;
    QLabel* device_status_ = nullptr;
    QLabel* buffer_ = nullptr;
    QLabel* packet_length_ = nullptr;
    QLabel* sync_errors_ = nullptr;
    QLabel* discontinuities_ = nullptr;
    QLabel* scrambled_ = nullptr;
    QLabel* broadcast_time_ = nullptr;
    // "録画"
    QLabel* recording_ = nullptr;
    QLabel* free_space_ = nullptr;
    QLineEdit* stop_timer_ = nullptr;
    QPushButton* plus_ten_ = nullptr;
    QPushButton* record_ = nullptr;
    // "UDP送信"
    QLabel* udp_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* packet_size_ = nullptr;
    QPushButton* send_ = nullptr;
    // Status bar parts.
    QLabel* status_[3] = {};
};

}  // namespace tavrel
