#include "ui/guide_dialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "gui/qt_text.h"

namespace tavrel {
namespace {

QColor Rgb(uint32_t rgb) {
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Each line filled with its colour from the guide's table, its text on one line, cut with an
// ellipsis.
class GuideLineDelegate final : public QStyledItemDelegate {
public:
    GuideLineDelegate(const ProgrammeGuide& guide, QObject* parent)
        : QStyledItemDelegate(parent), guide_(guide) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto line = static_cast<size_t>(index.row());
        if (line >= guide_.Lines().size()) {
            return;
        }
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const GuideColour& colour =
            kGuideColours.at(static_cast<size_t>(guide_.ColourIndex(line, selected)));
        painter->save();
        painter->fillRect(option.rect, Rgb(colour.brush));
        painter->setPen(Rgb(colour.text));
        const QRect text_rect = option.rect.adjusted(2, 0, -2, 0);
        const QString text = option.fontMetrics.elidedText(gui::ToQt(guide_.Lines()[line]),
                                                           Qt::ElideRight, text_rect.width());
        painter->drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }

private:
    const ProgrammeGuide& guide_;
};

}  // namespace

GuideDialog::GuideDialog(const ProgrammeGuide& guide, QWidget* parent)
    : QDialog(parent), guide_(guide) {
    setObjectName("guide_dialog");
    setWindowTitle(QString::fromUtf8("仮EPG"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName("guide_lines");
    list_->setItemDelegate(new GuideLineDelegate(guide_, list_));
    list_->setUniformItemSizes(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (const std::string& line : guide_.Lines()) {
        list_->addItem(gui::ToQt(line));
    }
    list_->setEnabled(guide_.ListEnabled());
    layout->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout();
    auto* reserve = new QPushButton(QString::fromUtf8("イベントIDで録画予約"), this);
    reserve->setObjectName("reserve");
    reserve->setAutoDefault(false);
    auto* close = new QPushButton(QString::fromUtf8("閉じる"), this);
    close->setObjectName("close");
    close->setAutoDefault(false);
    buttons->addWidget(reserve);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(reserve, &QPushButton::clicked, this, [this] {
        const QList<QListWidgetItem*> selected = list_->selectedItems();
        const std::optional<int> choice =
            guide_.ReserveChoice(selected.empty() ? -1 : list_->row(selected.first()));
        if (choice) {
            chosen_ = *choice;
            accept();
        }
    });
    connect(close, &QPushButton::clicked, this, [this] { reject(); });
    // 350 x 177 dialog units; a fixed size, as wide as a line with a long name.
    setFixedSize(720, 380);
}

int GuideDialog::Run() {
    chosen_ = kGuideClosed;
    return exec() == QDialog::Accepted ? chosen_ : kGuideClosed;
}

}  // namespace tavrel
