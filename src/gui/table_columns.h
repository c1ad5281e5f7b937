#pragma once

#include <span>

class QTableWidget;

namespace tavrel::gui {

struct TableColumn {
    const char* header;  // UTF-8
    int width;           // pixels, for a small system font
};

// A report-style list: the columns' headers and widths, left-aligned, full-row selection,
// grid lines, no editing, no row numbers.
void SetUpTable(QTableWidget& list, std::span<const TableColumn> columns);

// The given widths suit a small system font: a column is widened, never narrowed, to show its
// header and texts whole in the font of this platform.
void FitColumns(QTableWidget& list, std::span<const TableColumn> columns);

}  // namespace tavrel::gui
