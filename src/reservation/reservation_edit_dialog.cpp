#include "reservation/reservation_edit_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "gui/qt_text.h"
#include "platform/ui_services.h"

namespace tavrel {
namespace {

// A picker without a value shows only "指定なし": its special value, at its minimum.
const QString kUnset = QString::fromUtf8("指定なし");

void DrawPicker(QDateTimeEdit& picker, bool dated, const char* format) {
    picker.setSpecialValueText(dated ? QString() : kUnset);
    picker.setDisplayFormat(QString::fromUtf8(format));
    if (!dated) {
        picker.setDateTime(picker.minimumDateTime());
    }
}

QLineEdit* Edit(QWidget* parent, const char* name, int min_chars = 0) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (min_chars > 0) {
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * min_chars + 12);
    }
    return edit;
}

void SetText(QLineEdit& edit, const std::string& text) {
    const QString wanted = gui::ToQt(text);
    if (edit.text() != wanted) {
        edit.setText(wanted);
    }
}

QTime ToQTime(const ClockTime& t) {
    return QTime(static_cast<int>(t.hours % 24), static_cast<int>(t.minutes % 60),
                 static_cast<int>(t.seconds % 60));
}

ClockTime FromQTime(const QTime& t) {
    return {static_cast<uint32_t>(t.hour()), static_cast<uint32_t>(t.minute()),
            static_cast<uint32_t>(t.second())};
}

}  // namespace

ReservationEditDialog::ReservationEditDialog(const Reservation& work, CDTV_Base* device,
                                             UiServices& ui, QWidget* parent)
    : QDialog(parent), work_(work), device_(device), ui_(ui), form_(FillForm(work, device)) {
    setObjectName("reservation_edit_dialog");
    setWindowTitle(QString::fromUtf8("録画予約編集"));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout();
    top->addWidget(new QLabel(QString::fromUtf8("予約タイプ"), this));
    kind_ = new QComboBox(this);
    kind_->setObjectName("kind");
    for (const char* text : kKindTexts) {
        kind_->addItem(QString::fromUtf8(text));
    }
    top->addWidget(kind_);
    top->addStretch(1);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("ok");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromUtf8("キャンセル"), this);
    cancel->setObjectName("cancel");
    cancel->setAutoDefault(false);
    top->addWidget(ok);
    top->addWidget(cancel);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout();
    auto* date_box = new QGroupBox(QString::fromUtf8("日時指定"), this);
    auto* date_grid = new QGridLayout(date_box);
    date_grid->addWidget(new QLabel(QString::fromUtf8("開始"), date_box), 0, 0);
    date_ = new QDateEdit(date_box);
    date_->setObjectName("start_date");
    date_->setAlignment(Qt::AlignRight);
    date_->setCalendarPopup(true);
    date_->setMinimumDate(QDate(1858, 11, 17));
    time_ = new QTimeEdit(date_box);
    time_->setObjectName("start_time");
    time_->setAlignment(Qt::AlignRight);
    date_grid->addWidget(date_, 0, 1);
    date_grid->addWidget(time_, 0, 2);
    date_grid->addWidget(new QLabel(QString::fromUtf8("録画時間"), date_box), 1, 0);
    length_ = new QTimeEdit(date_box);
    length_->setObjectName("length");
    length_->setAlignment(Qt::AlignRight);
    date_grid->addWidget(length_, 1, 1);
    date_grid->addWidget(new QLabel(QString::fromUtf8("チャンネル"), date_box), 2, 0);
    channel_ = new QComboBox(date_box);
    channel_->setObjectName("channel");
    channel_text_ = Edit(date_box, "channel_text", 10);
    date_grid->addWidget(channel_, 2, 1);
    date_grid->addWidget(channel_text_, 2, 2);
    service_limit_ = new QCheckBox(QString::fromUtf8("サービスID限定"), date_box);
    service_limit_->setObjectName("service_limit");
    service_id_ = Edit(date_box, "service_id", 10);
    date_grid->addWidget(service_limit_, 3, 0, 1, 2);
    date_grid->addWidget(service_id_, 3, 2);
    date_grid->addWidget(new QLabel(QString::fromUtf8("終了後"), date_box), 4, 0);
    after_end_ = new QComboBox(date_box);
    after_end_->setObjectName("after_end");
    for (const char* text : kAfterEndTexts) {
        after_end_->addItem(QString::fromUtf8(text));
    }
    date_grid->addWidget(after_end_, 4, 1, 1, 2);
    middle->addWidget(date_box, 3);

    auto* event_box = new QGroupBox(QString::fromUtf8("イベントID"), this);
    auto* event_grid = new QGridLayout(event_box);
    event_grid->addWidget(new QLabel("Network/Stream/Service ID", event_box), 0, 0, 1, 5);
    ids_ = Edit(event_box, "ids", 22);
    event_grid->addWidget(ids_, 1, 0, 1, 5);
    event_grid->addWidget(new QLabel("Event ID", event_box), 2, 0, 1, 2);
    event_id_ = Edit(event_box, "event_id", 8);
    event_grid->addWidget(event_id_, 2, 2, 1, 3);
    event_grid->addWidget(new QLabel(QString::fromUtf8("時間オフセット"), event_box), 3, 0, 1, 5);
    auto* start_label = new QLabel(QString::fromUtf8("開始"), event_box);
    start_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    offset_start_ = Edit(event_box, "offset_start", 4);
    offset_start_->setAlignment(Qt::AlignRight);
    auto* end_label = new QLabel(QString::fromUtf8("終了"), event_box);
    end_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    offset_end_ = Edit(event_box, "offset_end", 4);
    offset_end_->setAlignment(Qt::AlignRight);
    event_grid->addWidget(start_label, 4, 0);
    event_grid->addWidget(offset_start_, 4, 1);
    event_grid->addWidget(end_label, 4, 2);
    event_grid->addWidget(offset_end_, 4, 3);
    event_grid->addWidget(new QLabel(QString::fromUtf8("分"), event_box), 4, 4);
    convert_ = new QPushButton(QString::fromUtf8("日付指定タイプに変換"), event_box);
    convert_->setObjectName("convert");
    convert_->setAutoDefault(false);
    event_grid->addWidget(convert_, 5, 0, 1, 5);
    middle->addWidget(event_box, 2);
    layout->addLayout(middle);

    auto* save_box = new QGroupBox(QString::fromUtf8("保存"), this);
    auto* save_grid = new QGridLayout(save_box);
    save_grid->addWidget(new QLabel(QString::fromUtf8("保存フォルダ"), save_box), 0, 0);
    dir_ = Edit(save_box, "dir", 40);
    save_grid->addWidget(dir_, 0, 1, 1, 3);
    file_given_ = new QCheckBox(QString::fromUtf8("保存ファイルを指定する"), save_box);
    file_given_->setObjectName("file_given");
    file_ = Edit(save_box, "file", 24);
    ext_ = Edit(save_box, "ext", 6);
    save_grid->addWidget(file_given_, 1, 0);
    save_grid->addWidget(file_, 1, 1);
    save_grid->addWidget(new QLabel(QString::fromUtf8("拡張子"), save_box), 1, 2);
    save_grid->addWidget(ext_, 1, 3);
    save_grid->setColumnStretch(1, 1);
    layout->addWidget(save_box);

    connect(ok, &QPushButton::clicked, this, [this] { accept(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(convert_, &QPushButton::clicked, this, [this] {
        ReadControls();
        ConvertToDateType(form_, work_, device_);
        Draw();
    });
    Draw();
}

void ReservationEditDialog::Draw() {
    const ReservationForm& f = form_;
    kind_->setCurrentIndex(f.kind);
    kind_->setEnabled(false);  // changed only by the conversion button

    DrawPicker(*date_, f.dated, "yyyy年MM月dd日");
    DrawPicker(*time_, f.dated, "HH時mm分ss秒");
    DrawPicker(*length_, f.dated, "HH時間mm分ss秒");
    if (f.dated) {
        date_->setDate(QDate(f.date.year, f.date.month, f.date.day));
        time_->setTime(ToQTime(f.time));
        length_->setTime(ToQTime(f.length));
    }
    date_->setEnabled(f.pickers_enabled);
    time_->setEnabled(f.pickers_enabled);
    length_->setEnabled(f.pickers_enabled);

    channel_->clear();
    for (const ChannelChoice& choice : f.channels) {
        channel_->addItem(gui::ToQt(choice.text), choice.value);
    }
    channel_->setCurrentIndex(f.channel_selection);
    channel_->setEnabled(f.channels_enabled);
    SetText(*channel_text_, f.channel_text);
    channel_text_->setEnabled(f.channel_text_enabled);
    service_limit_->setChecked(f.service_limit);
    SetText(*service_id_, f.service_id);
    service_limit_->setEnabled(f.service_limit_enabled);
    service_id_->setEnabled(f.service_limit_enabled);
    after_end_->setCurrentIndex(f.after_end);
    after_end_->setEnabled(f.service_limit_enabled);

    SetText(*ids_, f.ids);
    ids_->setEnabled(false);
    SetText(*event_id_, f.event_id);
    event_id_->setEnabled(f.event_id_enabled);
    SetText(*offset_start_, f.offset_start);
    SetText(*offset_end_, f.offset_end);
    offset_start_->setEnabled(f.offsets_enabled);
    offset_end_->setEnabled(f.offsets_enabled);
    convert_->setEnabled(f.convert_enabled);

    SetText(*dir_, f.dir);
    file_given_->setChecked(f.file_given);
    SetText(*file_, f.file);
    SetText(*ext_, f.ext);
}

void ReservationEditDialog::ReadControls() {
    ReservationForm& f = form_;
    if (f.dated) {
        const QDate d = date_->date();
        f.date = CalendarDate{d.day(), d.month(), d.year()};
        f.time = FromQTime(time_->time());
        f.length = FromQTime(length_->time());
    }
    f.channel_selection = channel_->currentIndex();
    f.channel_text = gui::ToUtf8(channel_text_->text());
    f.service_limit = service_limit_->isChecked();
    f.service_id = gui::ToUtf8(service_id_->text());
    f.after_end = after_end_->currentIndex();
    f.event_id = gui::ToUtf8(event_id_->text());
    f.offset_start = gui::ToUtf8(offset_start_->text());
    f.offset_end = gui::ToUtf8(offset_end_->text());
    f.dir = gui::ToUtf8(dir_->text());
    f.file_given = file_given_->isChecked();
    f.file = gui::ToUtf8(file_->text());
    f.ext = gui::ToUtf8(ext_->text());
}

void ReservationEditDialog::accept() {
    ReadControls();
    FormResult result = ReadDialogRecord(form_, work_, device_);
    if (!result.record) {
        if (!result.message.empty()) {
            ui_.ShowMessage(result.message, "", MessageButtons::kOk);
        }
        return;
    }
    result_ = *result.record;
    QDialog::accept();
}

bool QtReservationEditor::Run(Reservation& work) {
    ReservationEditDialog dialog(work, device_, ui_, owner_);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    work = dialog.Result();
    return true;
}

}  // namespace tavrel
