// The file dialogs of Open and Save As, behind a seam.
//
// The program asks through FileDialogs(); tests install their own answers with
// SetFileDialogs so that nothing waits for a user.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The Open dialog's filters, the first selected initially.
QStringList OpenFileFilters();
// The Save As dialog's only filter.
QString SaveFileFilter();

class CFileDialogs {
public:
    virtual ~CFileDialogs() = default;
    // The chosen file's full path, or empty when the user cancelled.
    virtual QString GetOpenFileName(QWidget* parent, const QStringList& filters);
    // The chosen full path, or empty when cancelled. proposedName is offered as
    // the file name; replacing an existing file needs the user's confirmation.
    virtual QString GetSaveFileName(QWidget* parent, const QString& proposedName, const QString& filter);
    // Asked when Save As had to add ".bmp" to the confirmed name and the
    // resulting file exists: true replaces it.
    virtual bool ConfirmReplace(QWidget* parent, const QString& path);
};

CFileDialogs& FileDialogs();
// Installs dialogs (not owned) and returns the previous ones; null restores the real dialogs.
CFileDialogs* SetFileDialogs(CFileDialogs* dialogs);
