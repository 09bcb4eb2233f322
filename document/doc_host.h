// What a document needs of the application around it.
//
// Documents create further documents (every command result is one), close
// themselves when loading fails, write the status bar and feed the recent-file
// list. The application object provides these; tests provide them too, so a
// document can be exercised without the main window.
#pragma once

#include <memory>

#include <QString>

class CDibImage;
class CLumivexDoc;
class QWidget;

class CDocHost {
public:
    virtual ~CDocHost() = default;

    // A new empty document in a new, shown and active window, titled from the
    // document name and a running number ("Lumiv1", "Lumiv2", ...). Null when
    // no window could be made.
    virtual CLumivexDoc* CreateNewDocument() = 0;
    // Closes the document's window, which destroys the document.
    virtual void CloseDocument(CLumivexDoc* document) = 0;
    // Status pane 0 (prompts, pixel readout) or 1 (elapsed time), redrawn at once.
    virtual void SetPaneText(int pane, const QString& text) = 0;
    virtual void AddToRecentFileList(const QString& path) = 0;
    // Owner of the dialogs and message boxes.
    virtual QWidget* MainWindow() = 0;
    // A histogram window for image (whose histogram has been counted), shown
    // and activated above the main window; null when none could be made. The
    // caller owns and deletes it, before the image it reads.
    virtual std::unique_ptr<QWidget> CreateHistogramDlg(CDibImage* image) = 0;
};

// The host documents talk to; null before start-up and after shutdown.
CDocHost* TheDocHost();
void SetDocHost(CDocHost* host);
