#include "ui/lumivex_view.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "document/doc_host.h"

namespace {

// The gray face turned upright: stored row 0 is the picture's bottom row.
QImage GrayPicture(const CDibImage& image)
{
    QImage picture(image.m_nWidth, image.m_nHeight, QImage::Format_Grayscale8);
    if (picture.isNull())
        return {};
    for (int y = 0; y < image.m_nHeight; ++y) {
        const std::uint8_t* row = image.m_pBits.get() + static_cast<std::size_t>(image.m_nHeight - 1 - y) * image.m_nWidth;
        std::memcpy(picture.scanLine(y), row, static_cast<std::size_t>(image.m_nWidth));
    }
    return picture;
}

// The decoded raster: colour rows, already top-down, or a gray face weighed
// while decoding, bottom-up.
QImage ColourPicture(const CRgbRaster& raster)
{
    if (!raster.Complete())
        return {};
    QImage picture(raster.width, raster.height, raster.gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (picture.isNull())
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(raster.width) * (raster.gray ? 1 : 3);
    for (int y = 0; y < raster.height; ++y)
        std::memcpy(picture.scanLine(y), raster.gray ? raster.GrayRow(y) : raster.Row(y), rowBytes);
    return picture;
}

// Nearest-pixel stretch: destination column x takes source column
// x * sourceWidth / width (rows alike), so the first row and column come from
// the picture's first and blocks repeat evenly when enlarging. Never averages.
QImage StretchNearest(const QImage& source, const QSize& size)
{
    QImage stretched(size, source.format());
    if (stretched.isNull() || source.isNull())
        return {};
    const int bytes = source.depth() / 8;
    std::vector<int> columns(static_cast<std::size_t>(size.width()));
    for (int x = 0; x < size.width(); ++x)
        columns[x] = static_cast<int>(static_cast<long long>(x) * source.width() / size.width()) * bytes;
    for (int y = 0; y < size.height(); ++y) {
        const uchar* from = source.constScanLine(static_cast<int>(static_cast<long long>(y) * source.height() / size.height()));
        uchar* to = stretched.scanLine(y);
        for (int x = 0; x < size.width(); ++x, to += bytes)
            std::memcpy(to, from + columns[x], static_cast<std::size_t>(bytes));
    }
    return stretched;
}

}  // namespace

CLumivexView::CLumivexView(CLumivexDoc* document, QWidget* parent) : QAbstractScrollArea(parent), m_pDocument(document)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    if (m_pDocument)
        connect(m_pDocument, &CLumivexDoc::ImageChanged, this, &CLumivexView::OnUpdate);
}

QRect CLumivexView::GetImageRect() const
{
    if (!m_pDocument || !m_pDocument->m_pImage)
        return {};
    if (m_bFitToWindow)
        return QRect(QPoint(0, 0), viewport()->size());
    return QRect(0, 0, m_pDocument->m_pImage->m_nWidth, m_pDocument->m_pImage->m_nHeight);
}

void CLumivexView::UpdateScrollSizes()
{
    const QSize client = viewport()->size();
    const QRect image = GetImageRect();
    QScrollBar* horizontal = horizontalScrollBar();
    QScrollBar* vertical = verticalScrollBar();
    horizontal->setPageStep(std::max(1, client.width()));
    horizontal->setSingleStep(std::max(1, client.width() / 10));
    horizontal->setRange(0, std::max(0, image.width() - client.width()));
    vertical->setPageStep(std::max(1, client.height()));
    vertical->setSingleStep(std::max(1, client.height() / 10));
    vertical->setRange(0, std::max(0, image.height() - client.height()));
}

void CLumivexView::OnInitialUpdate()
{
    UpdateScrollSizes();
}

void CLumivexView::OnFitToWindow()
{
    m_bFitToWindow = !m_bFitToWindow;
    UpdateScrollSizes();
    viewport()->update();
}

QPoint CLumivexView::GetScrollPosition() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QString CLumivexView::ReadoutAt(const QPoint& point) const
{
    if (m_bFitToWindow || !m_pDocument || !m_pDocument->m_pImage)
        return {};
    const CDibImage& image = *m_pDocument->m_pImage;
    const QPoint scroll = GetScrollPosition();
    const int x = point.x() + scroll.x();
    const int y = point.y() + scroll.y();
    // An image without its gray face has no levels to read.
    if (!image.HasPixels() || x < 0 || y < 0 || x >= image.m_nWidth || y >= image.m_nHeight)
        return {};
    return QString::asprintf("x: %d  y: %d  color: %d", x, y, static_cast<int>(image.GetPixel(x, image.m_nHeight - 1 - y)));
}

void CLumivexView::OnUpdate()
{
    m_picture = QImage();
    m_pPictureSource = nullptr;
    m_stretched = QImage();
    UpdateScrollSizes();
    viewport()->update();
}

const QImage& CLumivexView::Picture()
{
    const CDibImage* image = m_pDocument ? m_pDocument->m_pImage.get() : nullptr;
    const void* source = nullptr;
    if (image)
        source = image->HasPixels() ? static_cast<const void*>(image->m_pBits.get())
                                    : static_cast<const void*>(image->m_pBitmap.get());
    if (source != m_pPictureSource) {
        m_pPictureSource = source;
        m_stretched = QImage();
        if (!source)
            m_picture = QImage();
        else
            m_picture = image->HasPixels() ? GrayPicture(*image) : ColourPicture(*image->m_pBitmap);
    }
    return m_picture;
}

void CLumivexView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QRect client = viewport()->rect();
    QRect image = GetImageRect();
    if (!m_bFitToWindow)
        image.translate(-GetScrollPosition());

    const QImage& picture = Picture();
    QRegion background(client);
    if (!picture.isNull())
        background -= image;
    for (const QRect& rect : background)
        painter.fillRect(rect, BackgroundColor());
    if (picture.isNull())
        return;

    if (m_bFitToWindow) {
        // Stretched once per window size, nearest pixels, never averaged.
        if (m_stretched.size() != client.size())
            m_stretched = StretchNearest(picture, client.size());
        painter.drawImage(QPoint(0, 0), m_stretched);
    } else {
        painter.drawImage(image.topLeft(), picture);
    }
}

void CLumivexView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollSizes();
}

void CLumivexView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CLumivexView::mouseMoveEvent(QMouseEvent* event)
{
    QAbstractScrollArea::mouseMoveEvent(event);
    if (!m_pDocument || !m_pDocument->m_pImage)
        return;  // a document made by New leaves the pane alone
    if (CDocHost* host = TheDocHost())
        host->SetPaneText(0, ReadoutAt(event->position().toPoint()));
}

void CLumivexView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (m_pDocument)
        m_pDocument->ShowElapsedTime();
}
