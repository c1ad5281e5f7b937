#include "reservation/schedule_window.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>

#include "gui/qt_text.h"
#include "gui/qt_ui_thread.h"
#include "gui/table_columns.h"
#include "gui/widget_sync.h"

namespace tavrel {
namespace {

constexpr std::array<gui::TableColumn, 4> kColumns{
    {{"タイプ", 100}, {"開始日時", 200}, {"録画時間", 120}, {"詳細", 250}}};

QPushButton* Button(QWidget* parent, const char* name, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

ScheduleWindow::ScheduleWindow(gui::QtUiThread& ui, UiServices& services, const Clock& clock,
                               CDTV_Base* device)
    : QWidget(nullptr, Qt::Tool),
      manager_(clock, &services, device),
      port_(manager_),
      editor_(device, services, this),
      commands_(manager_, editor_),
      requests_(commands_) {
    setObjectName("schedule_window");
    setWindowTitle(QString::fromUtf8("録画予約"));
    // 363 x 153 dialog units.
    resize(700, 300);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 4, 9, 9);
    layout->setSpacing(4);
    auto* top = new QHBoxLayout();
    auto* view = new QGroupBox(QString::fromUtf8("表示"), this);
    auto* view_row = new QHBoxLayout(view);
    view_row->setContentsMargins(6, 2, 6, 2);
    pending_ = new QRadioButton(QString::fromUtf8("録画予約"), view);
    pending_->setObjectName("view_pending");
    finished_ = new QRadioButton(QString::fromUtf8("録画終了"), view);
    finished_->setObjectName("view_finished");
    auto* group = new QButtonGroup(this);
    group->addButton(pending_);
    group->addButton(finished_);
    pending_->setChecked(true);
    view_row->addWidget(pending_);
    view_row->addWidget(finished_);
    top->addWidget(view);
    auto* clear = Button(this, "clear_finished", "終了クリア");
    auto* add = Button(this, "add", "追加");
    auto* change = Button(this, "change", "変更");
    auto* remove = Button(this, "delete", "削除");
    top->addWidget(clear);
    top->addSpacing(8);
    top->addWidget(add);
    top->addWidget(change);
    top->addWidget(remove);
    top->addStretch(1);
    layout->addLayout(top);

    list_ = new QTableWidget(this);
    list_->setObjectName("schedule_list");
    gui::SetUpTable(*list_, kColumns);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list_, 1);

    const auto command = [this](auto&& fn) {
        fn();
        Rebuild();
    };
    connect(pending_, &QRadioButton::clicked, this,
            [this, command] { command([this] { commands_.SetView(ScheduleView::kPending); }); });
    connect(finished_, &QRadioButton::clicked, this,
            [this, command] { command([this] { commands_.SetView(ScheduleView::kFinished); }); });
    connect(clear, &QPushButton::clicked, this,
            [this, command] { command([this] { commands_.ClearFinished(); }); });
    connect(add, &QPushButton::clicked, this,
            [this, command] { command([this] { commands_.Add(); }); });
    connect(change, &QPushButton::clicked, this,
            [this, command] { command([this] { commands_.Change(SelectedRow()); }); });
    connect(remove, &QPushButton::clicked, this,
            [this, command] { command([this] { commands_.Delete(SelectedRow()); }); });

    // Every change of the lists, from any thread: rebuilt on the UI thread.
    manager_.SetRefreshListener([this, &ui, alive = std::weak_ptr<bool>(alive_)] {
        ui.Post([this, alive] {
            if (alive.lock()) {
                Rebuild();
            }
        });
    });
    Rebuild();
}

ScheduleWindow::~ScheduleWindow() {
    manager_.SetRefreshListener({});
    alive_.reset();
}

int ScheduleWindow::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = list_->selectedRanges();
    return ranges.empty() ? -1 : ranges.first().topRow();
}

void ScheduleWindow::Rebuild() {
    const ScheduleListState state = commands_.Rebuild();
    pending_->setText(gui::ToQt(state.pending_radio));
    finished_->setText(gui::ToQt(state.finished_radio));
    const QSignalBlocker block_pending(pending_);
    const QSignalBlocker block_finished(finished_);
    (commands_.View() == ScheduleView::kPending ? pending_ : finished_)->setChecked(true);

    const int selected = SelectedRow();
    list_->setRowCount(static_cast<int>(state.rows.size()));
    for (size_t r = 0; r < state.rows.size(); ++r) {
        for (size_t c = 0; c < state.rows[r].columns.size(); ++c) {
            const int row = static_cast<int>(r);
            const int column = static_cast<int>(c);
            QTableWidgetItem* item = list_->item(row, column);
            if (item == nullptr) {
                item = new QTableWidgetItem();
                item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
                list_->setItem(row, column, item);
            }
            const QString text = gui::ToQt(state.rows[r].columns[c]);
            if (item->text() != text) {
                item->setText(text);
            }
        }
    }
    gui::FitColumns(*list_, kColumns);
    if (selected >= list_->rowCount()) {
        list_->clearSelection();
    }
}

WindowPlace ScheduleWindow::Place() const {
    if (!placed_) {
        return port_.Place();
    }
    WindowPlace place = gui::CurrentPlace(*this);
    place.visible = port_.Place().visible;
    return place;
}

void ScheduleWindow::SetPlace(const WindowPlace& place) {
    port_.SetPlace(place);
    if (!placed_) {
        placed_ = true;
        gui::ApplyPlace(*this, place);
    } else {
        gui::DrawVisible(*this, place.visible);
    }
    Rebuild();
}

void ScheduleWindow::closeEvent(QCloseEvent* event) {
    // Hidden, not destroyed: the menu shows it again with its size and view.
    event->ignore();
    WindowPlace place = Place();
    place.visible = false;
    SetPlace(place);
}

}  // namespace tavrel
