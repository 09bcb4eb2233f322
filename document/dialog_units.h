// Dialog units: how a dialog template's coordinates become pixels.
//
// Template positions and sizes are counted in quarters of the dialog font's
// average character width (x) and eighths of its character height (y), so a
// dialog keeps its proportions whatever font the desktop uses.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    // Average width of the letters A-Z and a-z, rounded, and the font's line height.
    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int m_nBaseX;
    int m_nBaseY;
};
