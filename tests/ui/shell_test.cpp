// The application shell: menu bars, keys, toolbar, status bar, About box,
// window arrangement and the recent-file list.
#include <QHelpEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <QScreen>

#include "core/screen_metrics.h"
#include "tests/ui/ui_test_support.h"
#include "ui/about_dlg.h"
#include "ui/string_table.h"

namespace {

// "Title: item | item | --- | item" for every menu of the bar.
QStringList MenuShape(QMenuBar* bar)
{
    QStringList shape;
    for (QAction* top : bar->actions()) {
        QStringList items;
        for (QAction* item : top->menu()->actions())
            items.append(item->isSeparator() ? QString("---") : item->text());
        shape.append(top->text() + ": " + items.join(" | "));
    }
    return shape;
}

QToolButton* Button(CWorkbench& bench, int id)
{
    return qobject_cast<QToolButton*>(bench.Frame().ToolBar()->widgetForAction(bench.Frame().Action(id)));
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

private slots:
    void startsEmptyWithTheFirstMenuBar()
    {
        CWorkbench bench;
        QVERIFY(bench.Started());
        CMainFrame& frame = bench.Frame();
        QVERIFY(frame.isVisible());
        QVERIFY(frame.ChildFrames().isEmpty());
        QCOMPARE(frame.MenuBarId(), 128);
        QCOMPARE(MenuShape(frame.menuBar()), (QStringList{
                                                 "&File: &Open...\tCtrl+O | --- | E&xit",
                                                 "&View: &Toolbar | &Status Bar",
                                                 "&Help: &About Lumivex...",
                                             }));
        QCOMPARE(frame.windowTitle(), QString("Lumivex"));
        QVERIFY(frame.Action(ids::kFileOpen)->isEnabled());
        QVERIFY(!frame.Action(ids::kFileSaveAs)->isEnabled());
        QVERIFY(!frame.Action(ids::kHistogram)->isEnabled());
        QVERIFY(!frame.Action(ids::kFitToWindow)->isEnabled());
        QVERIFY(!Button(bench, ids::kFileSaveAs)->isEnabled());
        QVERIFY(!Button(bench, ids::kFitToWindow)->isEnabled());
        QCOMPARE(frame.PaneText(0), QString("Ready"));
        QCOMPARE(frame.PaneText(1), QString());
    }

    void startUpTakesTheScreenFromThePrimaryScreen()
    {
        ResetScreenMetrics();
        CWorkbench bench;
        const QScreen* screen = QGuiApplication::primaryScreen();
        const int widthPx = qRound(screen->geometry().width() * screen->devicePixelRatio());
        const int widthMm = qRound(screen->physicalSize().width());
        const ScreenMetrics metrics = CurrentScreenMetrics();
        QCOMPARE(metrics.widthPx, widthPx);
        QCOMPARE(metrics.widthMm, widthMm > 0 ? widthMm : ScreenMetricsAtDpi(widthPx).widthMm);
        ResetScreenMetrics();
    }

    void aDocumentWindowBringsTheSecondMenuBar()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 1));
        QCOMPARE(frame.MenuBarId(), 129);
        QCOMPARE(MenuShape(frame.menuBar()),
                 (QStringList{
                     "&File: &Open...\tCtrl+O | &Close | Save &As...\tCtrl+S | --- | E&xit",
                     "&View: &Toolbar | &Status Bar | --- | &Histogram | --- | &Fit image to window",
                     "&Global: &Contrast stretching | &Gamma correction | G&HE | --- | &TGHE",
                     "&Local: &AHE | &CLHE | --- | &TAHE",
                     "Fil&tering: &Unsharp masking | &Three channel filtering | --- | &JGACE | --- | &Lowpass filtering",
                     "&Combination: &Gray+TGHE | &TCF+TGHE | Gray &or TCF + TGHE",
                     "&Window: &Cascade | &Tile",
                     "&Help: &About Lumivex...",
                 }));
        QVERIFY(frame.Action(ids::kFileSaveAs)->isEnabled());
        QVERIFY(frame.Action(ids::kFitToWindow)->isEnabled());
        for (const CommandSpec& command : Commands()) {
            QVERIFY(frame.Action(command.id)->isEnabled());
            QCOMPARE(frame.Action(command.id)->statusTip(), QString::fromUtf8(command.prompt.data(), command.prompt.size()));
        }
        QVERIFY(frame.Action(ids::kHistogram)->isEnabled());
        QVERIFY(!frame.Action(ids::kHistogram)->isChecked());

        frame.Action(ids::kFileClose)->trigger();
        CWorkbench::FlushDeletes();
        QVERIFY(frame.ChildFrames().isEmpty());
        QCOMPARE(frame.MenuBarId(), 128);
        QCOMPARE(frame.windowTitle(), QString("Lumivex"));
        QVERIFY(bench.Messages().isEmpty());  // closing never asks to save
    }

    void theNewKeyMakesNumberedEmptyDocuments()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        QCOMPARE(frame.Action(ids::kFileNew)->shortcut(), QKeySequence("Ctrl+N"));
        QCOMPARE(frame.Action(ids::kFileOpen)->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(frame.Action(ids::kFileSaveAs)->shortcut(), QKeySequence("Ctrl+S"));
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTest::keyClick(&frame, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(frame.focusWidget() ? frame.focusWidget() : &frame, Qt::Key_N, Qt::ControlModifier);
        const QList<CChildFrame*> frames = frame.ChildFrames();
        QCOMPARE(frames.size(), qsizetype(2));
        QCOMPARE(frames[0]->Document()->GetTitle(), QString("Lumiv1"));
        QCOMPARE(frames[1]->Document()->GetTitle(), QString("Lumiv2"));
        QCOMPARE(frames[1]->windowTitle(), QString("Lumiv2"));
        QCOMPARE(frame.windowTitle(), QString("Lumivex - Lumiv2"));
        QVERIFY(!frames[1]->Document()->HasImage());
        // Nothing to save or process in an empty document.
        QVERIFY(!frame.Action(ids::kFileSaveAs)->isEnabled());
        QVERIFY(!frame.Action(32774)->isEnabled());
        QCOMPARE(frame.WindowListTexts(), (QStringList{"&1 Lumiv1", "&2 Lumiv2"}));

        // Keys without a handler do nothing.
        const int before = static_cast<int>(frame.ChildFrames().size());
        for (const QKeySequence& key : {QKeySequence("Ctrl+C"), QKeySequence("Ctrl+X"), QKeySequence("Ctrl+V"),
                                        QKeySequence("Ctrl+Z"), QKeySequence("F6"), QKeySequence("Shift+F6")})
            QTest::keySequence(frame.focusWidget() ? frame.focusWidget() : &frame, key);
        QCOMPARE(static_cast<int>(frame.ChildFrames().size()), before);
        QVERIFY(bench.Messages().isEmpty());
    }

    void theToolbarHasFourDrawnButtons()
    {
        CWorkbench bench;
        QToolBar* bar = bench.Frame().ToolBar();
        QCOMPARE(bar->iconSize(), QSize(16, 15));
        QList<int> ids;
        for (QAction* action : bar->actions()) {
            ids.append(action->data().toInt());
            QVERIFY(!action->icon().isNull());
            QCOMPARE(action->icon().pixmap(16, 15).size(), QSize(16, 15));
        }
        QCOMPARE(ids, (QList<int>{ids::kFileOpen, ids::kFileSaveAs, ids::kHistogram, ids::kFitToWindow}));

        bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 2));
        // The tip shown after asking a button for its tooltip; "none" when it showed nothing.
        const auto tipOf = [&](int id) {
            QToolButton* button = Button(bench, id);
            QToolTip::showText(button->mapToGlobal(QPoint(2, 2)), "none");
            QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
            QCoreApplication::sendEvent(button, &help);
            return QToolTip::text();
        };
        QCOMPARE(tipOf(ids::kFileOpen), QString("Open"));
        QCOMPARE(tipOf(ids::kFileSaveAs), QString("Save As"));
        QCOMPARE(tipOf(ids::kHistogram), QString("none"));
        QCOMPARE(tipOf(ids::kFitToWindow), QString("none"));
        QToolTip::hideText();
    }

    void promptsGoToPaneZero()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 3));
        const auto hover = [&](int id) {
            QToolButton* button = Button(bench, id);
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), button->mapToGlobal(QPointF(2, 2)));
            QCoreApplication::sendEvent(button, &enter);
            const QString shown = frame.PaneText(0);
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(button, &leave);
            return shown;
        };
        QCOMPARE(hover(ids::kFileOpen), QString("Open an existing image"));
        QCOMPARE(frame.PaneText(0), QString("Ready"));
        QCOMPARE(hover(ids::kFitToWindow), QString("Fit image to window"));
        QCOMPARE(hover(ids::kFileSaveAs), QString("Save the active image with a new name"));

        // A highlighted menu item shows its prompt the same way.
        frame.Action(32772)->showStatusText(frame.menuBar());
        QCOMPARE(frame.PaneText(0), QString("Contrast stretching"));
        QStatusTipEvent none{QString()};
        QCoreApplication::sendEvent(&frame, &none);
        QCOMPARE(frame.PaneText(0), QString("Ready"));
        QVERIFY(frame.statusBar()->currentMessage().isEmpty());
    }

    void theStatusBarHasFivePanes()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        for (int pane = 0; pane < 5; ++pane)
            QVERIFY(frame.Pane(pane) && frame.Pane(pane)->isVisible());
        const QFontMetrics metrics(frame.statusBar()->font());
        QVERIFY(frame.Pane(1)->width() >= metrics.horizontalAdvance(QString(51, ' ')));
        QVERIFY(frame.Pane(2)->width() >= metrics.horizontalAdvance("CAP"));
        QVERIFY(frame.Pane(4)->width() >= metrics.horizontalAdvance("SCRL"));
        QVERIFY(frame.Pane(2)->width() < frame.Pane(1)->width() / 4);
        // Pane 0 takes what is left, to the left of the others.
        QVERIFY(frame.Pane(0)->x() < frame.Pane(1)->x());
        QVERIFY(frame.Pane(1)->x() < frame.Pane(2)->x() && frame.Pane(2)->x() < frame.Pane(3)->x() &&
                frame.Pane(3)->x() < frame.Pane(4)->x());
        // The headless platform cannot tell the lock keys: the panes stay blank.
        QCOMPARE(frame.PaneText(2) + frame.PaneText(3) + frame.PaneText(4), QString());

        // Pane 1 is blank without an active document window.
        CLumivexDoc* document = bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 4));
        document->m_strElapsed = "1.005";
        document->ShowElapsedTime();
        QCOMPARE(frame.PaneText(1), QString("Time (s):1.005"));
        frame.Action(ids::kFileClose)->trigger();
        CWorkbench::FlushDeletes();
        QCOMPARE(frame.PaneText(1), QString());
    }

    void toolbarAndStatusBarCanBeHidden()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        for (int id : {ids::kViewToolbar, ids::kViewStatusBar}) {
            QWidget* bar = id == ids::kViewToolbar ? static_cast<QWidget*>(frame.ToolBar()) : frame.statusBar();
            QAction* toggle = frame.Action(id);
            QVERIFY(toggle->isChecked() && bar->isVisible());
            toggle->trigger();
            QVERIFY(!toggle->isChecked() && !bar->isVisible());
            toggle->trigger();
            QVERIFY(toggle->isChecked() && bar->isVisible());
        }
    }

    void theAboutBoxClosesWithOkEnterOrEscape()
    {
        CWorkbench bench;
        for (int key : {0, int(Qt::Key_Return), int(Qt::Key_Escape)}) {
            QString caption;
            QStringList texts;
            bool closed = false;
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                caption = box->windowTitle();
                for (QLabel* label : box->findChildren<QLabel*>())
                    if (!label->text().isEmpty())
                        texts.append(label->text());
                if (key == 0)
                    box->OkButton()->click();
                else
                    QTest::keyClick(box, Qt::Key(key));
                closed = !box->isVisible();
            });
            bench.Frame().Action(ids::kAppAbout)->trigger();
            QVERIFY(closed);
            QCOMPARE(caption, QString("About Lumivex"));
            QVERIFY(texts.contains("Lumivex") && texts.contains("2003"));
            QCOMPARE(texts.size(), qsizetype(3));
        }
        QVERIFY(bench.Frame().ChildFrames().isEmpty());
    }

    void tileStacksWindowsAndCascadeOverlapsThem()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        for (int i = 0; i < 3; ++i)
            bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 10 + i));
        frame.Action(ids::kWindowTile)->trigger();
        const QSize area = frame.MdiArea()->viewport()->size();
        QList<QRect> tiles;
        for (CChildFrame* child : frame.ChildFrames())
            tiles.append(child->geometry());
        std::sort(tiles.begin(), tiles.end(), [](const QRect& a, const QRect& b) { return a.y() < b.y(); });
        for (qsizetype i = 0; i < tiles.size(); ++i) {
            QCOMPARE(tiles[i].x(), 0);
            QCOMPARE(tiles[i].width(), area.width());
            QCOMPARE(tiles[i].y(), int(area.height() * i / 3));
        }
        for (int i = 0; i < 2; ++i)
            bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 20 + i));
        frame.Action(ids::kWindowTile)->trigger();
        QSet<int> columns;
        for (CChildFrame* child : frame.ChildFrames())
            columns.insert(child->x());
        QCOMPARE(columns.size(), qsizetype(2));  // five windows: two columns

        frame.Action(ids::kWindowCascade)->trigger();
        QSet<int> lefts;
        for (CChildFrame* child : frame.ChildFrames())
            lefts.insert(child->x());
        QCOMPARE(lefts.size(), qsizetype(5));
    }

    void theWindowMenuListsTheDocuments()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 1))->SetTitle("a & b");
        bench.NewDocumentWith(testing_support::MakeRandom(8, 8, 2));
        QCOMPARE(frame.WindowListTexts(), (QStringList{"&1 a && b", "&2 Lumiv2"}));
        QCOMPARE(frame.windowTitle(), QString("Lumivex - Lumiv2"));
        frame.MdiArea()->setActiveSubWindow(frame.ChildFrames()[0]);
        QCOMPARE(frame.windowTitle(), QString("Lumivex - a & b"));
        // A maximized document window shows its title in brackets, as it always has.
        frame.ChildFrames()[0]->showMaximized();
        QCoreApplication::processEvents();
        QCOMPARE(frame.windowTitle(), QString("Lumivex - [a & b]"));
        frame.ChildFrames()[0]->showNormal();
        QCoreApplication::processEvents();
        QCOMPARE(frame.windowTitle(), QString("Lumivex - a & b"));
    }

    void theRecentFileListKeepsFiveEntries()
    {
        QStringList saved;
        {
            CWorkbench bench;
            for (int i = 1; i <= 7; ++i)
                bench.app.AddToRecentFileList(QString("/images/photo%1.bmp").arg(i));
            bench.app.AddToRecentFileList("/images/photo4.bmp");  // to the front, not twice
            QCOMPARE(bench.app.RecentFiles(), (QStringList{"/images/photo4.bmp", "/images/photo7.bmp", "/images/photo6.bmp",
                                                          "/images/photo5.bmp", "/images/photo3.bmp"}));
            bench.app.ExitInstance();
            QSettings settings("Local AppWizard-Generated Applications", "Lumivex");
            settings.beginGroup("Recent File List");
            for (int i = 1; i <= 5; ++i)
                saved.append(settings.value(QString("File%1").arg(i)).toString());
            QVERIFY(!settings.contains("File6"));
            // A second start reads them back.
            bench.app.LoadStdProfileSettings();
            QCOMPARE(bench.app.RecentFiles(), saved);
        }
        QCOMPARE(saved.first(), QString("/images/photo4.bmp"));
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
