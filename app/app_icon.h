#pragma once

#include <QFont>
#include <QIcon>

// The application icon, from the PNG sizes compiled into the program. Needs a QGuiApplication.
QIcon AppIcon();

// The font of both dialogs: the desktop's general font at the size the user chose (the
// application font, which the platform theme sets from the desktop's settings).
QFont DialogFont();
