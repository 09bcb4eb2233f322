// The message sink: how the core tells the user something without owning a window.
//
// An operation that must report a fixed text ("Size of window is not adequate",
// "Histogram error", ...) calls ShowMessage where it detects the problem. The
// desktop program installs a handler that shows a message box, the command-line
// tool one that writes to stderr, and tests capture the texts.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

using MessageHandler = std::function<void(const std::string& text)>;

// Shows text through the installed handler (stderr when none is installed).
void ShowMessage(std::string_view text);

// Installs handler and returns the previous one; an empty handler restores stderr.
MessageHandler SetMessageHandler(MessageHandler handler);

// Collects every message shown while it lives; restores the previous handler on destruction.
class CMessageCapture {
public:
    CMessageCapture();
    ~CMessageCapture();
    CMessageCapture(const CMessageCapture&) = delete;
    CMessageCapture& operator=(const CMessageCapture&) = delete;
    const std::vector<std::string>& Messages() const { return m_messages; }

private:
    std::vector<std::string> m_messages;
    MessageHandler m_previous;
};
