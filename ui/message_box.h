// The desktop program's message sink: every ShowMessage becomes a message box.
#pragma once

#include <QString>

// Shows text in a modal message box titled "Lumivex" with a warning icon and an
// OK button, over the active modal window or else the active window. Safe from
// any thread: a worker's message is shown by the user-interface thread while
// the worker waits for the box to close.
void ShowMessageBox(const QString& text);

// Routes core/messages.h's ShowMessage to ShowMessageBox.
void InstallMessageBoxHandler();
