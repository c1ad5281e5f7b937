#include "gui/table_columns.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

namespace tavrel::gui {

void SetUpTable(QTableWidget& list, std::span<const TableColumn> columns) {
    list.setColumnCount(static_cast<int>(columns.size()));
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.setShowGrid(true);
    list.setWordWrap(false);
    list.verticalHeader()->setVisible(false);
    list.verticalHeader()->setDefaultSectionSize(list.fontMetrics().height() + 6);
    list.horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list.horizontalHeader()->setHighlightSections(false);
    for (size_t i = 0; i < columns.size(); ++i) {
        list.setHorizontalHeaderItem(static_cast<int>(i),
                                     new QTableWidgetItem(QString::fromUtf8(columns[i].header)));
        list.setColumnWidth(static_cast<int>(i), columns[i].width);
    }
}

void FitColumns(QTableWidget& list, std::span<const TableColumn> columns) {
    for (size_t i = 0; i < columns.size(); ++i) {
        const int c = static_cast<int>(i);
        int wanted = std::max(columns[i].width, list.horizontalHeader()->sectionSizeHint(c));
        for (int r = 0; r < list.rowCount(); ++r) {
            if (const QTableWidgetItem* item = list.item(r, c); item != nullptr) {
                // Room for the margins, and for the check box of a checkable cell.
                const int extra = (item->flags() & Qt::ItemIsUserCheckable) != 0 ? 36 : 12;
                wanted =
                    std::max(wanted, list.fontMetrics().horizontalAdvance(item->text()) + extra);
            }
        }
        if (list.columnWidth(c) != wanted) {
            list.setColumnWidth(c, wanted);
        }
    }
}

}  // namespace tavrel::gui
