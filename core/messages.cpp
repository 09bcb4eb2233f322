#include "core/messages.h"

#include <cstdio>
#include <mutex>

namespace {

// Operations may run on a worker thread while the user interface waits, so the
// handler slot is guarded; the handler itself decides how to reach the user.
std::mutex& HandlerMutex()
{
    static std::mutex mutex;
    return mutex;
}

MessageHandler& Handler()
{
    static MessageHandler handler;
    return handler;
}

}  // namespace

void ShowMessage(std::string_view text)
{
    MessageHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = Handler();
    }
    const std::string message(text);
    if (handler) {
        handler(message);
    } else {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

MessageHandler SetMessageHandler(MessageHandler handler)
{
    std::lock_guard lock(HandlerMutex());
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

CMessageCapture::CMessageCapture()
{
    m_previous = SetMessageHandler([this](const std::string& text) { m_messages.push_back(text); });
}

CMessageCapture::~CMessageCapture()
{
    SetMessageHandler(std::move(m_previous));
}
