// Shared pieces of the widget tests: scripted file dialogs, a running
// workbench with captured messages and settings in a temporary folder, and
// small image helpers.
#pragma once

#include <functional>
#include <memory>

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "core/messages.h"
#include "document/file_dialogs.h"
#include "document/lumivex_doc.h"
#include "document/param_dialog.h"
#include "tests/support/test_images.h"
#include "ui/child_frame.h"
#include "ui/lumivex_app.h"
#include "ui/lumivex_view.h"
#include "ui/main_frame.h"

// File dialogs that answer from lists and remember what they were asked.
class CScriptedFileDialogs : public CFileDialogs {
public:
    QStringList openAnswers;
    QStringList saveAnswers;
    QList<bool> replaceAnswers;

    QStringList openFilters;
    QStringList proposedNames;
    QStringList saveFilters;
    QStringList replaceQuestions;

    QString GetOpenFileName(QWidget*, const QStringList& filters) override
    {
        openFilters = filters;
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString GetSaveFileName(QWidget*, const QString& proposedName, const QString& filter) override
    {
        proposedNames.append(proposedName);
        saveFilters.append(filter);
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    bool ConfirmReplace(QWidget*, const QString& path) override
    {
        replaceQuestions.append(path);
        return replaceAnswers.isEmpty() ? false : replaceAnswers.takeFirst();
    }
};

inline QString TestData(const char* relative)
{
    return QString::fromStdString(testing_support::DataPath(relative));
}

// The workbench as the program starts it, with no dialog or message box that waits for a user.
class CWorkbench {
public:
    CWorkbench()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        m_bStarted = app.InitInstance();
        SetFileDialogs(&dialogs);
        capture = std::make_unique<CMessageCapture>();
    }
    ~CWorkbench()
    {
        capture.reset();
        SetMessageHandler({});
        SetFileDialogs(nullptr);
        SetParamDialogRunner({});
    }

    bool Started() const { return m_bStarted; }
    CMainFrame& Frame() { return *app.MainFrame(); }
    QStringList Messages() const
    {
        QStringList texts;
        for (const std::string& text : capture->Messages())
            texts.append(QString::fromStdString(text));
        return texts;
    }
    // Closed windows are deleted later; tests want them gone now.
    static void FlushDeletes()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    // A new document window holding image, as a command result would be.
    CLumivexDoc* NewDocumentWith(std::unique_ptr<CDibImage> image)
    {
        CLumivexDoc* document = app.CreateNewDocument();
        document->AttachImage(std::move(image));
        document->UpdateAllViews();
        document->ShowElapsedTime();
        return document;
    }

private:
    QTemporaryDir m_settingsDir;
    bool m_bStarted = false;

public:
    CLumivexApp app;
    CScriptedFileDialogs dialogs;
    std::unique_ptr<CMessageCapture> capture;
};

// A width x height image whose level at column x, top-down row y is level(x, y).
inline std::unique_ptr<CDibImage> MakePicture(int width, int height, const std::function<int(int, int)>& level)
{
    auto image = std::make_unique<CDibImage>();
    image->CreateGray(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image->m_pBits[static_cast<std::size_t>(height - 1 - y) * width + x] = static_cast<std::uint8_t>(level(x, y));
    return image;
}

// The level that the picture shows at column x, top-down row y.
inline int LevelOnScreen(const CDibImage& image, int x, int y)
{
    return image.GetPixel(x, image.m_nHeight - 1 - y);
}
