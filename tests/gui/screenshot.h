#pragma once

#include <QString>
#include <QWidget>
#include <filesystem>
#include <string>

namespace tavrel::testing {

// Writes a picture of the widget (QWidget::grab) to build/screenshots/<name>.png, for a person
// to look at; returns the path, empty when it could not be written. Lays the widget out and
// paints it first, so a window never shown still shows its default size.
inline std::string SaveScreenshot(QWidget& widget, const std::string& name) {
    const std::filesystem::path folder = TAVREL_SCREENSHOT_DIR;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = (folder / (name + ".png")).string();
    widget.ensurePolished();
    if (!widget.isVisible()) {
        widget.adjustSize();
    }
    return widget.grab().save(QString::fromStdString(path), "PNG") ? path : std::string();
}

}  // namespace tavrel::testing
