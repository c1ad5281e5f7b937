#include "ui/service_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <span>

#include "gui/qt_text.h"
#include "gui/qt_ui_thread.h"
#include "gui/table_columns.h"
#include "gui/widget_sync.h"
#include "ui/guide_dialog.h"

namespace tavrel {
namespace {

constexpr std::array<gui::TableColumn, 5> kServiceColumns{{{"サービスID", 60},
                                                           {"チャンネル名", 100},
                                                           {"現在の番組", 200},
                                                           {"PMT", 50},
                                                           {"構成PID", 200}}};
constexpr std::array<gui::TableColumn, 3> kGuideColumns{
    {{"サービスID", 60}, {"チャンネル名", 100}, {"現在の番組", 400}}};

QTableWidget* MakeList(QWidget* parent, const char* name, std::span<const gui::TableColumn> columns,
                       const char* tip_background) {
    auto* list = new QTableWidget(parent);
    list->setObjectName(name);
    gui::SetUpTable(*list, columns);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The row tips: black text on the list's own colour, at most 500 pixels wide.
    list->setStyleSheet(QString("QToolTip { color: black; background-color: %1; "
                                "border: 1px solid gray; max-width: 500px; }")
                            .arg(tip_background));
    return list;
}

// Sets the cell's text when it differs; returns the item.
QTableWidgetItem& Cell(QTableWidget& list, int row, int column, const std::string& text) {
    QTableWidgetItem* item = list.item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem();
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        list.setItem(row, column, item);
    }
    const QString wanted = gui::ToQt(text);
    if (item->text() != wanted) {
        item->setText(wanted);
    }
    return *item;
}

void SetRowTip(QTableWidget& list, int row, const std::optional<std::string>& tip) {
    const QString text = tip ? gui::ToQt(*tip) : QString();
    for (int c = 0; c < list.columnCount(); ++c) {
        if (QTableWidgetItem* item = list.item(row, c);
            item != nullptr && item->toolTip() != text) {
            item->setToolTip(text);
        }
    }
}

}  // namespace

ServiceWindow::ServiceWindow(gui::QtUiThread& ui, UiServices& services, const Clock& clock)
    : QWidget(nullptr, Qt::Tool), core_(ui, services, clock), link_(core_) {
    setObjectName("service_window");
    setWindowTitle(QString::fromUtf8("サービス情報"));
    // 251 x 111 dialog units.
    resize(640, 260);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 6, 9, 9);
    layout->setSpacing(4);
    auto* buttons = new QHBoxLayout();
    filter_ = new QPushButton(QString::fromUtf8("フィルタ実行"), this);
    filter_->setObjectName("filter");
    filter_->setCheckable(true);
    guide_button_ = new QPushButton(QString::fromUtf8("放送中の番組一覧"), this);
    guide_button_->setObjectName("on_air");
    guide_button_->setCheckable(true);
    buttons->addWidget(filter_);
    buttons->addWidget(guide_button_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    services_ = MakeList(this, "service_list", kServiceColumns, "rgb(255, 255, 200)");
    guide_ = MakeList(this, "guide_list", kGuideColumns, "rgb(200, 255, 255)");
    guide_->setSortingEnabled(false);
    services_->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(services_, 1);
    layout->addWidget(guide_, 1);

    popup_ = new QMenu(this);
    popup_->setObjectName("service_popup");
    const auto add = [this](QMenu* menu, const char* text, uint32_t command) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString("command_%1").arg(command));
        action->setData(command);
        connect(action, &QAction::triggered, this, [this, command] {
            core_.RunCommand(command, SelectedRow());
            Redraw();
        });
    };
    QMenu* current = popup_->addMenu(QString::fromUtf8("現在の番組"));
    add(current, "日時指定で録画予約", kCommandDateReserveCurrent);
    add(current, "イベントID指定で録画予約", kCommandEventReserveCurrent);
    QMenu* next = popup_->addMenu(QString::fromUtf8("次の番組"));
    add(next, "日時指定で録画予約", kCommandDateReserveNext);
    add(next, "イベントID指定で録画予約", kCommandEventReserveNext);
    add(popup_, "(仮)EPG表示", kCommandGuide);
    add(popup_, "データ放送", kCommandDataBroadcast);

    connect(filter_, &QPushButton::clicked, this, [this] {
        core_.PressFilterButton();
        Redraw();
    });
    connect(guide_button_, &QPushButton::clicked, this, [this](bool checked) {
        core_.SetGuideListShown(checked);
        Redraw();
    });
    connect(services_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == 0) {
            core_.SetRowChecked(static_cast<size_t>(item->row()),
                                item->checkState() == Qt::Checked);
            pending_ |= kServiceListChanged;
            Redraw();
        }
    });
    connect(services_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (SelectedRow()) {
            Popup().exec(services_->viewport()->mapToGlobal(at));
        }
    });

    core_.SetChangeObserver([this](uint32_t changes) { pending_ |= changes; });
    core_.SetGuideDialog([this](const ProgrammeGuide& guide) {
        GuideDialog dialog(guide, this);
        return dialog.Run();
    });
    ui.AddDrainedListener([this] { Redraw(); });
    core_.SetCaptureState(false);
    Redraw();
}

ServiceWindow::~ServiceWindow() {
    core_.SetChangeObserver({});
    core_.SetGuideDialog({});
}

std::optional<size_t> ServiceWindow::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = services_->selectedRanges();
    std::optional<size_t> first;
    for (const QTableWidgetSelectionRange& range : ranges) {
        const auto top = static_cast<size_t>(range.topRow());
        if (!first || top < *first) {
            first = top;
        }
    }
    return first;
}

QMenu& ServiceWindow::Popup() {
    UpdatePopup();
    return *popup_;
}

void ServiceWindow::UpdatePopup() {
    for (QAction* action : popup_->findChildren<QAction*>()) {
        if (action->data().isValid()) {
            action->setEnabled(core_.CommandEnabled(action->data().toUInt()));
        }
    }
}

void ServiceWindow::Redraw() {
    const uint32_t changes = pending_;
    pending_ = 0;
    if ((changes & (kServiceListChanged | kServiceTipsChanged)) != 0) {
        DrawServiceList();
    }
    if ((changes & (kGuideListChanged | kGuideTipsChanged)) != 0) {
        DrawGuideList();
    }
    if ((changes & kControlsChanged) != 0) {
        DrawControls();
    }
}

void ServiceWindow::DrawServiceList() {
    const std::vector<ServiceListItem> items = core_.ServiceItems();
    const QSignalBlocker block(services_);
    services_->setRowCount(static_cast<int>(items.size()));
    for (size_t r = 0; r < items.size(); ++r) {
        const int row = static_cast<int>(r);
        for (size_t c = 0; c < items[r].cells.size(); ++c) {
            Cell(*services_, row, static_cast<int>(c), items[r].cells[c]);
        }
        QTableWidgetItem* first = services_->item(row, 0);
        first->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        const Qt::CheckState state = items[r].checked ? Qt::Checked : Qt::Unchecked;
        if (first->checkState() != state || !first->data(Qt::CheckStateRole).isValid()) {
            first->setCheckState(state);
        }
        SetRowTip(*services_, row, core_.ServiceRowTip(r));
    }
    gui::FitColumns(*services_, kServiceColumns);
}

void ServiceWindow::DrawGuideList() {
    const std::vector<GuideListItem> items = core_.GuideItems();
    guide_->setRowCount(static_cast<int>(items.size()));
    for (size_t r = 0; r < items.size(); ++r) {
        for (size_t c = 0; c < items[r].cells.size(); ++c) {
            Cell(*guide_, static_cast<int>(r), static_cast<int>(c), items[r].cells[c]);
        }
        SetRowTip(*guide_, static_cast<int>(r), core_.GuideRowTip(r));
    }
    gui::FitColumns(*guide_, kGuideColumns);
}

void ServiceWindow::DrawControls() {
    const ServiceWindowControls c = core_.Controls();
    const QSignalBlocker block_filter(filter_);
    const QSignalBlocker block_guide(guide_button_);
    filter_->setChecked(c.filter_checked);
    filter_->setEnabled(c.filter_enabled);
    guide_button_->setChecked(c.guide_button_checked);
    guide_button_->setEnabled(c.guide_button_enabled);
    services_->setEnabled(c.service_list_enabled);
    services_->setVisible(c.service_list_visible);
    guide_->setVisible(c.guide_list_visible);
}

void ServiceWindow::ShowCaptureState(bool capturing) {
    link_.ShowCaptureState(capturing);
    Redraw();
}

void ServiceWindow::SwitchFilterOff() {
    link_.SwitchFilterOff();
    Redraw();
}

WindowPlace ServiceWindow::Place() const {
    if (!placed_) {
        return link_.Place();
    }
    WindowPlace place = gui::CurrentPlace(*this);
    place.visible = core_.Visible();
    return place;
}

void ServiceWindow::SetPlace(const WindowPlace& place) {
    link_.SetPlace(place);
    if (!placed_) {
        // The first place is the saved one: where the window stands at start.
        placed_ = true;
        gui::ApplyPlace(*this, place);
    } else {
        gui::DrawVisible(*this, place.visible);
    }
    pending_ = ~0u;
    Redraw();
}

void ServiceWindow::closeEvent(QCloseEvent* event) {
    // Hidden, not destroyed: the menu shows it again as it was.
    event->ignore();
    WindowPlace place = Place();
    place.visible = false;
    SetPlace(place);
}

}  // namespace tavrel
