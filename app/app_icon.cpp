#include "app/app_icon.h"

#include <QFontDatabase>

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/vorlanx-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QFont DialogFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}
