#pragma once

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <string>

namespace tavrel::testing {

// Writes the picture to build/screenshots/<name>.png, for a person to look at; returns the
// path, empty when it could not be written.
inline std::string SavePicture(const QPixmap& picture, const std::string& name) {
    const std::filesystem::path folder = TAVREL_SCREENSHOT_DIR;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = (folder / (name + ".png")).string();
    return picture.save(QString::fromStdString(path), "PNG") ? path : std::string();
}

// A picture of the widget (QWidget::grab). Lays the widget out and paints it first, so a window
// never shown still shows its default size.
inline std::string SaveScreenshot(QWidget& widget, const std::string& name) {
    widget.ensurePolished();
    if (!widget.isVisible()) {
        widget.adjustSize();
    }
    return SavePicture(widget.grab(), name);
}

// A picture of the window with the tooltip shown over it, painted where it stands: the tip is
// a window of its own, which a grab of the window leaves out.
inline std::string SaveScreenshotWithTip(QWidget& window, const std::string& name) {
    const QPixmap shot = window.grab();
    QRect area(QPoint(0, 0), shot.size() / shot.devicePixelRatio());
    QPixmap tip;
    QPoint tip_at;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->inherits("QTipLabel") && top->isVisible()) {
            tip = top->grab();
            tip_at = window.mapFromGlobal(top->pos());
            area = area.united(QRect(tip_at, top->size()));
        }
    }
    // The canvas holds the window and the tip wherever it stands, nothing cut off.
    QPixmap picture(area.size());
    picture.fill(Qt::lightGray);
    {
        QPainter painter(&picture);
        painter.drawPixmap(-area.topLeft(), shot);
        if (!tip.isNull()) {
            painter.drawPixmap(tip_at - area.topLeft(), tip);
        }
    }
    return SavePicture(picture, name);
}

}  // namespace tavrel::testing
