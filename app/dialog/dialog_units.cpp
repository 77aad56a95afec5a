#include "app/dialog/dialog_units.h"

#include <QFontMetrics>
#include <algorithm>

namespace {
// a * b / c rounded half away from zero, in 64 bits.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product >= 0 ? product + c / 2 : product - c / 2) / c);
}
} // namespace

CDialogUnits::CDialogUnits(const QFont& font, int minimumBaseX) {
    const QFontMetrics metrics(font);
    const int total =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = std::max((total / 26 + 1) / 2, minimumBaseX);
    m_nBaseY = metrics.height();
}

QRect CDialogUnits::ToPixels(int x, int y, int width, int height) const {
    return {MulDiv(x, m_nBaseX, 4), MulDiv(y, m_nBaseY, 8), MulDiv(width, m_nBaseX, 4),
            MulDiv(height, m_nBaseY, 8)};
}

QSize CDialogUnits::ToPixels(int width, int height) const {
    return {MulDiv(width, m_nBaseX, 4), MulDiv(height, m_nBaseY, 8)};
}
