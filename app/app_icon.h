#pragma once

#include <QFont>
#include <QIcon>

// The application icon, from the PNG sizes compiled into the program.
QIcon AppIcon();

// The font of both dialogs: the desktop's general font at 8 points.
QFont DialogFont();
