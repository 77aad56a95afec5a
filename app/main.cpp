// vorlanx: the dialog program. Reads no options of its own, no configuration, and keeps no state.
#include <QApplication>

#include "app/app_icon.h"
#include "app/vorlanx_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlanx"));
    QApplication::setApplicationVersion(QStringLiteral(VORLANX_VERSION));
    QApplication::setWindowIcon(AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vorlanx.Vorlanx"));
    return theApp.InitInstance() ? QApplication::exec() : 0;
}
