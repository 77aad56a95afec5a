// vorlanx: the dialog program. Reads no configuration and keeps no state; --help and --version are
// answered without a display.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_icon.h"
#include "app/vorlanx_app.h"

namespace {

// True when Qt can show a window here: a platform was chosen, or an X or Wayland display is named.
bool HasDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vorlanx " VORLANX_VERSION "\nCopyright (C) 2026 Vorlanx\n"
                        "License MIT: <https://opensource.org/licenses/MIT>.\n"
                        "This is free software: you are free to change and redistribute it.\n"
                        "There is NO WARRANTY, to the extent permitted by law.\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: vorlanx [--help | --version]\n"
                "Open the Ombrel test signal generator's dialog: the signal's settings, a preview, and\n"
                "\"Generate!\" to write the WAV file. vorlanx-gen writes the same files from the command\n"
                "line and needs no display; vorlanx-analyze measures a recording of them.\n");
            return 0;
        }
    }
    if (!HasDisplay()) {
        std::fprintf(stderr, "vorlanx: the dialog needs a display (X11 or Wayland), and none is set; "
                             "vorlanx-gen writes the same files without one.\n");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlanx"));
    QApplication::setApplicationVersion(QStringLiteral(VORLANX_VERSION));
    QApplication::setWindowIcon(AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vorlanx.Vorlanx"));
    return theApp.InitInstance() ? QApplication::exec() : 0;
}
