#include "document/run_while_painting.h"

#include <atomic>
#include <exception>
#include <new>
#include <thread>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QWidget>
#include <QWindow>

#include "core/messages.h"

namespace {

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
    case QEvent::Drop:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

// Input for a window opened modally while the operation runs (its message box) goes through.
bool BelongsToActiveModal(QObject* receiver)
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return false;
    if (auto* window = qobject_cast<QWindow*>(receiver))
        return window == modal->windowHandle();
    if (auto* widget = qobject_cast<QWidget*>(receiver))
        return widget == modal || modal->isAncestorOf(widget);
    return false;
}

}  // namespace

CInputBlocker::CInputBlocker()
{
    qApp->installEventFilter(this);
}

CInputBlocker::~CInputBlocker()
{
    qApp->removeEventFilter(this);
}

bool CInputBlocker::eventFilter(QObject* watched, QEvent* event)
{
    if (!IsInput(event->type()) || BelongsToActiveModal(watched))
        return false;
    if (event->type() == QEvent::ShortcutOverride)
        event->accept();  // taken as an ordinary key, which is then dropped: no shortcut fires
    else
        event->ignore();  // a refused close stays refused
    return true;
}

bool RunWhileRepaintingImpl(const std::function<void()>& work)
{
    CInputBlocker blocker;
    std::atomic<bool> done{false};
    bool completed = false;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
            completed = true;
        } catch (const std::bad_alloc&) {
            ShowMessage("Out of memory!");
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        // Wakes the waiting loop below; posted, so it is delivered even if the loop is not yet waiting.
        QMetaObject::invokeMethod(qApp, [] {}, Qt::QueuedConnection);
    });
    // Not a nested QEventLoop: a request to quit the application must not end
    // the wait while the worker may still need this thread for a message box.
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return completed;
}
