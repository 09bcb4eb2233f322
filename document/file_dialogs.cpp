#include "document/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

CFileDialogs g_standardDialogs;
CFileDialogs* g_pDialogs = nullptr;

// Both dialogs start in the folder last used by either, for the rest of the session.
QString& LastDirectory()
{
    static QString directory;
    return directory;
}

QString Chosen(const QFileDialog& dialog)
{
    const QString path = dialog.selectedFiles().value(0);
    if (!path.isEmpty())
        LastDirectory() = QFileInfo(path).absolutePath();
    return path;
}

}  // namespace

QStringList OpenFileFilters()
{
    return {QStringLiteral("Images(bmp,jpeg) (*.bmp *.jpg *.jpeg)"), QStringLiteral("Jpeg images (*.jpeg *.jpg)"),
            QStringLiteral("Bmp images (*.bmp)")};
}

QString SaveFileFilter()
{
    return QStringLiteral("*.bmp");
}

QString CFileDialogs::GetOpenFileName(QWidget* parent, const QStringList& filters)
{
    QFileDialog dialog(parent, QStringLiteral("Open"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    if (!LastDirectory().isEmpty())
        dialog.setDirectory(LastDirectory());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return Chosen(dialog);
}

QString CFileDialogs::GetSaveFileName(QWidget* parent, const QString& proposedName, const QString& filter)
{
    QFileDialog dialog(parent, QStringLiteral("Save As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    if (!LastDirectory().isEmpty())
        dialog.setDirectory(LastDirectory());
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return Chosen(dialog);
}

bool CFileDialogs::ConfirmReplace(QWidget* parent, const QString& path)
{
    const QString text = QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(path).fileName());
    return QMessageBox::warning(parent, QStringLiteral("Save As"), text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

CFileDialogs& FileDialogs()
{
    return g_pDialogs ? *g_pDialogs : g_standardDialogs;
}

CFileDialogs* SetFileDialogs(CFileDialogs* dialogs)
{
    CFileDialogs* previous = g_pDialogs;
    g_pDialogs = dialogs;
    return previous;
}
