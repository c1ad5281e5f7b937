#include "app/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace tavrel {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("about_dialog");
    setWindowTitle(QString::fromUtf8("バージョン情報"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QString("Tavrel %1").arg(TAVREL_VERSION), this);
    name->setObjectName("about_name");
    QFont bigger = name->font();
    bigger.setPointSizeF(bigger.pointSizeF() * 1.4);
    bigger.setBold(true);
    name->setFont(bigger);
    auto* notice =
        new QLabel(QString::fromUtf8("日本のデジタルテレビ放送 (ISDB) のキャプチャツール。\n"
                                     "受信状況の表示、TS の録画、UDP 送信、番組情報と録画予約。\n"
                                     "個人の視聴と研究のためにお使いください。"),
                   this);
    notice->setObjectName("about_notice");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    layout->addWidget(name);
    layout->addWidget(notice);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

}  // namespace tavrel
