// Running a long operation without freezing the windows.
//
// A command's operation can take seconds on a large picture. It runs on a
// worker thread while the user-interface thread waits in a local event loop
// that keeps repainting (and shows the operation's messages) but drops the
// user's input, so the program behaves as if the operation ran in the command
// handler: nothing else can be started, closed or changed meanwhile.
#pragma once

#include <functional>
#include <optional>
#include <type_traits>

#include <QObject>

// Swallows keyboard, mouse and close input for every window except a modal one
// opened meanwhile (a message box the operation shows), while it lives.
class CInputBlocker : public QObject {
public:
    CInputBlocker();
    ~CInputBlocker() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Runs work on a worker thread and returns when it has finished, processing
// paint and timer events (not input) in the meantime. Out of memory on the
// worker shows "Out of memory!"; any other exception is rethrown here.
// Returns false when work did not complete.
bool RunWhileRepaintingImpl(const std::function<void()>& work);

// The result of work(), or nothing when it did not complete.
template <class Work>
auto RunWhileRepainting(Work&& work) -> std::optional<std::invoke_result_t<Work&>>
{
    std::optional<std::invoke_result_t<Work&>> result;
    RunWhileRepaintingImpl([&] { result.emplace(work()); });
    return result;
}
