// The image view: drawing at natural size and fitted, scrolling, the pixel
// readout in pane 0 and the elapsed time in pane 1.
#include <QMdiArea>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>

#include "tests/ui/ui_test_support.h"
#include "ui/string_table.h"

namespace {

using testing_support::MakeRandom;

const QRgb kBackground = qRgb(200, 200, 200);

QImage Shown(CLumivexView* view)
{
    return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Sizes the document window so that its view's client area is exactly size.
void SetClientSize(CChildFrame* frame, const QSize& size)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QSize now = frame->View()->viewport()->size();
        frame->resize(frame->size() + (size - now));
        QCoreApplication::processEvents();
    }
}

void MoveMouse(CLumivexView* view, const QPoint& point)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(point), view->viewport()->mapToGlobal(QPointF(point)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &move);
}

CChildFrame* FrameOf(CWorkbench& bench, CLumivexDoc* document)
{
    for (CChildFrame* frame : bench.Frame().ChildFrames())
        if (frame->Document() == document)
            return frame;
    return nullptr;
}

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT

private slots:
    void aSmallImageSitsTopLeftOnGray()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakeRandom(37, 23, 1));
        CChildFrame* frame = FrameOf(bench, document);
        SetClientSize(frame, QSize(120, 90));
        CLumivexView* view = frame->View();
        QCOMPARE(view->viewport()->size(), QSize(120, 90));
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(view->verticalScrollBar()->maximum(), 0);
        QVERIFY(!view->horizontalScrollBar()->isVisible() && !view->verticalScrollBar()->isVisible());

        const QImage shown = Shown(view);
        const CDibImage& image = *document->m_pImage;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb expected = x < 37 && y < 23 ? qRgb(LevelOnScreen(image, x, y), LevelOnScreen(image, x, y),
                                                              LevelOnScreen(image, x, y))
                                                       : kBackground;
                if (shown.pixel(x, y) != expected)
                    QFAIL(qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
            }
    }

    void aLargeImageScrollsByPagesAndTenths()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakeRandom(700, 500, 2));
        CChildFrame* frame = FrameOf(bench, document);
        SetClientSize(frame, QSize(300, 200));
        CLumivexView* view = frame->View();
        const QSize client = view->viewport()->size();
        QCOMPARE(client, QSize(300, 200));
        QScrollBar* h = view->horizontalScrollBar();
        QScrollBar* v = view->verticalScrollBar();
        QVERIFY(h->isVisible() && v->isVisible());
        QCOMPARE(h->maximum(), 700 - client.width());
        QCOMPARE(v->maximum(), 500 - client.height());
        QCOMPARE(h->pageStep(), client.width());
        QCOMPARE(v->pageStep(), client.height());
        QCOMPARE(h->singleStep(), client.width() / 10);
        QCOMPARE(v->singleStep(), client.height() / 10);

        // At the end of both ranges the last column and row meet the client's edges.
        h->setValue(h->maximum());
        v->setValue(v->maximum());
        const QImage shown = Shown(view);
        const CDibImage& image = *document->m_pImage;
        const int sx = h->value();
        const int sy = v->value();
        for (int y = 0; y < client.height(); y += 7)
            for (int x = 0; x < client.width(); x += 5) {
                const int level = LevelOnScreen(image, x + sx, y + sy);
                QCOMPARE(shown.pixel(x, y), qRgb(level, level, level));
            }
        const int corner = LevelOnScreen(image, 699, 499);
        QCOMPARE(shown.pixel(client.width() - 1, client.height() - 1), qRgb(corner, corner, corner));
    }

    void theReadoutNamesThePixelUnderTheMouse()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakeRandom(400, 300, 3));
        CChildFrame* frame = FrameOf(bench, document);
        SetClientSize(frame, QSize(150, 100));
        CLumivexView* view = frame->View();
        view->horizontalScrollBar()->setValue(31);
        view->verticalScrollBar()->setValue(17);
        const CDibImage& image = *document->m_pImage;

        MoveMouse(view, QPoint(0, 0));
        // y is counted from the top: stored row height - 1 - 17.
        QCOMPARE(bench.Frame().PaneText(0),
                 QString("x: 31  y: 17  color: %1").arg(image.GetPixel(31, 300 - 1 - 17)));
        MoveMouse(view, QPoint(9, 4));
        QCOMPARE(bench.Frame().PaneText(0), QString("x: 40  y: 21  color: %1").arg(image.GetPixel(40, 300 - 1 - 21)));

        // Beyond the image's right or bottom edge the pane empties.
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        CLumivexDoc* small = bench.NewDocumentWith(MakeRandom(20, 10, 4));
        CChildFrame* smallFrame = FrameOf(bench, small);
        SetClientSize(smallFrame, QSize(100, 80));
        MoveMouse(smallFrame->View(), QPoint(19, 9));
        QVERIFY(bench.Frame().PaneText(0).startsWith("x: 19  y: 9  color: "));
        MoveMouse(smallFrame->View(), QPoint(20, 5));
        QCOMPARE(bench.Frame().PaneText(0), QString());
        MoveMouse(smallFrame->View(), QPoint(5, 10));
        QCOMPARE(bench.Frame().PaneText(0), QString());
    }

    void fitStretchesOverTheWholeClientArea()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakeRandom(400, 300, 5));
        CChildFrame* frame = FrameOf(bench, document);
        SetClientSize(frame, QSize(150, 100));
        CLumivexView* view = frame->View();
        const int hMax = view->horizontalScrollBar()->maximum();
        const int vMax = view->verticalScrollBar()->maximum();
        QVERIFY(hMax > 0 && vMax > 0);

        QAction* fit = bench.Frame().Action(ids::kFitToWindow);
        QVERIFY(fit->isEnabled() && !fit->isChecked());
        fit->trigger();
        QCoreApplication::processEvents();
        QVERIFY(view->m_bFitToWindow);
        QVERIFY(fit->isChecked());
        auto* button = qobject_cast<QToolButton*>(bench.Frame().ToolBar()->widgetForAction(fit));
        QVERIFY(button && button->isChecked());
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(view->verticalScrollBar()->maximum(), 0);

        const QSize client = view->viewport()->size();
        QCOMPARE(view->GetImageRect(), QRect(QPoint(0, 0), client));
        const QImage shown = Shown(view);
        const CDibImage& image = *document->m_pImage;
        const auto gray = [](int level) { return qRgb(level, level, level); };
        QCOMPARE(shown.pixel(0, 0), gray(LevelOnScreen(image, 0, 0)));
        // Nearest pixels, never averaged: column x shows source column x * 400 / width.
        for (int y = 0; y < client.height(); ++y)
            for (int x = 0; x < client.width(); ++x)
                if (shown.pixel(x, y) != gray(LevelOnScreen(image, x * 400 / client.width(), y * 300 / client.height())))
                    QFAIL(qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
        bench.Frame().SetPaneText(0, "before");
        MoveMouse(view, QPoint(5, 5));
        QCOMPARE(bench.Frame().PaneText(0), QString());

        // A second toggle brings the natural size and its scroll ranges back.
        fit->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!view->m_bFitToWindow && !fit->isChecked() && !button->isChecked());
        QCOMPARE(view->horizontalScrollBar()->maximum(), hMax);
        QCOMPARE(view->verticalScrollBar()->maximum(), vMax);
    }

    void fitBelongsToEachView()
    {
        CWorkbench bench;
        CLumivexDoc* first = bench.NewDocumentWith(MakeRandom(40, 30, 6));
        CLumivexDoc* second = bench.NewDocumentWith(MakeRandom(40, 30, 7));
        QAction* fit = bench.Frame().Action(ids::kFitToWindow);
        fit->trigger();  // on the second, the active one
        QVERIFY(FrameOf(bench, second)->View()->m_bFitToWindow);
        QVERIFY(!FrameOf(bench, first)->View()->m_bFitToWindow);
        bench.Frame().MdiArea()->setActiveSubWindow(FrameOf(bench, first));
        QVERIFY(!fit->isChecked());
        bench.Frame().MdiArea()->setActiveSubWindow(FrameOf(bench, second));
        QVERIFY(fit->isChecked());
    }

    void aDocumentWithoutImageIsAllGray()
    {
        CWorkbench bench;
        bench.app.OnFileNew();
        CChildFrame* frame = bench.Frame().ActiveChildFrame();
        QVERIFY(frame && !frame->Document()->HasImage());
        CLumivexView* view = frame->View();
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(view->verticalScrollBar()->maximum(), 0);
        const QImage shown = Shown(view);
        for (int y = 0; y < shown.height(); y += 4)
            for (int x = 0; x < shown.width(); x += 4)
                QCOMPARE(shown.pixel(x, y), kBackground);
        bench.Frame().SetPaneText(0, "unchanged");
        MoveMouse(view, QPoint(3, 3));
        QCOMPARE(bench.Frame().PaneText(0), QString("unchanged"));
        // Fit is available for any document window.
        QVERIFY(bench.Frame().Action(ids::kFitToWindow)->isEnabled());
    }

    void aPictureWithoutGrayFaceShowsItsColours()
    {
        CWorkbench bench;
        auto image = std::make_unique<CDibImage>();
        auto raster = std::make_unique<CRgbRaster>();
        raster->width = 4;
        raster->height = 2;
        raster->rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30,  // top row
                       1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252};
        image->m_pBitmap = std::move(raster);
        image->m_nWidth = 4;
        image->m_nHeight = 2;
        CLumivexDoc* document = bench.NewDocumentWith(std::move(image));
        CLumivexView* view = FrameOf(bench, document)->View();
        const QImage shown = Shown(view);
        QCOMPARE(shown.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(3, 0), qRgb(10, 20, 30));
        QCOMPARE(shown.pixel(3, 1), qRgb(250, 251, 252));
        QCOMPARE(shown.pixel(4, 0), kBackground);
        // Without gray levels there is nothing to read out.
        bench.Frame().SetPaneText(0, "x");
        MoveMouse(view, QPoint(1, 1));
        QCOMPARE(bench.Frame().PaneText(0), QString());
    }

    void activatingAWindowShowsItsDocumentsTime()
    {
        CWorkbench bench;
        CLumivexDoc* processed = bench.NewDocumentWith(MakeRandom(8, 8, 8));
        processed->m_strElapsed = "0.047";
        processed->ShowElapsedTime();
        QCOMPARE(bench.Frame().PaneText(1), QString("Time (s):0.047"));
        CLumivexDoc* opened = bench.NewDocumentWith(MakeRandom(8, 8, 9));
        QCOMPARE(bench.Frame().PaneText(1), QString());
        bench.Frame().MdiArea()->setActiveSubWindow(FrameOf(bench, processed));
        QCOMPARE(bench.Frame().PaneText(1), QString("Time (s):0.047"));
        bench.Frame().MdiArea()->setActiveSubWindow(FrameOf(bench, opened));
        QCOMPARE(bench.Frame().PaneText(1), QString());
        // The view's focus shows its document's time too.
        FrameOf(bench, processed)->View()->setFocus();
        QFocusEvent focusIn(QEvent::FocusIn);
        QCoreApplication::sendEvent(FrameOf(bench, processed)->View(), &focusIn);
        QCOMPARE(bench.Frame().PaneText(1), QString("Time (s):0.047"));
    }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
