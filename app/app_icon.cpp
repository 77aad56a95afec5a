#include "app/app_icon.h"

#include <QGuiApplication>

// The icon's PNGs are compiled into this static library; a linker keeps that object only when
// something refers to it, so the resources are registered here, where they are used.
static void RegisterIconResources() {
    Q_INIT_RESOURCE(vorlanx);
}

QIcon AppIcon() {
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/vorlanx-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QFont DialogFont() {
    return QGuiApplication::font();
}
