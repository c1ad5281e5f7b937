#include "app/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/options_core.h"
#include "gui/qt_text.h"
#include "gui/widget_sync.h"

namespace tavrel {
namespace {

using gui::ToQt;
using gui::ToUtf8;

ComboBox& Priority(OptionsDialogCore& core, int which) {
    switch (which) {
        case 0:
            return core.priority_rec;
        case 1:
            return core.priority_res;
        default:
            return core.priority_proc;
    }
}

}  // namespace

OptionsDialog::OptionsDialog(OptionsDialogCore& core, UiServices& ui, QWidget* parent)
    : QDialog(parent), core_(core), ui_(ui) {
    setObjectName("options_dialog");
    setWindowTitle(QString::fromUtf8("オプション"));
    auto* layout = new QVBoxLayout(this);

    // Timer resolution during captures.
    auto* timer = new QGroupBox(QString::fromUtf8("タイマ分解能"), this);
    auto* timer_grid = new QGridLayout(timer);
    auto* period = new QLineEdit(timer);
    period->setObjectName("timer_period");
    period->setAlignment(Qt::AlignRight);
    gui::DigitsOnly(*period);
    period->setMaximumWidth(period->fontMetrics().horizontalAdvance("0000000000") + 16);
    gui::Draw(*period, core_.timer_period);
    auto* increment = new QLabel(ToQt(core_.increment), timer);
    increment->setObjectName("timer_increment");
    auto* range = new QLabel(ToQt(core_.range), timer);
    range->setObjectName("timer_range");
    auto* period_row = new QHBoxLayout;
    period_row->addWidget(new QLabel(QString::fromUtf8("設定値"), timer));
    period_row->addWidget(period);
    period_row->addWidget(new QLabel("msec", timer));
    period_row->addStretch(1);
    timer_grid->addLayout(period_row, 0, 0);
    timer_grid->addWidget(increment, 1, 0);
    timer_grid->addWidget(range, 2, 0);
    layout->addWidget(timer);
    connect(period, &QLineEdit::textEdited, this,
            [this](const QString& text) { core_.timer_period.text = ToUtf8(text); });

    // Thread priorities.
    auto* priorities = new QGroupBox(QString::fromUtf8("スレッド優先度"), this);
    auto* priority_row = new QHBoxLayout(priorities);
    const char* captions[] = {"要求", "受信", "処理"};
    const char* names[] = {"priority_rec", "priority_res", "priority_proc"};
    for (int i = 0; i < 3; ++i) {
        priority_row->addWidget(new QLabel(QString::fromUtf8(captions[i]), priorities));
        priority_row->addWidget(PriorityCombo(names[i], i));
        priority_row->addSpacing(8);
    }
    priority_row->addStretch(1);
    layout->addWidget(priorities);

    // Recording.
    auto* recording = new QGroupBox(QString::fromUtf8("録画"), this);
    auto* recording_grid = new QGridLayout(recording);
    auto* auto_name = new QCheckBox(QString::fromUtf8("自動的にファイル名を決定"), recording);
    auto_name->setObjectName("auto_file_name");
    auto_name->setChecked(core_.auto_file_name.checked);
    auto* path = new QLineEdit(recording);
    path->setObjectName("auto_path");
    path->setMinimumWidth(path->fontMetrics().horizontalAdvance(QString(40, 'M')));
    path->setMaxLength(259);
    gui::Draw(*path, core_.auto_path);
    auto* browse = new QPushButton(QString::fromUtf8("参照..."), recording);
    browse->setObjectName("browse");
    browse->setAutoDefault(false);
    recording_grid->addWidget(auto_name, 0, 0, 1, 3);
    recording_grid->addWidget(new QLabel(QString::fromUtf8("自動録画先"), recording), 1, 0);
    recording_grid->addWidget(path, 1, 1);
    recording_grid->addWidget(browse, 1, 2);
    layout->addWidget(recording);
    connect(auto_name, &QCheckBox::toggled, this,
            [this](bool on) { core_.auto_file_name.checked = on; });
    connect(path, &QLineEdit::textEdited, this,
            [this](const QString& text) { core_.auto_path.text = ToUtf8(text); });
    connect(browse, &QPushButton::clicked, this, [this, path] {
        if (const auto folder = ui_.BrowseForFolder()) {
            core_.auto_path.text = *folder;
            gui::Draw(*path, core_.auto_path);
        }
    });

    // Stream processing.
    auto* processing = new QGroupBox(QString::fromUtf8("処理"), this);
    auto* processing_column = new QVBoxLayout(processing);
    struct Switch {
        const char* name;
        const char* label;
        Control OptionsDialogCore::*control;
    };
    const Switch switches[] = {
        {"decode_psi", "PSI処理(ﾌｨﾙﾀ,EPGに必要)", &OptionsDialogCore::decode_psi},
        {"proc_data", "データ放送処理を行う", &OptionsDialogCore::proc_data},
        {"proc_epg", "電子番組表処理(EIT)を行う", &OptionsDialogCore::proc_epg},
        {"system_time", "録画予約にシステム時間を使う", &OptionsDialogCore::system_time},
    };
    for (const Switch& s : switches) {
        auto* box = new QCheckBox(QString::fromUtf8(s.label), processing);
        box->setObjectName(s.name);
        box->setChecked((core_.*(s.control)).checked);
        processing_column->addWidget(box);
        connect(box, &QCheckBox::toggled, this,
                [this, control = s.control](bool on) { (core_.*control).checked = on; });
    }
    layout->addWidget(processing);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QComboBox* OptionsDialog::PriorityCombo(const char* name, int which) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(name);
    gui::Draw(*combo, Priority(core_, which));
    connect(combo, &QComboBox::currentIndexChanged, this,
            [this, which](int index) { Priority(core_, which).selected = index; });
    return combo;
}

void OptionsDialog::accept() {
    result_ = core_.Ok(ui_);
    if (result_) {
        QDialog::accept();
    }
}

}  // namespace tavrel
