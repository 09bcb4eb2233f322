// Documents: File > Open with its failures, Save As naming and replacing, and
// the processing pipeline run from the document window.
#include <future>
#include <thread>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "document/commands/pipeline.h"
#include "document/run_while_painting.h"
#include "tests/support/test_images.h"
#include "tests/ui/ui_test_support.h"
#include "ui/message_box.h"
#include "ui/string_table.h"

namespace {

using testing_support::MakePhotoLike;
using testing_support::Pixels;

std::unique_ptr<CDibImage> Copy(const CDibImage& image)
{
    auto copy = std::make_unique<CDibImage>();
    copy->CopyFrom(const_cast<CDibImage*>(&image));
    return copy;
}

bool IsTimeText(const QString& text)
{
    return QRegularExpression("^Time \\(s\\):\\d+\\.\\d{3}$").match(text).hasMatch();
}

// A command whose operation waits until the user-interface thread has run a
// timer, proving that the thread keeps serving events meanwhile.
std::promise<void>* g_pRelease = nullptr;
int WaitForRelease(CDibImage&, CDibImage&, const ParamValues&)
{
    g_pRelease->get_future().wait();
    return 1;
}
std::string WaitSuffix(const ParamValues&)
{
    return " - Wait";
}

}  // namespace

class DocumentTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void openingAPhotoShowsItUnderItsFileTitle()
    {
        for (const char* name : {"photos/chelsea_451x300.bmp", "photos/chelsea_451x300.jpg"}) {
            CWorkbench bench;
            bench.dialogs.openAnswers = {TestData(name)};
            bench.Frame().Action(ids::kFileOpen)->trigger();
            QCOMPARE(bench.dialogs.openFilters, (QStringList{"Images(bmp,jpeg) (*.bmp *.jpg *.jpeg)",
                                                              "Jpeg images (*.jpeg *.jpg)", "Bmp images (*.bmp)"}));
            QCOMPARE(bench.Messages(), QStringList());
            CLumivexDoc* document = bench.Frame().ActiveDocument();
            QVERIFY(document);
            QCOMPARE(document->GetTitle(), QString("chelsea_451x300"));
            QCOMPARE(bench.Frame().ActiveChildFrame()->windowTitle(), QString("chelsea_451x300"));
            QVERIFY(document->m_pImage->HasPixels());
            QCOMPARE(document->m_pImage->m_nWidth, 451);
            QCOMPARE(document->m_pImage->m_nHeight, 300);
            QCOMPARE(bench.Frame().PaneText(1), QString());
            QCOMPARE(bench.app.RecentFiles().value(0), QFileInfo(TestData(name)).absoluteFilePath());
        }
    }

    void theTitleEndsBeforeTheLastDot()
    {
        const QString path = m_dir.filePath("a.b.jpg");
        QVERIFY(QFile::copy(TestData("photos/coins_302x303.jpg"), path));
        CWorkbench bench;
        bench.dialogs.openAnswers = {path, path};
        bench.app.OnFileOpen();
        bench.app.OnFileOpen();
        // Opening the same file twice gives two documents.
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(2));
        for (CChildFrame* frame : bench.Frame().ChildFrames())
            QCOMPARE(frame->Document()->GetTitle(), QString("a.b"));
        QCOMPARE(FileTitleOf("/x/noextension"), QString("noextension"));
    }

    void cancellingOpenChangesNothing()
    {
        CWorkbench bench;
        bench.app.OnFileOpen();
        QVERIFY(bench.Frame().ChildFrames().isEmpty());
        QVERIFY(bench.Messages().isEmpty());
    }

    void brokenFilesAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        for (const char* name : {"bad/empty.bmp", "bad/empty.jpg", "bad/png_named.bmp", "bad/text_named.jpg",
                                 "bad/width_zero.bmp", "bad/height_zero.bmp", "bad/width_negative.bmp",
                                 "bad/huge_100000x100000.bmp", "bad/truncated_in_header.bmp",
                                 "bad/truncated_in_header.jpg", "bad/jpeg_soi_eoi_only.jpg"})
            QTest::newRow(name) << TestData(name) << "Image load error!";
        QTest::newRow("missing") << m_dir.filePath("missing.bmp") << "Failed to open document.";
        QTest::newRow("folder") << m_dir.path() << "Failed to open document.";
    }

    void brokenFilesAreRefused()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        CWorkbench bench;
        bench.dialogs.openAnswers = {path};
        bench.app.OnFileOpen();
        CWorkbench::FlushDeletes();
        QCOMPARE(bench.Messages(), QStringList{message});
        QVERIFY(bench.Frame().ChildFrames().isEmpty());
        QCOMPARE(bench.Frame().MenuBarId(), 128);
    }

    void saveAsNamesTheFileAndTheDocument_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain name") << "result" << "result.bmp" << "result";
        QTest::newRow("with extension") << "result.bmp" << "result.bmp" << "result";
        QTest::newRow("upper-case extension") << "photo.BMP" << "photo.BMP.bmp" << "photo";
        QTest::newRow(".bmp in a folder name") << "x.bmpdir/out" << "x.bmpdir/out" << "out";
    }

    void saveAsNamesTheFileAndTheDocument()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QFETCH(QString, title);
        QVERIFY(QDir(m_dir.path()).mkpath("x.bmpdir"));
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakePhotoLike(13, 7, 1));
        document->SetTitle("photo - GHE");
        bench.dialogs.saveAnswers = {m_dir.filePath(chosen)};
        bench.Frame().Action(ids::kFileSaveAs)->trigger();
        QCOMPARE(bench.dialogs.proposedNames, QStringList{"photo - GHE.bmp"});
        QCOMPARE(bench.dialogs.saveFilters, QStringList{"*.bmp"});
        QCOMPARE(bench.Messages(), QStringList());
        QVERIFY(QFileInfo::exists(m_dir.filePath(written)));
        QCOMPARE(document->GetTitle(), title);
        QCOMPARE(document->GetPathName(), QFileInfo(m_dir.filePath(written)).absoluteFilePath());
        QCOMPARE(bench.Frame().ActiveChildFrame()->windowTitle(), title);
        QVERIFY(bench.app.RecentFiles().isEmpty());  // Save As does not enter the list

        CDibImage reread;
        QVERIFY(reread.LoadFromFile(QFile::encodeName(m_dir.filePath(written)).toStdString()) && reread.ConvertToGray());
        QVERIFY(Pixels(reread) == Pixels(*document->m_pImage));
    }

    void theSaveKeyOpensSaveAs()
    {
        CWorkbench bench;
        bench.NewDocumentWith(MakePhotoLike(9, 5, 9))->SetTitle("keyed");
        CMainFrame& frame = bench.Frame();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTest::keyClick(frame.focusWidget() ? frame.focusWidget() : &frame, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(bench.dialogs.proposedNames, QStringList{"keyed.bmp"});
        // The open key, too, reaches its dialog from a document window.
        QTest::keyClick(frame.focusWidget() ? frame.focusWidget() : &frame, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(bench.dialogs.openFilters.size(), qsizetype(3));
    }

    void anAddedExtensionNeedsConfirmationToReplace()
    {
        const QString existing = m_dir.filePath("keep.bmp");
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
        file.close();
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakePhotoLike(9, 5, 2));
        const QString before = document->GetTitle();

        bench.dialogs.saveAnswers = {m_dir.filePath("keep")};
        bench.dialogs.replaceAnswers = {false};
        document->OnFileSaveAs();
        QCOMPARE(bench.dialogs.replaceQuestions, QStringList{existing});
        QCOMPARE(QFileInfo(existing).size(), qint64(3));
        QCOMPARE(document->GetTitle(), before);

        bench.dialogs.saveAnswers = {m_dir.filePath("keep")};
        bench.dialogs.replaceAnswers = {true};
        document->OnFileSaveAs();
        QCOMPARE(QFileInfo(existing).size(), qint64(1078 + 12 * 5));
        QCOMPARE(document->GetTitle(), QString("keep"));

        // A name the dialog itself confirmed is not asked about again.
        bench.dialogs.saveAnswers = {existing};
        document->OnFileSaveAs();
        QCOMPARE(bench.dialogs.replaceQuestions.size(), qsizetype(2));
    }

    void aFailedOrCancelledSaveChangesNothing()
    {
        CWorkbench bench;
        CLumivexDoc* document = bench.NewDocumentWith(MakePhotoLike(9, 5, 3));
        const QString before = document->GetTitle();
        document->OnFileSaveAs();  // cancelled
        QCOMPARE(document->GetTitle(), before);
        QVERIFY(bench.Messages().isEmpty());

        bench.dialogs.saveAnswers = {m_dir.filePath("no/such/folder/out.bmp")};
        document->OnFileSaveAs();
        QCOMPARE(bench.Messages().size(), qsizetype(1));  // the file error, named by the export
        QVERIFY(bench.Messages()[0].contains("out.bmp"));
        QCOMPARE(document->GetTitle(), before);
        QVERIFY(document->GetPathName().isEmpty());
    }

    void saveAsNeedsAGrayImage()
    {
        CWorkbench bench;
        bench.app.OnFileNew();
        QVERIFY(!bench.Frame().Action(ids::kFileSaveAs)->isEnabled());
        bench.Frame().ActiveDocument()->OnFileSaveAs();
        QVERIFY(bench.dialogs.proposedNames.isEmpty());

        CLumivexDoc* document = bench.NewDocumentWith(testing_support::MakeUnconvertible());
        QVERIFY(bench.Frame().Action(ids::kFileSaveAs)->isEnabled());
        document->OnFileSaveAs();
        QCOMPARE(bench.Messages(), QStringList{"Conversion to gray scale failed!"});
        QVERIFY(bench.dialogs.proposedNames.isEmpty());
    }

    void aCommandOpensItsResultAsANewDocument()
    {
        CWorkbench bench;
        CLumivexDoc* source = bench.NewDocumentWith(MakePhotoLike(40, 30, 4));
        source->SetTitle("photo");
        const std::vector<std::uint8_t> before = Pixels(*source->m_pImage);

        bench.Frame().Action(32774)->trigger();  // GHE
        CLumivexDoc* result = bench.Frame().ActiveDocument();
        QVERIFY(result && result != source);
        QCOMPARE(result->GetTitle(), QString("photo - GHE"));
        QVERIFY(IsTimeText(bench.Frame().PaneText(1)));
        QCOMPARE(bench.Frame().PaneText(1), "Time (s):" + result->m_strElapsed);
        QVERIFY(Pixels(*source->m_pImage) == before);
        auto expected = Copy(*source->m_pImage);
        QVERIFY(expected->Ghe());
        QVERIFY(Pixels(*result->m_pImage) == Pixels(*expected));
        QVERIFY(!QApplication::overrideCursor());

        // Titles accumulate: a stretch with the dialog's defaults, then GHE on its result.
        int dialogs = 0;
        SetParamDialogRunner([&](CParamDialog& dialog) {
            ++dialogs;
            dialog.OkButton()->click();
            return dialog.result() == QDialog::Accepted;
        });
        bench.Frame().MdiArea()->setActiveSubWindow(bench.Frame().ChildFrames()[0]);
        bench.Frame().Action(32772)->trigger();
        QCOMPARE(dialogs, 1);
        QCOMPARE(bench.Frame().ActiveDocument()->GetTitle(), QString("photo - Stretch(10%)"));
        bench.Frame().Action(32774)->trigger();
        QCOMPARE(bench.Frame().ActiveDocument()->GetTitle(), QString("photo - Stretch(10%) - GHE"));
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(4));
        QVERIFY(bench.Messages().isEmpty());
    }

    void everyCommandRunsWithItsDefaults()
    {
        CWorkbench bench;
        SetParamDialogRunner([](CParamDialog& dialog) {
            dialog.OkButton()->click();
            return dialog.result() == QDialog::Accepted;
        });
        CLumivexDoc* source = bench.NewDocumentWith(MakePhotoLike(64, 48, 5));
        source->SetTitle("src");
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(1));
        for (const CommandSpec& command : Commands()) {
            bench.Frame().MdiArea()->setActiveSubWindow(bench.Frame().ChildFrames()[0]);
            bench.Frame().Action(command.id)->trigger();
            CLumivexDoc* result = bench.Frame().ActiveDocument();
            QVERIFY2(result != source, command.item.data());
            QCOMPARE(result->GetTitle(), QString::fromStdString("src" + command.suffix(command.Defaults())));
            auto work = Copy(*source->m_pImage);
            auto expected = RunCommand(command, *work, "src", command.Defaults());
            QVERIFY(expected);
            QVERIFY2(Pixels(*result->m_pImage) == Pixels(*expected->image), command.item.data());
        }
        QCOMPARE(bench.Messages(), QStringList());
    }

    void aCancelledDialogOrARefusalMakesNoDocument()
    {
        CWorkbench bench;
        CLumivexDoc* source = bench.NewDocumentWith(MakePhotoLike(20, 16, 6));
        source->m_strElapsed = "0.047";
        source->ShowElapsedTime();
        SetParamDialogRunner([](CParamDialog&) { return false; });
        bench.Frame().Action(32775)->trigger();  // AHE, cancelled
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(1));
        QCOMPARE(bench.Frame().PaneText(1), QString("Time (s):0.047"));

        SetParamDialogRunner([](CParamDialog& dialog) {
            qobject_cast<QLineEdit*>(dialog.Control(1002))->setText("99");
            dialog.OkButton()->click();
            return dialog.result() == QDialog::Accepted;
        });
        bench.Frame().Action(32775)->trigger();  // AHE with a window larger than the image
        QCOMPARE(bench.Messages(), QStringList{"Size of window is not adequate"});
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(1));
        QCOMPARE(bench.Frame().PaneText(1), QString("Time (s):0.047"));
        QVERIFY(!QApplication::overrideCursor());
    }

    void documentsWithoutGrayImagesAreNotProcessed()
    {
        CWorkbench bench;
        bench.app.OnFileNew();
        QVERIFY(!bench.Frame().Action(32774)->isEnabled());
        bench.Frame().ActiveDocument()->OnProcessingCommand(*FindCommand(32774));
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(1));

        CLumivexDoc* unconvertible = bench.NewDocumentWith(testing_support::MakeUnconvertible());
        unconvertible->OnProcessingCommand(*FindCommand(32774));
        QCOMPARE(bench.Messages(), QStringList{"Conversion to gray scale failed!"});
        QCOMPARE(bench.Frame().ChildFrames().size(), qsizetype(2));
        QVERIFY(!QApplication::overrideCursor());
    }

    void theWindowKeepsServingEventsUnderTheWaitCursor()
    {
        CWorkbench bench;
        CLumivexDoc* source = bench.NewDocumentWith(MakePhotoLike(10, 10, 7));
        source->SetTitle("s");
        const CommandSpec wait{1, "wait", "&Test", "&Wait", "Wait", false, nullptr, {}, WaitSuffix, WaitForRelease};
        std::promise<void> release;
        g_pRelease = &release;
        Qt::CursorShape shape = Qt::ArrowCursor;
        bool served = false;
        QTimer::singleShot(0, [&] {
            served = true;
            if (QApplication::overrideCursor())
                shape = QApplication::overrideCursor()->shape();
            release.set_value();
        });
        source->OnProcessingCommand(wait);
        g_pRelease = nullptr;
        QVERIFY(served);
        QCOMPARE(shape, Qt::WaitCursor);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(bench.Frame().ActiveDocument()->GetTitle(), QString("s - Wait"));
    }

    void inputIsDroppedWhileAnOperationRuns()
    {
        QLineEdit edit;
        QPushButton button("b");
        edit.show();
        button.show();
        int clicks = 0;
        connect(&button, &QPushButton::clicked, [&] { ++clicks; });
        {
            CInputBlocker blocker;
            QTest::keyClicks(&edit, "abc");
            QTest::mouseClick(&button, Qt::LeftButton);
            QVERIFY(edit.text().isEmpty());
            QCOMPARE(clicks, 0);
        }
        QTest::keyClicks(&edit, "abc");
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(edit.text(), QString("abc"));
        QCOMPARE(clicks, 1);
    }

    void aWorkersMessageIsShownByTheInterfaceThread()
    {
        InstallMessageBoxHandler();
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool answered = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || answered)
                return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            answered = true;
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(5);
        CInputBlocker blocker;  // as during a command: the box itself still takes input
        const bool completed = RunWhileRepaintingImpl([] { ShowMessage("Size of mask is not adequate"); });
        SetMessageHandler({});
        QVERIFY(completed && answered);
        QCOMPARE(title, QString("Lumivex"));
        QCOMPARE(text, QString("Size of mask is not adequate"));
        QCOMPARE(icon, QMessageBox::Warning);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(DocumentTest)
#include "document_test.moc"
