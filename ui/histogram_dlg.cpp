#include "ui/histogram_dlg.h"

#include <algorithm>

#include <QCloseEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>

#include "core/dib_image.h"
#include "document/dialog_units.h"

namespace {

// Template 148: position and client size in dialog units.
constexpr int kTemplateX = 5;
constexpr int kTemplateY = 35;
constexpr int kTemplateWidth = 347;
constexpr int kTemplateHeight = 116;

// Pixels right of the plot in the template's own font (347 dialog units at a
// base width of 6 are 521 pixels), kept when a narrow font would cut the plot.
constexpr int kRightMargin = 5;

const int* CountsOf(const CDibImage* image)
{
    return image && image->m_pHistogram ? image->m_pHistogram->data() : nullptr;
}

// A line of pen width 1 from `from` to `to`, which are on one column or one
// row, covering its start point and not its end point.
void Line(QPainter& painter, const QColor& colour, QPoint from, QPoint to)
{
    if (from == to)
        return;
    QRect covered;
    if (from.x() == to.x())
        covered = from.y() < to.y() ? QRect(from.x(), from.y(), 1, to.y() - from.y())
                                    : QRect(from.x(), to.y() + 1, 1, from.y() - to.y());
    else
        covered = from.x() < to.x() ? QRect(from.x(), from.y(), to.x() - from.x(), 1)
                                    : QRect(to.x() + 1, from.y(), from.x() - to.x(), 1);
    painter.fillRect(covered, colour);
}

}  // namespace

CHistogramDlg::CHistogramDlg(CDibImage* image, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_pImage(image)
{
    setObjectName(QStringLiteral("CHistogramDlg"));
    setModal(false);
    // The main window's keys (Open, Save As, New) work from here too, as they
    // do from every window the main window owns.
    if (owner)
        addActions(owner->actions());
    if (m_pImage)
        m_pImage->ComputeHistogram();
    m_pCounts = CountsOf(m_pImage);
}

bool CHistogramDlg::Create()
{
    const CDialogUnits units(font());
    QSize client = units.Size(kTemplateWidth, kTemplateHeight);
    client.setWidth(std::max(client.width(), kPlotWidth + kRightMargin));
    setFixedSize(client);

    // Counted from the owner's client area, which begins below its menu bar.
    QWidget* owner = parentWidget();
    QPoint origin;
    if (owner) {
        origin = owner->mapToGlobal(QPoint(0, 0));
        if (auto* frame = qobject_cast<QMainWindow*>(owner))
            if (QWidget* menu = frame->menuWidget(); menu && !menu->isHidden())
                origin.ry() += menu->height();
    }
    move(origin + QPoint(units.X(kTemplateX), units.Y(kTemplateY)));
    show();
    activateWindow();
    return true;
}

void CHistogramDlg::ComputeMaxCount()
{
    m_nMaxCount = 0;
    if (!m_pCounts)
        return;
    for (int level = 0; level < 256; ++level)
        if (m_pCounts[level] > m_nMaxCount)
            m_nMaxCount = m_pCounts[level];
}

void CHistogramDlg::reject()
{
}

void CHistogramDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void CHistogramDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // MFC-style client rectangle: right and bottom are one past the last pixel.
    const int left = 0;
    const int top = 0;
    const int bottom = height();

    // The axes: up the left side, then along the bottom under every bar.
    Line(painter, AxisColor(), QPoint(left + 2, top + 10), QPoint(left + 2, bottom - 8));
    Line(painter, AxisColor(), QPoint(left + 2, bottom - 8), QPoint(left + kPlotWidth - 1, bottom - 8));

    // The counts are read afresh at every paint, from the image's own array
    // (which only the user-interface thread ever rewrites: commands run on copies).
    m_pCounts = CountsOf(m_pImage);
    ComputeMaxCount();
    if (m_nMaxCount <= 0)
        return;

    const int base = bottom - 10;
    const int available = bottom - top - 32;
    const float scale = static_cast<float>(static_cast<double>(available) / m_nMaxCount);
    for (int level = 0; level < 256 && 4 + 2 * level < kPlotWidth; ++level) {
        const int count = m_pCounts[level];
        if (count == 0)
            continue;
        const int x = left + 4 + 2 * level;
        // Truncated toward zero, from the single-precision scale widened to double.
        const int tip = static_cast<int>(base - count * static_cast<double>(scale));
        painter.fillRect(QRect(x, base, 1, 1), BarColor());
        Line(painter, BarColor(), QPoint(x, base), QPoint(x, tip));
    }
}
