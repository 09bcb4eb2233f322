#include "ui/lumivex_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QMdiArea>
#include <QSettings>

#include "core/messages.h"
#include "document/file_dialogs.h"
#include "document/lumivex_doc.h"
#include "ui/about_dlg.h"
#include "ui/child_frame.h"
#include "ui/histogram_dlg.h"
#include "ui/lumivex_view.h"
#include "ui/main_frame.h"
#include "ui/message_box.h"
#include "ui/screen_setup.h"
#include "ui/string_table.h"

// Resources compiled into a static library must be registered by name, outside any namespace.
static void InitResources()
{
    Q_INIT_RESOURCE(lumivex);
}

namespace {

constexpr char kRecentGroup[] = "Recent File List";

QSettings ProgramSettings()
{
    return QSettings(QString::fromLatin1(strings::kCompany), QString::fromLatin1(strings::kAppName));
}

}  // namespace

CLumivexApp::CLumivexApp() = default;

CLumivexApp::~CLumivexApp()
{
    m_pMainWnd.reset();
    if (TheDocHost() == this)
        SetDocHost(nullptr);
}

bool CLumivexApp::InitInstance()
{
    InitResources();
    QApplication::setApplicationName(QString::fromLatin1(strings::kAppName));
    QApplication::setOrganizationName(QString::fromLatin1(strings::kCompany));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/lumivex.png")));
    InstallMessageBoxHandler();
    SetScreenMetricsFromPrimaryScreen();
    LoadStdProfileSettings();
    SetDocHost(this);

    m_pMainWnd = std::make_unique<CMainFrame>(this);
    if (!m_pMainWnd->OnCreate()) {
        m_pMainWnd.reset();
        return false;
    }
    m_pMainWnd->resize(1000, 720);
    m_pMainWnd->show();
    return true;
}

void CLumivexApp::ExitInstance()
{
    SaveStdProfileSettings();
}

void CLumivexApp::LoadStdProfileSettings()
{
    QSettings settings = ProgramSettings();
    settings.beginGroup(QString::fromLatin1(kRecentGroup));
    m_recentFiles.clear();
    for (int i = 1; i <= strings::kRecentFileCount; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty())
            m_recentFiles.append(path);
    }
}

void CLumivexApp::SaveStdProfileSettings() const
{
    QSettings settings = ProgramSettings();
    settings.beginGroup(QString::fromLatin1(kRecentGroup));
    for (int i = 1; i <= strings::kRecentFileCount; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_recentFiles.size())
            settings.setValue(key, m_recentFiles[i - 1]);
        else
            settings.remove(key);
    }
}

void CLumivexApp::AddToRecentFileList(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    m_recentFiles.removeAll(full);
    m_recentFiles.prepend(full);
    while (m_recentFiles.size() > strings::kRecentFileCount)
        m_recentFiles.removeLast();
}

void CLumivexApp::OnAppAbout()
{
    CAboutDlg dialog(m_pMainWnd.get());
    dialog.exec();
}

void CLumivexApp::OnFileNew()
{
    CreateNewDocument();
}

void CLumivexApp::OnFileOpen()
{
    const QString path = FileDialogs().GetOpenFileName(m_pMainWnd.get(), OpenFileFilters());
    if (path.isEmpty())
        return;
    const QString title = FileTitleOf(path);

    CLumivexDoc* document = CreateNewDocument();
    if (!document)
        return;
    if (!document->OnOpenDocument(path)) {
        CloseDocument(document);
        return;
    }
    document->SetTitle(title);
    document->ShowElapsedTime();
    if (!document->ConvertImageToGray())
        ShowMessage("Conversion to gray scale failed!");
    document->UpdateAllViews();
}

CLumivexDoc* CLumivexApp::CreateNewDocument()
{
    if (!m_pMainWnd)
        return nullptr;
    auto owned = std::make_unique<CLumivexDoc>();
    CLumivexDoc* document = owned.get();
    document->SetTitle(QString::fromLatin1(strings::kDocName) + QString::number(++m_nUntitledCount));
    auto* frame = new CChildFrame(std::move(owned));
    m_pMainWnd->AddChildFrame(frame);
    frame->View()->OnInitialUpdate();
    frame->show();
    m_pMainWnd->MdiArea()->setActiveSubWindow(frame);
    frame->View()->setFocus();
    return document;
}

void CLumivexApp::CloseDocument(CLumivexDoc* document)
{
    if (!m_pMainWnd)
        return;
    for (CChildFrame* frame : m_pMainWnd->ChildFrames()) {
        if (frame->Document() == document) {
            frame->close();
            return;
        }
    }
}

void CLumivexApp::SetPaneText(int pane, const QString& text)
{
    if (m_pMainWnd)
        m_pMainWnd->SetPaneText(pane, text);
}

QWidget* CLumivexApp::MainWindow()
{
    return m_pMainWnd.get();
}

std::unique_ptr<QWidget> CLumivexApp::CreateHistogramDlg(CDibImage* image)
{
    auto dialog = std::make_unique<CHistogramDlg>(image, m_pMainWnd.get());
    if (!dialog->Create())
        return nullptr;
    return dialog;
}
