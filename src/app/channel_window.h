#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tavrel {

class CaptureApp;

// The channel window's Qt half: a modeless window that its close box only hides. It draws
// ChannelWindowCore and forwards "変更" and "送信".
class ChannelWindow final : public QDialog {
public:
    ChannelWindow(CaptureApp& app, QWidget* parent);

    void ShowInitialised();
    void Refresh();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape would close a dialog; this window only hides through its close box.
    void reject() override;

private:
    CaptureApp& app_;
    QComboBox* channels_ = nullptr;
    QPushButton* change_ = nullptr;
    QLineEdit* text_ = nullptr;
    QPushButton* send_ = nullptr;
};

}  // namespace tavrel
