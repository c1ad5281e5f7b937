#include "app/channel_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/capture_app.h"
#include "gui/qt_text.h"
#include "gui/widget_sync.h"

namespace tavrel {

ChannelWindow::ChannelWindow(CaptureApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setObjectName("channel_window");
    setWindowTitle(QString::fromUtf8("チャンネル設定"));
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    auto* select = new QGroupBox(QString::fromUtf8("選択"), this);
    auto* select_row = new QHBoxLayout(select);
    channels_ = new QComboBox(select);
    channels_->setObjectName("channels");
    channels_->setMinimumContentsLength(16);
    change_ = new QPushButton(select);
    change_->setObjectName("change");
    change_->setAutoDefault(false);
    select_row->addWidget(channels_, 1);
    select_row->addWidget(change_);
    layout->addWidget(select);

    auto* text = new QGroupBox(QString::fromUtf8("文字列送信"), this);
    auto* text_row = new QHBoxLayout(text);
    text_ = new QLineEdit(text);
    text_->setObjectName("channel_text");
    text_->setMaxLength(80);
    send_ = new QPushButton(text);
    send_->setObjectName("channel_send");
    send_->setAutoDefault(false);
    text_row->addWidget(text_, 1);
    text_row->addWidget(send_);
    layout->addWidget(text);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    connect(channels_, &QComboBox::currentIndexChanged, this,
            [this](int index) { app_.ChannelWindow().channels.selected = index; });
    connect(text_, &QLineEdit::textEdited, this,
            [this](const QString& t) { app_.ChannelWindow().text.text = gui::ToUtf8(t); });
    connect(change_, &QPushButton::clicked, this, [this] {
        app_.ChangeChannel();
        Refresh();
    });
    connect(send_, &QPushButton::clicked, this, [this] {
        app_.SendChannelText();
        Refresh();
    });
}

void ChannelWindow::ShowInitialised() {
    Refresh();
    adjustSize();
    gui::ApplyPlace(*this, app_.ChannelWindow().place);
}

void ChannelWindow::Refresh() {
    const ChannelWindowCore& core = app_.ChannelWindow();
    gui::Draw(*channels_, core.channels);
    gui::Draw(*change_, core.change);
    gui::Draw(*text_, core.text);
    gui::Draw(*send_, core.send);
    gui::DrawVisible(*this, core.place.visible);
}

void ChannelWindow::closeEvent(QCloseEvent* event) {
    // Hidden, not destroyed: the menu shows it again as it was.
    event->ignore();
    reject();
}

void ChannelWindow::reject() {
    app_.ChannelWindow().place.visible = false;
    hide();
}

}  // namespace tavrel
