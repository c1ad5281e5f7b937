#pragma once

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QToolTip>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

namespace tavrel::testing {

// Runs `act` on the modal window named `name` once it is open (a modal dialog's exec() blocks
// the test until something inside its event loop closes it). Gives up after the timeout.
inline void WhenModal(const char* name, std::function<void(QWidget&)> act, int timeout_ms = 10000) {
    auto* timer = new QTimer();
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, waited, name, act = std::move(act), timeout_ms] {
                         QWidget* modal = QApplication::activeModalWidget();
                         *waited += 20;
                         if (modal != nullptr && modal->objectName() == name) {
                             timer->stop();
                             timer->deleteLater();
                             act(*modal);
                         } else if (*waited > timeout_ms) {
                             ADD_FAILURE() << "no modal window " << name;
                             timer->stop();
                             timer->deleteLater();
                         }
                     });
    timer->start(20);
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
    const std::filesystem::path folder = TAVREL_SCREENSHOT_DIR;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = (folder / (name + ".png")).string();
    return picture.save(QString::fromStdString(path), "PNG") ? path : std::string();
}

}  // namespace tavrel::testing
