// The histogram window: its drawing, pixel by pixel, and its life beside its
// document (opening, closing, check mark, title, owner, no-image documents).
#include <cmath>
#include <vector>

#include <QKeyEvent>
#include <QMdiArea>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

#include "document/dialog_units.h"
#include "tests/ui/ui_test_support.h"
#include "tests/support/test_images.h"
#include "ui/histogram_dlg.h"
#include "ui/string_table.h"

namespace {

using testing_support::MakePhotoLike;

// The histogram windows that exist now, wherever they came from.
QList<CHistogramDlg*> HistogramWindows()
{
    QList<CHistogramDlg*> found;
    for (QWidget* widget : QApplication::allWidgets())
        if (auto* dialog = qobject_cast<CHistogramDlg*>(widget))
            found.append(dialog);
    return found;
}

CHistogramDlg* HistogramOf(CLumivexDoc* document)
{
    return qobject_cast<CHistogramDlg*>(document->m_pHistogramDlg.get());
}

// An image holding counts[level] pixels of each level, in one row.
std::unique_ptr<CDibImage> ImageWithCounts(const std::vector<std::pair<int, int>>& counts)
{
    int total = 0;
    for (const auto& entry : counts)
        total += entry.second;
    auto image = std::make_unique<CDibImage>();
    image->CreateGray(total, 1);
    int x = 0;
    for (const auto& [level, count] : counts)
        for (int i = 0; i < count; ++i)
            image->m_pBits[x++] = static_cast<std::uint8_t>(level);
    return image;
}

// The plot written out pixel by pixel from its geometry: background, the
// vertical axis at column 2 from row 10 to bottom - 9, the horizontal axis on
// row bottom - 8 from column 2 to 514, and for every level with a non-zero
// count a column at 4 + 2 * level from the base row bottom - 10 up to the row
// below its tip.
QImage ExpectedPlot(const QSize& client, const std::array<int, 256>& counts, QRgb background)
{
    QImage plot(client, QImage::Format_RGB32);
    plot.fill(background);
    const QRgb axis = qRgb(0, 0, 200);
    const QRgb bar = qRgb(20, 20, 20);
    const int bottom = client.height();
    for (int y = 10; y <= bottom - 9; ++y)
        plot.setPixel(2, y, axis);
    for (int x = 2; x <= 514; ++x)
        plot.setPixel(x, bottom - 8, axis);
    int largest = 0;
    for (int count : counts)
        largest = std::max(largest, count);
    if (largest == 0)
        return plot;
    const int base = bottom - 10;
    const float scale = static_cast<float>(static_cast<double>(bottom - 32) / largest);
    for (int level = 0; level < 256; ++level) {
        if (counts[level] == 0)
            continue;
        const int tip = static_cast<int>(std::trunc(base - counts[level] * static_cast<double>(scale)));
        for (int y = std::min(base, tip + 1); y <= base; ++y)
            plot.setPixel(4 + 2 * level, y, bar);
    }
    return plot;
}

QImage Shown(QWidget* window)
{
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Empty when the two agree, else the first differing pixel.
QString FirstDifference(const QImage& shown, const QImage& expected)
{
    if (shown.size() != expected.size())
        return QString("size %1x%2, expected %3x%4")
            .arg(shown.width())
            .arg(shown.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != expected.pixel(x, y))
                return QString("pixel %1,%2 is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(shown.pixel(x, y) & 0xffffff, 6, 16, QChar('0'))
                    .arg(expected.pixel(x, y) & 0xffffff, 6, 16, QChar('0'));
    return {};
}

// The rows that column x covers in the bar colour.
QList<int> BarRows(const QImage& shown, int x)
{
    QList<int> rows;
    for (int y = 0; y < shown.height(); ++y)
        if (shown.pixel(x, y) == qRgb(20, 20, 20))
            rows.append(y);
    return rows;
}

}  // namespace

class HistogramTest : public QObject {
    Q_OBJECT

private slots:
    void thePlotFollowsItsGeometry_data()
    {
        QTest::addColumn<QList<int>>("levels");  // level, count, level, count, ...
        QTest::newRow("a single level") << QList<int>{128, 35};
        QTest::newRow("two levels, 1 : 2") << QList<int>{10, 1, 200, 2};
        QTest::newRow("the ends, 0 and 255") << QList<int>{0, 3, 255, 5};
        QTest::newRow("one pixel among many") << QList<int>{5, 100000, 77, 1, 78, 300};
        QTest::newRow("every level") << QList<int>{};
    }

    void thePlotFollowsItsGeometry()
    {
        QFETCH(QList<int>, levels);
        CWorkbench bench;
        std::unique_ptr<CDibImage> image;
        if (levels.isEmpty()) {
            image = std::make_unique<CDibImage>();
            image->CreateGray(256, 9);
            for (int i = 0; i < 256 * 9; ++i)
                image->m_pBits[i] = static_cast<std::uint8_t>((i * 7 + i / 256) % 256 * (i % 5 ? 1 : 0));
        } else {
            std::vector<std::pair<int, int>> counts;
            for (qsizetype i = 0; i + 1 < levels.size(); i += 2)
                counts.emplace_back(levels[i], levels[i + 1]);
            image = ImageWithCounts(counts);
        }
        CLumivexDoc* document = bench.NewDocumentWith(std::move(image));
        bench.Frame().Action(ids::kHistogram)->trigger();
        CHistogramDlg* window = HistogramOf(document);
        QVERIFY(window && window->isVisible());

        const QImage shown = Shown(window);
        const QRgb background = window->palette().color(QPalette::Window).rgb();
        const QImage expected = ExpectedPlot(window->size(), *document->m_pImage->m_pHistogram, background);
        const QString difference = FirstDifference(shown, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        // The tallest bar reaches the available height, 22 rows below the
        // top (one more or less as the single-precision scale rounds).
        int tallest = 0;
        for (int level = 0; level < 256; ++level)
            if ((*document->m_pImage->m_pHistogram)[level] == window->m_nMaxCount)
                tallest = level;
        const QList<int> rows = BarRows(shown, 4 + 2 * tallest);
        QCOMPARE(rows.last(), window->height() - 10);
        QVERIFY2(rows.first() == 22 || rows.first() == 23, qPrintable(QString::number(rows.first())));
        QCOMPARE(rows.size(), qsizetype(rows.last() - rows.first() + 1));
    }

    void aSingleLevelDrawsOneFullBar()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(ImageWithCounts({{99, 64}}));
        document->OnHistogram();
        CHistogramDlg* window = HistogramOf(document);
        QVERIFY(window);
        const QImage shown = Shown(window);
        for (int x = 3; x < shown.width(); ++x) {
            const QList<int> rows = BarRows(shown, x);
            if (x != 4 + 2 * 99) {
                QVERIFY2(rows.isEmpty(), qPrintable(QString("column %1").arg(x)));
                continue;
            }
            // 64 pixels scale exactly (a power of two): the tip is row 22, the bar starts at 23.
            QCOMPARE(rows.first(), 23);
            QCOMPARE(rows.last(), window->height() - 10);
            QCOMPARE(rows.size(), qsizetype(window->height() - 32));
        }
        // The axes, at the corners of the plot.
        QCOMPARE(shown.pixel(2, 10), qRgb(0, 0, 200));
        QCOMPARE(shown.pixel(2, 9), window->palette().color(QPalette::Window).rgb());
        QCOMPARE(shown.pixel(514, window->height() - 8), qRgb(0, 0, 200));
        QCOMPARE(shown.pixel(515, window->height() - 8), window->palette().color(QPalette::Window).rgb());
        QCOMPARE(shown.pixel(4 + 2 * 99, window->height() - 9), window->palette().color(QPalette::Window).rgb());
    }

    void aRareLevelShowsItsBasePixel()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(ImageWithCounts({{0, 200000}, {255, 1}}));
        document->OnHistogram();
        const QImage shown = Shown(HistogramOf(document));
        const int base = shown.height() - 10;
        const QList<int> full = BarRows(shown, 4);
        QVERIFY(full.first() == 22 || full.first() == 23);
        QCOMPARE(full.last(), base);
        QCOMPARE(full.size(), qsizetype(base - full.first() + 1));
        QCOMPARE(BarRows(shown, 514), QList<int>{base});
    }

    void theWindowIsFixedTitledAndOwned()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakePhotoLike(40, 30, 1));
        document->SetTitle("photo");
        bench.Frame().Action(ids::kHistogram)->trigger();
        CHistogramDlg* window = HistogramOf(document);
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QString("Histogram - photo"));
        QVERIFY(window->isWindow());
        QCOMPARE(window->parentWidget(), static_cast<QWidget*>(&bench.Frame()));
        QVERIFY(!window->isModal());
        QVERIFY(!(window->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(window->windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(!(window->windowFlags() & Qt::WindowMinMaxButtonsHint));

        // The template's size in dialog units, never less than the plot needs.
        const CDialogUnits units(window->font());
        QSize expected = units.Size(347, 116);
        expected.setWidth(std::max(expected.width(), 521));
        QCOMPARE(window->size(), expected);
        QCOMPARE(window->minimumSize(), expected);
        QCOMPARE(window->maximumSize(), expected);
        window->resize(800, 400);
        QCOMPARE(window->size(), expected);
        // Placed from the top-left corner of the main window's client area.
        const QPoint client = bench.Frame().mapToGlobal(QPoint(0, bench.Frame().menuWidget()->height()));
        QCOMPARE(window->pos(), client + QPoint(units.X(5), units.Y(35)));

        // The title is that of the moment it opened.
        document->SetTitle("renamed");
        QCOMPARE(window->windowTitle(), QString("Histogram - photo"));

        // Neither Escape, Enter nor a close request removes it.
        QTest::keyClick(window, Qt::Key_Escape);
        QTest::keyClick(window, Qt::Key_Return);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QCOMPARE(HistogramOf(document), window);
        QVERIFY(document->m_bHistogramShown);
    }

    void theCommandTogglesTheWindowAndItsMark()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        CLumivexDoc* document = bench.NewDocumentWith(MakePhotoLike(30, 20, 2));
        QAction* command = frame.Action(ids::kHistogram);
        auto* button = qobject_cast<QToolButton*>(frame.ToolBar()->widgetForAction(command));
        QVERIFY(command->isEnabled() && !command->isChecked() && !button->isChecked());

        command->trigger();
        QVERIFY(document->m_bHistogramShown);
        QCOMPARE(HistogramWindows().size(), qsizetype(1));
        QVERIFY(command->isChecked() && button->isChecked());
        // The document window stays the active one while the histogram has the focus.
        QCOMPARE(frame.ActiveDocument(), document);

        command->trigger();
        QVERIFY(!document->m_bHistogramShown);
        QVERIFY(!document->m_pHistogramDlg);
        QVERIFY(HistogramWindows().isEmpty());
        QVERIFY(!command->isChecked() && !button->isChecked());

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(document->m_bHistogramShown && button->isChecked());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!document->m_bHistogramShown && !button->isChecked());
        QVERIFY(HistogramWindows().isEmpty());
        QVERIFY(bench.Messages().isEmpty());
    }

    void eachDocumentHasItsOwnWindowAndMark()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        CLumivexDoc* first = bench.NewDocumentWith(ImageWithCounts({{40, 3}}));
        first->SetTitle("first");
        CLumivexDoc* second = bench.NewDocumentWith(ImageWithCounts({{90, 2}, {91, 1}}));
        second->SetTitle("second");
        CLumivexDoc* third = bench.NewDocumentWith(MakePhotoLike(10, 10, 3));
        QAction* command = frame.Action(ids::kHistogram);

        const auto activate = [&](CLumivexDoc* document) {
            for (CChildFrame* child : frame.ChildFrames())
                if (child->Document() == document)
                    frame.MdiArea()->setActiveSubWindow(child);
            QCOMPARE(frame.ActiveDocument(), document);
        };
        activate(first);
        command->trigger();
        activate(second);
        QVERIFY(!command->isChecked());
        command->trigger();
        QVERIFY(command->isChecked());
        QCOMPARE(HistogramWindows().size(), qsizetype(2));
        QCOMPARE(HistogramOf(first)->windowTitle(), QString("Histogram - first"));
        QCOMPARE(HistogramOf(second)->windowTitle(), QString("Histogram - second"));
        activate(first);
        QVERIFY(command->isChecked());
        activate(third);
        QVERIFY(!command->isChecked());
        // Each window plots its own document's counts.
        QCOMPARE(BarRows(Shown(HistogramOf(first)), 4 + 2 * 40).size(), qsizetype(HistogramOf(first)->height() - 32));
        QVERIFY(BarRows(Shown(HistogramOf(first)), 4 + 2 * 90).isEmpty());
        QVERIFY(!BarRows(Shown(HistogramOf(second)), 4 + 2 * 91).isEmpty());

        // Closing a document closes its window, and only its window.
        activate(first);
        frame.Action(ids::kFileClose)->trigger();
        CWorkbench::FlushDeletes();
        QCOMPARE(HistogramWindows(), QList<CHistogramDlg*>{HistogramOf(second)});
        activate(second);
        QVERIFY(command->isChecked());
        frame.Action(ids::kFileClose)->trigger();
        CWorkbench::FlushDeletes();
        QVERIFY(HistogramWindows().isEmpty());
        QVERIFY(!command->isChecked());
    }

    void documentsWithoutGrayPixelsOpenNothing()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        bench.app.OnFileNew();  // no image at all
        QVERIFY(frame.Action(ids::kHistogram)->isEnabled());
        frame.Action(ids::kHistogram)->trigger();
        QVERIFY(!frame.ActiveDocument()->m_bHistogramShown);
        QVERIFY(!frame.Action(ids::kHistogram)->isChecked());
        QVERIFY(HistogramWindows().isEmpty());
        QVERIFY(bench.Messages().isEmpty());

        // A picture whose gray conversion failed cannot be counted.
        bench.NewDocumentWith(testing_support::MakeUnconvertible());
        frame.Action(ids::kHistogram)->trigger();
        QCOMPARE(bench.Messages(), QStringList{"Histogram error"});
        QVERIFY(!frame.ActiveDocument()->m_bHistogramShown);
        QVERIFY(!frame.Action(ids::kHistogram)->isChecked());
        QVERIFY(HistogramWindows().isEmpty());
    }

    void commandsLeaveTheShownCountsAlone()
    {
        // The operation works on a copy on another thread; the source's counts,
        // which its histogram window reads at every paint, are never touched.
        CWorkbench bench;
        CLumivexDoc* source = bench.NewDocumentWith(MakePhotoLike(64, 48, 4));
        source->OnHistogram();
        CHistogramDlg* window = HistogramOf(source);
        const int* counts = source->m_pImage->m_pHistogram->data();
        const std::array<int, 256> before = *source->m_pImage->m_pHistogram;
        const QImage plot = Shown(window);
        SetParamDialogRunner([](CParamDialog& dialog) {
            dialog.OkButton()->click();
            return dialog.result() == QDialog::Accepted;
        });
        for (int id : {32772, 32774, 32796, 32797, 32798}) {  // each recounts its image's histogram
            bench.Frame().MdiArea()->setActiveSubWindow(bench.Frame().ChildFrames()[0]);
            bench.Frame().Action(id)->trigger();
        }
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(6));
        QCOMPARE(source->m_pImage->m_pHistogram->data(), counts);
        QVERIFY(*source->m_pImage->m_pHistogram == before);
        QVERIFY(FirstDifference(Shown(window), plot).isEmpty());
        QCOMPARE(HistogramWindows().size(), qsizetype(1));
    }

    void theMainWindowTakesOpenHistogramsWithIt()
    {
        auto bench = std::make_unique<CWorkbench>();
        bench->NewDocumentWith(MakePhotoLike(20, 20, 5))->OnHistogram();
        bench->NewDocumentWith(MakePhotoLike(20, 20, 6))->OnHistogram();
        QCOMPARE(HistogramWindows().size(), qsizetype(2));
        bench->Frame().close();
        CWorkbench::FlushDeletes();
        QVERIFY(HistogramWindows().isEmpty());
        bench.reset();
        QVERIFY(HistogramWindows().isEmpty());
    }
};

QTEST_MAIN(HistogramTest)
#include "histogram_test.moc"
