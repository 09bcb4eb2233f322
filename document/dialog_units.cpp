#include "document/dialog_units.h"

#include <QFontMetrics>

namespace {

// a * b / c rounded half away from zero, as dialog templates have always been scaled.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (letters / 26 + 1) / 2;
    m_nBaseY = metrics.height();
}

int CDialogUnits::X(int units) const
{
    return MulDiv(units, m_nBaseX, 4);
}

int CDialogUnits::Y(int units) const
{
    return MulDiv(units, m_nBaseY, 8);
}

QRect CDialogUnits::Rect(int x, int y, int width, int height) const
{
    // Both edges are converted, so adjacent controls stay adjacent after rounding.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize CDialogUnits::Size(int width, int height) const
{
    return QSize(X(width), Y(height));
}
