#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Converts dialog units to pixels for one font: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height, so a layout given in dialog
// units keeps its proportions at any font size and on high-DPI screens.
class CDialogUnits {
public:
    // `minimumBaseX`: a horizontal unit of at least this many pixels (x 4), where the texts of a
    // layout need more room than the font's average width gives them.
    explicit CDialogUnits(const QFont& font, int minimumBaseX = 0);

    // Average width of "A".."Z" and "a".."z" in pixels, rounded: (total / 26 + 1) / 2, or the
    // minimum given, whichever is larger.
    int BaseX() const { return m_nBaseX; }
    // The font's height in pixels (ascent + descent).
    int BaseY() const { return m_nBaseY; }

    // x, y, width, height in dialog units to a pixel rectangle (each coordinate scaled and
    // rounded to the nearest pixel, as x * BaseX / 4 and y * BaseY / 8).
    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(int width, int height) const;

private:
    int m_nBaseX;
    int m_nBaseY;
};
