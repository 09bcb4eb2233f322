#include "document/lumivex_doc.h"

#include <new>

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include "core/messages.h"
#include "document/commands/pipeline.h"
#include "document/doc_host.h"
#include "document/file_dialogs.h"
#include "document/param_dialog.h"
#include "document/run_while_painting.h"

namespace {

std::string NativePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QWidget* DialogOwner()
{
    CDocHost* host = TheDocHost();
    return host ? host->MainWindow() : nullptr;
}

// The wait cursor from construction until End() or destruction.
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { End(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    void End()
    {
        if (m_bActive)
            QApplication::restoreOverrideCursor();
        m_bActive = false;
    }

private:
    bool m_bActive = true;
};

}  // namespace

QString FileTitleOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

CLumivexDoc::CLumivexDoc() = default;

CLumivexDoc::~CLumivexDoc()
{
    // The histogram window reads the image: it goes first.
    m_pHistogramDlg.reset();
}

void CLumivexDoc::SetTitle(const QString& title)
{
    m_strTitle = title;
    emit TitleChanged(m_strTitle);
}

void CLumivexDoc::SetPathName(const QString& path, bool addToRecentFiles)
{
    m_strPathName = QFileInfo(path).absoluteFilePath();
    if (addToRecentFiles)
        if (CDocHost* host = TheDocHost())
            host->AddToRecentFileList(m_strPathName);
    SetTitle(QFileInfo(path).fileName());
}

bool CLumivexDoc::OnOpenDocument(const QString& path)
{
    // The file must be readable before anything else happens to the document.
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        ShowMessage("Failed to open document.");
        return false;
    }
    file.close();
    SetPathName(path, true);

    m_pImage.reset(new (std::nothrow) CDibImage);
    if (!m_pImage) {
        ShowMessage("Out of memory - Image creation!");
        return false;
    }
    if (!m_pImage->LoadFromFile(NativePath(path))) {
        ShowMessage("Image load error!");
        return false;
    }
    return true;
}

void CLumivexDoc::AttachImage(std::unique_ptr<CDibImage> image)
{
    // A histogram window would go on reading the image being replaced.
    if (m_bHistogramShown)
        OnHistogram();
    m_pImage = std::move(image);
}

bool CLumivexDoc::ConvertImageToGray()
{
    if (!m_pImage)
        return false;
    return m_pImage->HasPixels() || m_pImage->ConvertToGray();
}

void CLumivexDoc::ShowElapsedTime()
{
    if (!m_pImage)
        return;
    const QString text = m_strElapsed.isEmpty() ? QString() : QStringLiteral("Time (s):%1").arg(m_strElapsed);
    if (CDocHost* host = TheDocHost())
        host->SetPaneText(1, text);
}

void CLumivexDoc::UpdateAllViews()
{
    emit ImageChanged();
}

void CLumivexDoc::OnFileSaveAs()
{
    // Nothing to save in a document made by New; the command is disabled there.
    if (!m_pImage)
        return;
    // Only a gray image can be written. A picture whose conversion failed gets
    // one more try, as a processing command would give it.
    if (!m_pImage->HasPixels()) {
        const bool converted = ConvertImageToGray();
        UpdateAllViews();
        if (!converted) {
            ShowMessage("Conversion to gray scale failed!");
            return;
        }
    }

    CFileDialogs& dialogs = FileDialogs();
    QString path = dialogs.GetSaveFileName(DialogOwner(), m_strTitle + QStringLiteral(".bmp"), SaveFileFilter());
    if (path.isEmpty())
        return;
    const QString fileTitle = FileTitleOf(path);
    // The test is case-sensitive and looks at the whole path: "photo.BMP"
    // becomes "photo.BMP.bmp", a ".bmp" anywhere in a folder name adds nothing.
    if (!path.contains(QStringLiteral(".bmp"))) {
        path += QStringLiteral(".bmp");
        // The dialog confirmed the name the user typed, not this one.
        if (QFileInfo::exists(path) && !dialogs.ConfirmReplace(DialogOwner(), path))
            return;
    }
    if (!m_pImage->SaveAsBmp(NativePath(path)))
        return;  // SaveAsBmp has said why
    SetPathName(path, false);
    SetTitle(fileTitle);
}

void CLumivexDoc::OnProcessingCommand(const CommandSpec& command)
{
    // A document made by New has nothing to process; the commands are disabled there.
    if (!m_pImage)
        return;
    CDocHost* host = TheDocHost();

    ParamValues values = command.Defaults();
    if (command.dialog) {
        CParamDialog dialog(command, DialogOwner());
        if (!RunParamDialog(dialog))
            return;
        values = dialog.Values();
    }

    CWaitCursor wait;
    // The operation works on its own snapshot of the source on the worker
    // thread, so this document's image is never touched off this thread (the
    // combination commands recount their source's histogram). A picture
    // without a gray face is converted here first, as copying it would.
    CDibImage snapshot;
    const bool hadPixels = m_pImage->HasPixels();
    const bool copied = snapshot.CopyFrom(m_pImage.get());
    if (!hadPixels)
        UpdateAllViews();
    if (!copied) {
        ShowMessage(m_pImage->HasPixels() ? "Out of memory!" : "Conversion to gray scale failed!");
        return;
    }

    const std::string sourceTitle = m_strTitle.toStdString();
    auto outcome = RunWhileRepainting([&] { return RunCommand(command, snapshot, sourceTitle, values); });
    if (!outcome || !*outcome)
        return;  // refused: the operation has shown its message
    CommandResult& result = **outcome;

    CLumivexDoc* document = host ? host->CreateNewDocument() : nullptr;
    if (!document)
        return;
    document->SetTitle(QString::fromStdString(result.title));
    document->AttachImage(std::move(result.image));
    wait.End();
    document->UpdateAllViews();
    document->m_strElapsed = QString::fromStdString(result.elapsed);
    document->ShowElapsedTime();
}

void CLumivexDoc::OnHistogram()
{
    if (!m_pImage)
        return;
    if (m_bHistogramShown) {
        m_bHistogramShown = false;
        m_pHistogramDlg.reset();  // destroys the window with the object
        return;
    }
    if (!m_pImage->ComputeHistogram())
        return;  // "Histogram error" has been shown
    CDocHost* host = TheDocHost();
    m_pHistogramDlg = host ? host->CreateHistogramDlg(m_pImage.get()) : nullptr;
    if (!m_pHistogramDlg)
        return;
    // The title of this moment; a later Save As does not rename the window.
    m_pHistogramDlg->setWindowTitle(QStringLiteral("Histogram - ") + m_strTitle);
    m_bHistogramShown = true;
}
