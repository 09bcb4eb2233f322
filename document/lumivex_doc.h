// CLumivexDoc: the image document.
//
// A document holds one image and a title. It comes into being empty (the New
// command, or the moment before loading or receiving a result), then either
// loads a file or is given a command's result, and keeps that image unchanged
// for the rest of its life. It is never modified in the sense of needing to be
// saved: closing it never asks. Every processing command runs here: dialog,
// copy of the image, the operation timed on a worker thread, and the result
// opened as a new document titled after the operation.
#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QWidget>

#include "core/dib_image.h"
#include "document/commands/command_table.h"

// The file title of a path: its file name without the extension, that is
// everything before the name's last "." ("a.b.jpg" gives "a.b"), or the whole
// name when it has no ".".
QString FileTitleOf(const QString& path);

class CLumivexDoc : public QObject {
    Q_OBJECT
public:
    CLumivexDoc();
    ~CLumivexDoc() override;

    // Loads the image file at path. False after the failure has been shown
    // ("Failed to open document.", "Out of memory - Image creation!", "Image load error!").
    bool OnOpenDocument(const QString& path);
    // Takes ownership of image; the document holds none yet.
    void AttachImage(std::unique_ptr<CDibImage> image);
    // The gray face of the image (retried while it is missing); false without an image.
    bool ConvertImageToGray();
    // Writes this document's time into status pane 1 ("Time (s):0.047", or
    // empty for an opened file); nothing without an image.
    void ShowElapsedTime();
    // Views redraw from the current image.
    void UpdateAllViews();

    // Save As: asks for a name (title + ".bmp" proposed), adds ".bmp" unless
    // the path contains it, writes the BMP and renames the document after the file.
    void OnFileSaveAs();
    // One processing command from the table: dialog, copy, timed operation, new document.
    void OnProcessingCommand(const CommandSpec& command);
    // View > Histogram: shows the histogram window titled "Histogram - " and
    // this document's title, or removes it when it is shown. Nothing happens
    // without an image, nor (after "Histogram error") without gray pixels.
    void OnHistogram();

    bool HasImage() const { return m_pImage != nullptr; }
    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);
    const QString& GetPathName() const { return m_strPathName; }
    // Remembers path; with addToRecentFiles it also enters the recent-file list.
    // The title becomes the file's name.
    void SetPathName(const QString& path, bool addToRecentFiles);

    // The document's histogram window while it is shown (owned), and its state.
    std::unique_ptr<QWidget> m_pHistogramDlg;
    // The image; null in a document created empty.
    std::unique_ptr<CDibImage> m_pImage;
    bool m_bHistogramShown = false;
    // How long the operation that produced this document took, e.g. "0.047"; empty for an opened file.
    QString m_strElapsed;

signals:
    void TitleChanged(const QString& title);
    void ImageChanged();

private:
    QString m_strTitle;
    QString m_strPathName;
};
