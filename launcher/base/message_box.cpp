#include "launcher/base/message_box.h"

#include <cstdio>
#include <mutex>

#include "launcher/base/app_state.h"

namespace orv {
namespace {

std::mutex g_handlerLock;
MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}

MsgResult FirstButton(uint32_t flags) {
    switch (flags & 0xF) {
        case mb::AbortRetryIgnore: return MsgResult::Abort;
        case mb::YesNo:
        case mb::YesNoCancel: return MsgResult::Yes;
        case mb::RetryCancel: return MsgResult::Retry;
        default: return MsgResult::Ok;
    }
}

}  // namespace

MsgResult ShowMessageBox(const MessageRequest& request) {
    MessageHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerLock);
        handler = Handler();
    }
    if (handler) return handler(request);
    std::fprintf(stderr, "[%s] %s\n", request.caption.c_str(), request.text.c_str());
    return FirstButton(request.flags);
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerLock);
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void ShowMessage(const std::string& text) {
    ShowMessageBox({text, ApplicationTitle, mb::Ok, MainWindowHandle});
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && message.back() == '.') return message;
    return message + ".";
}

void ShowErrorBox(const std::string& text) {
    ShowMessageBox({ErrorBoxText(text), ApplicationTitle, mb::Ok | mb::IconError, MainWindowHandle});
}

}  // namespace orv
