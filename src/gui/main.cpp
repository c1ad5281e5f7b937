// The desktop application: the main window on the built-in tuner, the settings in tavrel.ini
// of the directory it starts in.
#include <QApplication>

#include "gui/gui_app.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Tavrel");
    QApplication::setApplicationVersion(TAVREL_VERSION);
    // The main window's accepted close ends the program, whatever child window is still open.
    QApplication::setQuitOnLastWindowClosed(false);

    tavrel::gui::GuiApp app;
    app.SetClosedHandler([] { QApplication::quit(); });
    if (!app.Start()) {
        return 1;
    }
    return QApplication::exec();
}
