#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "core/messages.h"
#include "ui/string_table.h"

namespace {

void ShowOnThisThread(const QString& text)
{
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(strings::kAppName), text, QMessageBox::Ok, parent);
    // The box is answered with the ordinary pointer, even in the middle of a wait cursor.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
}

}  // namespace

void ShowMessageBox(const QString& text)
{
    if (!qApp)
        return;
    if (QThread::currentThread() == qApp->thread())
        ShowOnThisThread(text);
    else
        QMetaObject::invokeMethod(qApp, [text] { ShowOnThisThread(text); }, Qt::BlockingQueuedConnection);
}

void InstallMessageBoxHandler()
{
    SetMessageHandler([](const std::string& text) { ShowMessageBox(QString::fromStdString(text)); });
}
