// CLumivexView: the scrolling image view of a document window.
//
// Shows the document's image at its natural size, scrolled when it is larger
// than the window, or stretched over the whole client area (fit to window, a
// per-view toggle). Everything the image does not cover is light gray. The
// pixel under the mouse goes to status pane 0 as "x: %d  y: %d  color: %d"
// with y counted from the picture's top, and gaining the focus shows the
// document's elapsed time in pane 1.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>

#include "document/lumivex_doc.h"

class CLumivexView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CLumivexView(CLumivexDoc* document, QWidget* parent = nullptr);

    CLumivexDoc* GetDocument() const { return m_pDocument; }

    // The rectangle the image occupies in client coordinates before scrolling:
    // empty without an image, the client area when fitted, else the image's size.
    QRect GetImageRect() const;
    // Scroll ranges from the image and client sizes: a page is the client
    // size, a line a tenth of it; fitted or without an image nothing scrolls.
    void UpdateScrollSizes();
    void OnInitialUpdate();
    // View > Fit image to window.
    void OnFitToWindow();
    QPoint GetScrollPosition() const;
    // The pixel readout for a point of the client area (empty outside the
    // image, while fitted, or without gray pixels).
    QString ReadoutAt(const QPoint& point) const;

    bool m_bFitToWindow = false;

    // The background around the image.
    static QColor BackgroundColor() { return QColor(200, 200, 200); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void OnUpdate();
    // The document's picture top-down, from its gray face or else its colour raster.
    const QImage& Picture();

    QPointer<CLumivexDoc> m_pDocument;
    QImage m_picture;
    const void* m_pPictureSource = nullptr;
    QImage m_stretched;
};
