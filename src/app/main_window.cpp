#include "app/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/about_dialog.h"
#include "app/capture_app.h"
#include "app/channel_window.h"
#include "app/options_dialog.h"
#include "gui/qt_text.h"
#include "gui/qt_ui_thread.h"
#include "gui/widget_sync.h"

namespace tavrel {
namespace {

using gui::Draw;
using gui::ToQt;
using gui::ToUtf8;

// A figure of the status display: right-aligned, wide enough for its longest usual text so
// that the layout does not move while the figures change.
QLabel* Figure(QWidget* parent, const char* name, const QString& widest, int lines = 1) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    const QFontMetrics metrics(label->font());
    label->setMinimumWidth(metrics.horizontalAdvance(widest) + 12);
    label->setMinimumHeight(metrics.lineSpacing() * lines + 6);
    return label;
}

QLabel* Caption(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QPushButton* PushLike(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setCheckable(true);
    button->setMinimumHeight(32);
    return button;
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& widest) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    const QFontMetrics metrics(edit->font());
    edit->setMinimumWidth(metrics.horizontalAdvance(widest) + 16);
    return edit;
}

}  // namespace

MainWindow::MainWindow(CaptureApp& app, gui::QtUiThread& ui_thread, UiServices& ui)
    : app_(app), ui_(ui), channel_(std::make_unique<ChannelWindow>(app, this)) {
    setObjectName("main_window");
    setWindowTitle("Tavrel");
    BuildMenu();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(BuildDeviceGroup());
    auto* figures = new QHBoxLayout;
    figures->addWidget(BuildTransferGroup());
    figures->addWidget(BuildStreamGroup());
    layout->addLayout(figures);
    auto* outputs = new QHBoxLayout;
    outputs->addWidget(BuildRecordingGroup());
    outputs->addWidget(BuildSendingGroup());
    layout->addLayout(outputs);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setCentralWidget(central);
    BuildStatusBar();

    // Everything posted to the UI thread may have changed what the window shows.
    ui_thread.AddDrainedListener([this] { Refresh(); });
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenu() {
    struct Item {
        const char* name;
        const char* label;
        std::function<void()> run;
    };
    const auto add = [this](QMenu* menu, const Item& item) {
        QAction* action = menu->addAction(QString::fromUtf8(item.label));
        action->setObjectName(item.name);
        connect(action, &QAction::triggered, this, item.run);
    };
    QMenu* file = menuBar()->addMenu(QString::fromUtf8("ファイル(&F)"));
    add(file, {"action_options", "設定(&O)", [this] { OpenOptions(); }});
    add(file,
        {"action_clear", "クリア(&C)", [this] { Command([](CaptureApp& a) { a.Clear(); }); }});
    file->addSeparator();
    add(file, {"action_exit", "終了(&X)", [this] { close(); }});
    QMenu* windows = menuBar()->addMenu(QString::fromUtf8("表示(&V)"));
    add(windows, {"action_channel", "チャンネル(&C)",
                  [this] { Command([](CaptureApp& a) { a.ToggleChannelWindow(); }); }});
    add(windows, {"action_service", "サービス情報(&S)",
                  [this] { Command([](CaptureApp& a) { a.ToggleServiceWindow(); }); }});
    add(windows, {"action_schedule", "録画予約(&R)",
                  [this] { Command([](CaptureApp& a) { a.ToggleScheduleWindow(); }); }});
    QMenu* help = menuBar()->addMenu(QString::fromUtf8("ヘルプ(&H)"));
    add(help, {"action_about", "バージョン情報 ...(&A)", [this] { OpenAbout(); }});
}

QWidget* MainWindow::BuildDeviceGroup() {
    auto* group = new QGroupBox(QString::fromUtf8("デバイス"), this);
    auto* grid = new QGridLayout(group);
    device_ = new QComboBox(group);
    device_->setObjectName("device");
    device_->setMinimumContentsLength(24);
    research_ = new QPushButton(group);
    research_->setObjectName("research");
    endpoint_in_ = new QComboBox(group);
    endpoint_in_->setObjectName("endpoint_in");
    endpoint_out_ = new QComboBox(group);
    endpoint_out_->setObjectName("endpoint_out");
    firmware_init_ = new QCheckBox(group);
    firmware_init_->setObjectName("firmware_init");
    connect_ = PushLike(group, "connect");
    connect_->setMinimumWidth(96);

    auto* endpoints = new QHBoxLayout;
    endpoints->addWidget(new QLabel("In", group));
    endpoints->addWidget(endpoint_in_, 1);
    endpoints->addSpacing(12);
    endpoints->addWidget(new QLabel("Out", group));
    endpoints->addWidget(endpoint_out_, 1);
    grid->addWidget(device_, 0, 0);
    grid->addWidget(research_, 0, 1);
    grid->addLayout(endpoints, 1, 0);
    grid->addWidget(connect_, 1, 1, 2, 1);
    grid->addWidget(firmware_init_, 2, 0);
    grid->setColumnStretch(0, 1);

    connect(device_, &QComboBox::activated, this,
            [this](int index) { Command([index](CaptureApp& a) { a.OnDeviceSelected(index); }); });
    connect(research_, &QPushButton::clicked, this,
            [this] { Command([](CaptureApp& a) { a.SearchDevices(); }); });
    connect(endpoint_in_, &QComboBox::currentIndexChanged, this,
            [this](int index) { app_.Window().endpoint_in.selected = index; });
    connect(endpoint_out_, &QComboBox::currentIndexChanged, this,
            [this](int index) { app_.Window().endpoint_out.selected = index; });
    connect(firmware_init_, &QCheckBox::toggled, this,
            [this](bool on) { app_.Window().firmware_init.checked = on; });
    connect(connect_, &QPushButton::clicked, this,
            [this] { Command([](CaptureApp& a) { a.StartStop(); }); });
    return group;
}

QWidget* MainWindow::BuildTransferGroup() {
    auto* group = new QGroupBox(QString::fromUtf8("USB転送状況"), this);
    auto* grid = new QGridLayout(group);
    time_ = Figure(group, "time", "0000:00");
    success_ = Figure(group, "success", "0000000000");
    failure_ = Figure(group, "failure", "0000000000");
    rate_ = Figure(group, "rate", "000.00 Mbps");
    device_status_ = new QLabel(group);
    device_status_->setObjectName("device_status");
    device_status_->setWordWrap(true);
    const char* captions[] = {"時間", "成功", "失敗", "速度"};
    QLabel* figures[] = {time_, success_, failure_, rate_};
    for (int row = 0; row < 4; ++row) {
        grid->addWidget(Caption(group, QString::fromUtf8(captions[row])), row, 0);
        grid->addWidget(figures[row], row, 1);
    }
    grid->addWidget(device_status_, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);
    return group;
}

QWidget* MainWindow::BuildStreamGroup() {
    auto* group = new QGroupBox(this);
    group->setObjectName("stream_figures");
    auto* grid = new QGridLayout(group);
    buffer_ = Figure(group, "buffer", "10240KB/10240KB", 2);
    packet_length_ = Figure(group, "packet_length", "000");
    sync_errors_ = Figure(group, "sync_errors", "0000000000");
    discontinuities_ = Figure(group, "discontinuities", "0000000000");
    scrambled_ = Figure(group, "scrambled", "0000000000");
    broadcast_time_ = Figure(group, "broadcast_time", "*0000/00/00", 2);
    broadcast_time_->setAlignment(Qt::AlignCenter);
    const char* captions[] = {"バッファ", "パケット", "同期エラー", "不連続", "暗号パケット"};
    QLabel* figures[] = {buffer_, packet_length_, sync_errors_, discontinuities_, scrambled_};
    for (int row = 0; row < 5; ++row) {
        grid->addWidget(Caption(group, QString::fromUtf8(captions[row])), row, 0);
        grid->addWidget(figures[row], row, 1);
    }
    grid->addWidget(broadcast_time_, 5, 0, 1, 2);
    return group;
}

QWidget* MainWindow::BuildRecordingGroup() {
    auto* group = new QGroupBox(QString::fromUtf8("録画"), this);
    auto* grid = new QGridLayout(group);
    recording_ = Figure(group, "recording", "録画中 000000 MByte");
    recording_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    free_space_ = Figure(group, "free_space", "空き 00000000 MByte");
    free_space_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    stop_timer_ = Edit(group, "stop_timer", "00000");
    stop_timer_->setAlignment(Qt::AlignRight);
    gui::DigitsOnly(*stop_timer_);
    plus_ten_ = new QPushButton(group);
    plus_ten_->setObjectName("plus_ten");
    record_ = PushLike(group, "record");

    auto* timer = new QHBoxLayout;
    timer->addWidget(new QLabel(QString::fromUtf8("停止\nタイマ"), group));
    timer->addWidget(stop_timer_);
    timer->addWidget(new QLabel(QString::fromUtf8("分"), group));
    timer->addWidget(plus_ten_);
    timer->addStretch(1);
    grid->addWidget(recording_, 0, 0);
    grid->addWidget(free_space_, 1, 0);
    grid->addLayout(timer, 2, 0);
    grid->addWidget(record_, 3, 0);
    grid->setRowStretch(4, 1);

    connect(stop_timer_, &QLineEdit::textEdited, this,
            [this](const QString& text) { app_.Window().stop_timer.text = ToUtf8(text); });
    connect(plus_ten_, &QPushButton::clicked, this,
            [this] { Command([](CaptureApp& a) { a.AddTenMinutes(); }); });
    connect(record_, &QPushButton::clicked, this,
            [this] { Command([](CaptureApp& a) { a.ToggleRecording(); }); });
    return group;
}

QWidget* MainWindow::BuildSendingGroup() {
    auto* group = new QGroupBox(QString::fromUtf8("UDP送信"), this);
    auto* grid = new QGridLayout(group);
    udp_ = Figure(group, "udp", "送信中(255.255.255.255) 000000 MByte");
    udp_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    address_ = Edit(group, "address", "255.255.255.255");
    port_ = Edit(group, "port", "000000");
    packet_size_ = Edit(group, "packet_size", "000000");
    gui::DigitsOnly(*port_);
    gui::DigitsOnly(*packet_size_);
    send_ = PushLike(group, "send");
    grid->addWidget(udp_, 0, 0, 1, 2);
    grid->addWidget(Caption(group, QString::fromUtf8("アドレス")), 1, 0);
    grid->addWidget(address_, 1, 1);
    grid->addWidget(Caption(group, QString::fromUtf8("ポート")), 2, 0);
    grid->addWidget(port_, 2, 1);
    grid->addWidget(Caption(group, QString::fromUtf8("送信パケットサイズ")), 3, 0);
    grid->addWidget(packet_size_, 3, 1);
    grid->addWidget(send_, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);

    const auto edit_into = [this](QLineEdit* edit, Control MainWindowState::*control) {
        connect(edit, &QLineEdit::textEdited, this, [this, control](const QString& text) {
            (app_.Window().*control).text = ToUtf8(text);
        });
    };
    edit_into(address_, &MainWindowState::address);
    edit_into(port_, &MainWindowState::port);
    edit_into(packet_size_, &MainWindowState::packet_size);
    connect(send_, &QPushButton::clicked, this,
            [this] { Command([](CaptureApp& a) { a.ToggleSending(); }); });
    return group;
}

void MainWindow::BuildStatusBar() {
    // Three parts ending 105 and 250 pixels from the left, the last at the window's edge.
    constexpr int kWidths[] = {105, 250 - 105};
    for (int i = 0; i < 3; ++i) {
        status_[i] = new QLabel(this);
        status_[i]->setObjectName(QString("status_%1").arg(i));
        status_[i]->setFrameShape(QFrame::Panel);
        status_[i]->setFrameShadow(QFrame::Sunken);
        status_[i]->setIndent(4);
        if (i < 2) {
            status_[i]->setFixedWidth(kWidths[i]);
            statusBar()->addWidget(status_[i]);
        } else {
            statusBar()->addWidget(status_[i], 1);
        }
    }
    statusBar()->setSizeGripEnabled(false);
}

void MainWindow::ShowInitialised() {
    Refresh();
    adjustSize();
    gui::ApplyPlace(*this, app_.Window().place);
    channel_->ShowInitialised();
}

void MainWindow::Refresh() {
    const MainWindowState& w = app_.Window();
    Draw(*device_, w.device);
    Draw(*research_, w.research);
    Draw(*endpoint_in_, w.endpoint_in);
    Draw(*endpoint_out_, w.endpoint_out);
    Draw(*firmware_init_, w.firmware_init);
    Draw(*connect_, w.connect);
    Draw(*time_, w.time);
    Draw(*success_, w.success);
    Draw(*failure_, w.failure);
    Draw(*rate_, w.rate);
    Draw(*device_status_, w.device_status);
    Draw(*buffer_, w.buffer);
    Draw(*packet_length_, w.packet_length);
    Draw(*sync_errors_, w.sync_errors);
    Draw(*discontinuities_, w.discontinuities);
    Draw(*scrambled_, w.scrambled);
    Draw(*broadcast_time_, w.broadcast_time);
    Draw(*recording_, w.recording);
    Draw(*free_space_, w.free_space);
    Draw(*stop_timer_, w.stop_timer);
    Draw(*plus_ten_, w.plus_ten);
    Draw(*record_, w.record);
    Draw(*udp_, w.udp);
    Draw(*address_, w.address);
    Draw(*port_, w.port);
    Draw(*packet_size_, w.packet_size);
    Draw(*send_, w.send);
    for (size_t i = 0; i < 3; ++i) {
        const QString text = ToQt(w.status_bar[i]);
        if (status_[i]->text() != text) {
            status_[i]->setText(text);
        }
    }
    channel_->Refresh();
}

void MainWindow::Command(const std::function<void(CaptureApp&)>& command) {
    command(app_);
    Refresh();
}

void MainWindow::OpenOptions() {
    std::optional<OptionsDialogCore> core = app_.OpenOptions();
    if (core) {
        OptionsDialog dialog(*core, ui_, this);
        if (dialog.exec() == QDialog::Accepted && dialog.Result()) {
            app_.ApplyOptions(*dialog.Result());
        }
    }
    Refresh();
}

void MainWindow::OpenAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::StorePlaces() {
    app_.Window().place = gui::CurrentPlace(*this);
    app_.ChannelWindow().place = gui::CurrentPlace(*channel_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    StorePlaces();
    if (!app_.Close()) {
        event->ignore();
        Refresh();
        return;
    }
    event->accept();
    channel_->hide();
    if (close_accepted_) {
        close_accepted_();
    }
}

}  // namespace tavrel
