// CLumivexApp: the application object.
//
// Starts the workbench (settings, recent-file list, main window), creates
// every document window (the one document type: CLumivexDoc shown by a
// CLumivexView in a CChildFrame) and carries the application-wide commands:
// File > Open, the New key and Help > About. A file named on the command line
// is not opened: the program always starts with an empty workspace.
#pragma once

#include <memory>

#include <QObject>
#include <QStringList>

#include "document/doc_host.h"

class CMainFrame;

class CLumivexApp : public QObject, public CDocHost {
    Q_OBJECT
public:
    CLumivexApp();
    ~CLumivexApp() override;

    // Start-up; false ends the program at once.
    bool InitInstance();
    // Writes the recent-file list.
    void ExitInstance();

    void OnAppAbout();
    // File > Open: the Open dialog, a new document for the file, its gray face.
    void OnFileOpen();
    // The New key: an empty document in a new window.
    void OnFileNew();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    // Most recent first, at most five full paths.
    const QStringList& RecentFiles() const { return m_recentFiles; }
    void LoadStdProfileSettings();
    void SaveStdProfileSettings() const;

    // CDocHost
    CLumivexDoc* CreateNewDocument() override;
    void CloseDocument(CLumivexDoc* document) override;
    void SetPaneText(int pane, const QString& text) override;
    void AddToRecentFileList(const QString& path) override;
    QWidget* MainWindow() override;
    std::unique_ptr<QWidget> CreateHistogramDlg(CDibImage* image) override;

private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
    QStringList m_recentFiles;
    int m_nUntitledCount = 0;
};
