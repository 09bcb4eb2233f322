// CHistogramDlg: the small window that plots a document's gray-level histogram.
//
// 256 vertical bars, one per gray level, two pixels apart, stand on a base row
// above a horizontal axis, with a vertical axis on the left; the tallest bar
// reaches 22 rows below the client's top, every other one is scaled to it, and
// any level that occurs at all shows at least its base pixel. The plot is 516
// pixels wide whatever the window's size, and is redrawn from the image's own
// counts at every paint. The window belongs to its document: it has no close
// box, ignores close requests and Escape, and cannot be resized; View >
// Histogram and the closing of the document are the only ways to remove it.
#pragma once

#include <QColor>
#include <QDialog>

class CDibImage;

class CHistogramDlg : public QDialog {
    Q_OBJECT
public:
    // Counts image's histogram (ComputeHistogram) and points at its counts.
    // owner is the window the histogram stays above (the main window), or null.
    explicit CHistogramDlg(CDibImage* image, QWidget* owner = nullptr);

    // Makes the window from its template: fixed client size 347 x 116 dialog
    // units, placed 5, 35 dialog units from the top-left corner of the owner's
    // client area, then shown and activated. False when no window could be made.
    bool Create();
    // m_nMaxCount = the largest of the 256 counts (0 when all are 0).
    void ComputeMaxCount();

    // The plot's geometry, in client pixels.
    static constexpr int kPlotWidth = 516;   // columns 0 .. 515 hold axes and bars
    static QColor AxisColor() { return QColor(0, 0, 200); }
    static QColor BarColor() { return QColor(20, 20, 20); }

    int m_nMaxCount = 0;
    // The image whose histogram is shown; not owned.
    CDibImage* m_pImage = nullptr;
    // The image's own 256 counts, indexed by gray level; not owned, not copied.
    const int* m_pCounts = nullptr;

public slots:
    // Escape does nothing: the window is removed only by its command or its document.
    void reject() override;

protected:
    // OnPaint.
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
