// The workbench walked as a user walks it: through the menu bar's items, the
// keys and the toolbar's buttons of the real main window, with the file
// dialogs answered from a script and the parameter dialogs filled in by typing.
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include "tests/ui/ui_test_support.h"
#include "ui/histogram_dlg.h"
#include "ui/string_table.h"

namespace {

// The titles of the menu bar now shown.
QStringList MenuTitles(CMainFrame& frame)
{
    QStringList titles;
    for (QAction* top : frame.menuBar()->actions())
        titles.append(top->text());
    return titles;
}

// The item of the menu bar as the user sees it when opening menu: null when
// the menu or the item is not there. Opening a menu brings its items up to date.
QAction* MenuItem(CMainFrame& frame, const QString& menu, const QString& item)
{
    for (QAction* top : frame.menuBar()->actions()) {
        if (top->text() != menu || !top->menu())
            continue;
        emit top->menu()->aboutToShow();
        for (QAction* action : top->menu()->actions())
            if (action->text() == item)
                return action;
    }
    return nullptr;
}

// Chooses menu > item; false when it is missing or disabled.
bool Choose(CMainFrame& frame, const QString& menu, const QString& item)
{
    QAction* action = MenuItem(frame, menu, item);
    if (!action || !action->isEnabled())
        return false;
    action->trigger();
    return true;
}

QToolButton* Button(CMainFrame& frame, int id)
{
    return qobject_cast<QToolButton*>(frame.ToolBar()->widgetForAction(frame.Action(id)));
}

// Keys go where the user's keyboard goes: to the focus of the active window.
void Press(QKeySequence key)
{
    QWidget* target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeWindow();
    QVERIFY(target);
    QTest::keySequence(target, key);
}

QList<CHistogramDlg*> HistogramWindows()
{
    QList<CHistogramDlg*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<CHistogramDlg*>(widget))
            found.append(dialog);
    return found;
}

CHistogramDlg* HistogramTitled(const QString& title)
{
    for (CHistogramDlg* dialog : HistogramWindows())
        if (dialog->windowTitle() == title)
            return dialog;
    return nullptr;
}

QString ActiveTitle(CMainFrame& frame)
{
    CChildFrame* child = frame.ActiveChildFrame();
    return child ? child->windowTitle() : QString();
}

bool IsTimeText(const QString& text)
{
    return QRegularExpression("^Time \\(s\\):\\d+\\.\\d{3}$").match(text).hasMatch();
}

// One round with the next parameter dialog: fields typed over, then a key.
struct DialogRound {
    QList<QPair<int, QString>> fields;
    Qt::Key key;
};

// What happened to the dialog: its caption, and whether it was still open
// after each round.
struct DialogTrace {
    QString caption;
    QList<bool> openAfter;
};

// Answers the next parameter dialog that opens, round by round, by typing.
void AnswerNextDialog(const QList<DialogRound>& rounds, DialogTrace* trace)
{
    QTimer::singleShot(0, [rounds, trace] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        trace->caption = dialog->windowTitle();
        for (const DialogRound& round : rounds) {
            for (const auto& [id, text] : round.fields) {
                auto* edit = qobject_cast<QLineEdit*>(qobject_cast<CParamDialog*>(dialog)->Control(id));
                if (!edit)
                    continue;
                edit->setFocus();
                QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(edit, text);
            }
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, round.key);
            trace->openAfter.append(dialog->isVisible());
            if (!dialog->isVisible())
                return;
        }
        qobject_cast<QDialog*>(dialog)->reject();  // never leave the test waiting
    });
}

// The rows of column x drawn in the bar colour.
QList<int> BarRows(const QImage& plot, int x)
{
    QList<int> rows;
    for (int y = 0; y < plot.height(); ++y)
        if (plot.pixel(x, y) == qRgb(20, 20, 20))
            rows.append(y);
    return rows;
}

}  // namespace

class AcceptanceTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
    }

    void withoutADocumentOnlyTheShellWorks()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));

        QCOMPARE(MenuTitles(frame), (QStringList{"&File", "&View", "&Help"}));
        QVERIFY(MenuItem(frame, "&File", "&Open...\tCtrl+O"));
        QVERIFY(!MenuItem(frame, "&File", "Save &As...\tCtrl+S"));
        QVERIFY(!MenuItem(frame, "&View", "&Histogram"));
        for (int id : {ids::kFileSaveAs, ids::kHistogram, ids::kFitToWindow})
            QVERIFY(!Button(frame, id)->isEnabled());
        QVERIFY(Button(frame, ids::kFileOpen)->isEnabled());

        // Keys without a command here do nothing; Save As has nothing to save.
        for (const char* key : {"Ctrl+S", "Ctrl+C", "Ctrl+X", "Ctrl+V", "Ctrl+Z", "Ctrl+Insert", "Shift+Delete",
                                "Shift+Insert", "Alt+Backspace", "F6", "Shift+F6"})
            Press(QKeySequence(key));
        QVERIFY(bench.dialogs.proposedNames.isEmpty());
        QVERIFY(frame.ChildFrames().isEmpty());
        QCOMPARE(frame.MenuBarId(), 128);

        // The bars come and go through the View menu, with their check marks.
        for (const char* item : {"&Toolbar", "&Status Bar"}) {
            QWidget* bar = QString(item) == "&Toolbar" ? static_cast<QWidget*>(frame.ToolBar()) : frame.statusBar();
            QVERIFY(MenuItem(frame, "&View", item)->isChecked());
            QVERIFY(Choose(frame, "&View", item));
            QVERIFY(!bar->isVisible());
            QVERIFY(!MenuItem(frame, "&View", item)->isChecked());
            QVERIFY(Choose(frame, "&View", item));
            QVERIFY(bar->isVisible());
            QVERIFY(MenuItem(frame, "&View", item)->isChecked());
        }

        // Cancelling Open changes nothing; the New key makes an empty window
        // where Histogram is offered but does nothing.
        Press(QKeySequence("Ctrl+O"));
        QCOMPARE(bench.dialogs.openFilters.size(), qsizetype(3));
        QVERIFY(frame.ChildFrames().isEmpty());
        Press(QKeySequence("Ctrl+N"));
        QCOMPARE(ActiveTitle(frame), QString("Lumiv1"));
        QVERIFY(Choose(frame, "&View", "&Histogram"));
        QVERIFY(!MenuItem(frame, "&View", "&Histogram")->isChecked());
        QVERIFY(HistogramWindows().isEmpty());
        QVERIFY(!MenuItem(frame, "&File", "Save &As...\tCtrl+S")->isEnabled());
        QVERIFY(!MenuItem(frame, "&Global", "G&HE")->isEnabled());
        QVERIFY(Choose(frame, "&File", "&Close"));
        CWorkbench::FlushDeletes();
        QCOMPARE(frame.MenuBarId(), 128);
        QVERIFY(bench.Messages().isEmpty());
    }

    void brokenFilesAreRefusedAndLeaveNoWindow()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        const QStringList files{TestData("bad/empty.bmp"), TestData("bad/png_named.bmp"),
                                TestData("bad/huge_100000x100000.bmp"), TestData("bad/truncated_in_header.jpg"),
                                m_dir.filePath("missing.jpg")};
        bench.dialogs.openAnswers = files;
        for (qsizetype i = 0; i < files.size(); ++i) {
            QVERIFY(Choose(frame, "&File", "&Open...\tCtrl+O"));
            CWorkbench::FlushDeletes();
            QVERIFY(frame.ChildFrames().isEmpty());
            QCOMPARE(frame.MenuBarId(), 128);
        }
        QCOMPARE(bench.Messages(), (QStringList{"Image load error!", "Image load error!", "Image load error!",
                                                "Image load error!", "Failed to open document."}));
    }

    void aSessionWithTwoPhotos()
    {
        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));

        // Open a photo with the key.
        bench.dialogs.openAnswers = {TestData("photos/chelsea_451x300.bmp"), TestData("photos/coins_302x303.jpg")};
        Press(QKeySequence("Ctrl+O"));
        QCOMPARE(ActiveTitle(frame), QString("chelsea_451x300"));
        QCOMPARE(frame.windowTitle(), QString("Lumivex - chelsea_451x300"));
        QCOMPARE(MenuTitles(frame), (QStringList{"&File", "&View", "&Global", "&Local", "Fil&tering", "&Combination",
                                                 "&Window", "&Help"}));
        QCOMPARE(frame.PaneText(1), QString());  // an opened file took no time

        // Its histogram from the View menu.
        QVERIFY(Choose(frame, "&View", "&Histogram"));
        QVERIFY(MenuItem(frame, "&View", "&Histogram")->isChecked());
        QVERIFY(Button(frame, ids::kHistogram)->isChecked());
        CHistogramDlg* photoHistogram = HistogramTitled("Histogram - chelsea_451x300");
        QVERIFY(photoHistogram && photoHistogram->isVisible());

        // GHE from the Global menu: a new document with its title and time.
        QVERIFY(Choose(frame, "&Global", "G&HE"));
        QCOMPARE(ActiveTitle(frame), QString("chelsea_451x300 - GHE"));
        QVERIFY(IsTimeText(frame.PaneText(1)));
        const QString gheTime = frame.PaneText(1);
        QVERIFY(!MenuItem(frame, "&View", "&Histogram")->isChecked());
        QVERIFY(!Button(frame, ids::kHistogram)->isChecked());

        // Its histogram from the toolbar button.
        QTest::mouseClick(Button(frame, ids::kHistogram), Qt::LeftButton);
        QVERIFY(Button(frame, ids::kHistogram)->isChecked());
        QCOMPARE(HistogramWindows().size(), qsizetype(2));
        QVERIFY(HistogramTitled("Histogram - chelsea_451x300 - GHE"));

        // The Open key works from the histogram window, which has the focus now.
        QVERIFY(QTest::qWaitForWindowActive(HistogramTitled("Histogram - chelsea_451x300 - GHE")));
        Press(QKeySequence("Ctrl+O"));
        QCOMPARE(ActiveTitle(frame), QString("coins_302x303"));
        QVERIFY(!MenuItem(frame, "&View", "&Histogram")->isChecked());

        // Switching through the Window menu: each document shows its own time and histogram state.
        frame.activateWindow();
        QCOMPARE(MenuItem(frame, "&Window", "&1 chelsea_451x300") != nullptr, true);
        QVERIFY(Choose(frame, "&Window", "&2 chelsea_451x300 - GHE"));
        QCOMPARE(ActiveTitle(frame), QString("chelsea_451x300 - GHE"));
        QCOMPARE(frame.PaneText(1), gheTime);
        QVERIFY(MenuItem(frame, "&View", "&Histogram")->isChecked());
        QVERIFY(Choose(frame, "&Window", "&1 chelsea_451x300"));
        QCOMPARE(frame.PaneText(1), QString());
        QVERIFY(MenuItem(frame, "&View", "&Histogram")->isChecked());
        QVERIFY(Choose(frame, "&Window", "&3 coins_302x303"));
        QVERIFY(!Button(frame, ids::kHistogram)->isChecked());

        // A command with bad parameters, corrected: the dialog stays open on
        // the bad value with the field's message, then runs with the good one.
        QVERIFY(Choose(frame, "&Window", "&1 chelsea_451x300"));
        DialogTrace trace;
        AnswerNextDialog({{{{1002, "55"}}, Qt::Key_Return}, {{{1002, "5"}}, Qt::Key_Return}}, &trace);
        QVERIFY(Choose(frame, "&Global", "&Contrast stretching"));
        QCOMPARE(trace.openAfter, (QList<bool>{true, false}));
        QCOMPARE(bench.Messages(), QStringList{"Please enter an integer between 0 and 40."});
        QCOMPARE(ActiveTitle(frame), QString("chelsea_451x300 - Stretch(5%)"));
        QVERIFY(IsTimeText(frame.PaneText(1)));

        // An operation that refuses its parameters makes no document; a cancelled dialog neither.
        QVERIFY(Choose(frame, "&Window", "&3 coins_302x303"));
        const qsizetype documents = frame.ChildFrames().size();
        AnswerNextDialog({{{{1002, "401"}}, Qt::Key_Return}}, &trace);
        QVERIFY(Choose(frame, "&Local", "&AHE"));
        QCOMPARE(trace.caption, QString("AHE"));
        QCOMPARE(bench.Messages().last(), QString("Size of window is not adequate"));
        AnswerNextDialog({{{{1002, "3"}}, Qt::Key_Escape}}, &trace);
        QVERIFY(Choose(frame, "Fil&tering", "&Lowpass filtering"));
        QCOMPARE(frame.ChildFrames().size(), documents);
        QCOMPARE(ActiveTitle(frame), QString("coins_302x303"));

        // Fit from the toolbar and back from the menu.
        QTest::mouseClick(Button(frame, ids::kFitToWindow), Qt::LeftButton);
        QVERIFY(frame.ActiveView()->m_bFitToWindow);
        QVERIFY(MenuItem(frame, "&View", "&Fit image to window")->isChecked());
        QVERIFY(Choose(frame, "&View", "&Fit image to window"));
        QVERIFY(!frame.ActiveView()->m_bFitToWindow);
        QVERIFY(!Button(frame, ids::kFitToWindow)->isChecked());

        // Save As with the key: the file is written, the document renamed,
        // and its histogram window keeps the title it opened with.
        QVERIFY(Choose(frame, "&Window", "&2 chelsea_451x300 - GHE"));
        const QString saved = m_dir.filePath("equalized");
        bench.dialogs.saveAnswers = {saved};
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        Press(QKeySequence("Ctrl+S"));
        QCOMPARE(bench.dialogs.proposedNames.last(), QString("chelsea_451x300 - GHE.bmp"));
        QVERIFY(QFileInfo::exists(saved + ".bmp"));
        QCOMPARE(ActiveTitle(frame), QString("equalized"));
        QVERIFY(HistogramTitled("Histogram - chelsea_451x300 - GHE"));

        // Closing a document with its histogram open closes that window only.
        QVERIFY(Choose(frame, "&Window", "&1 chelsea_451x300"));
        QVERIFY(Choose(frame, "&File", "&Close"));
        CWorkbench::FlushDeletes();
        QCOMPARE(HistogramWindows().size(), qsizetype(1));
        QVERIFY(!HistogramTitled("Histogram - chelsea_451x300"));
        QVERIFY(HistogramTitled("Histogram - chelsea_451x300 - GHE"));

        // Closing the rest returns to the first menu bar with no histogram left.
        while (!frame.ChildFrames().isEmpty()) {
            QVERIFY(Choose(frame, "&File", "&Close"));
            CWorkbench::FlushDeletes();
        }
        QVERIFY(HistogramWindows().isEmpty());
        QCOMPARE(frame.MenuBarId(), 128);
        QCOMPARE(frame.PaneText(1), QString());
        QVERIFY(!Button(frame, ids::kHistogram)->isEnabled());
        QCOMPARE(bench.Messages().size(), qsizetype(2));
    }

    void aSingleLevelPictureDrawsOneFullBar()
    {
        // A flat gray picture saved as a file and opened like any other.
        CDibImage flat;
        QVERIFY(flat.CreateGray(33, 17));
        std::fill(flat.m_pBits.get(), flat.m_pBits.get() + flat.PixelCount(), std::uint8_t{173});
        const QString path = m_dir.filePath("flat.bmp");
        QVERIFY(flat.SaveAsBmp(QFile::encodeName(path).toStdString()));

        CWorkbench bench;
        CMainFrame& frame = bench.Frame();
        bench.dialogs.openAnswers = {path};
        QVERIFY(Choose(frame, "&File", "&Open...\tCtrl+O"));
        QTest::mouseClick(Button(frame, ids::kHistogram), Qt::LeftButton);
        CHistogramDlg* window = HistogramTitled("Histogram - flat");
        QVERIFY(window);
        const QImage plot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int base = plot.height() - 10;
        for (int x = 0; x < plot.width(); ++x) {
            const QList<int> rows = BarRows(plot, x);
            if (x != 4 + 2 * 173) {
                QVERIFY2(rows.isEmpty(), qPrintable(QString("column %1").arg(x)));
                continue;
            }
            // 561 pixels: the tip lands on row 22 or, as the scale rounds, 21.
            QVERIFY2(rows.first() == 23 || rows.first() == 22, qPrintable(QString::number(rows.first())));
            QCOMPARE(rows.last(), base);
            QCOMPARE(rows.size(), qsizetype(base - rows.first() + 1));
        }
        QCOMPARE(plot.pixel(2, 10), qRgb(0, 0, 200));
        QCOMPARE(plot.pixel(514, plot.height() - 8), qRgb(0, 0, 200));

        // The toolbar button takes it away again.
        QTest::mouseClick(Button(frame, ids::kHistogram), Qt::LeftButton);
        QVERIFY(HistogramWindows().isEmpty());
        QVERIFY(bench.Messages().isEmpty());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(AcceptanceTest)
#include "acceptance_test.moc"
