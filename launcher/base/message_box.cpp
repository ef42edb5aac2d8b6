#include "launcher/base/message_box.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

#include "launcher/base/app_state.h"

namespace orv {
namespace {

// Guards the handler and the modal windows: a worker may raise a box while the GUI thread opens or
// closes a modal window.
std::mutex g_handlerLock;
MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}
// The windows in a modal loop, outermost first.
std::vector<void*>& ModalWindows() {
    static std::vector<void*> windows;
    return windows;
}

// BoxOwnerFor with the lock held.
void* BoxOwnerLocked(void* owner) {
    const std::vector<void*>& windows = ModalWindows();
    if (!owner || windows.empty()) return owner;
    const bool disabled = owner == MainWindowHandle || std::find(windows.begin(), windows.end(), owner) != windows.end();
    return disabled ? windows.back() : owner;
}

// The innermost BeforeEveryBox of this thread.
thread_local BeforeEveryBox* t_beforeBox = nullptr;

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

ModalBoxOwner::ModalBoxOwner(void* window) : window_(window) {
    if (!window_) return;
    std::lock_guard<std::mutex> lock(g_handlerLock);
    ModalWindows().push_back(window_);
}

ModalBoxOwner::~ModalBoxOwner() {
    if (!window_) return;
    std::lock_guard<std::mutex> lock(g_handlerLock);
    std::vector<void*>& windows = ModalWindows();
    // The last entry of this window: scopes end in reverse order, but a window that went away inside
    // its own loop must not take another window's entry with it.
    const auto found = std::find(windows.rbegin(), windows.rend(), window_);
    if (found != windows.rend()) windows.erase(std::next(found).base());
}

BeforeEveryBox::BeforeEveryBox(std::function<void()> before) : before_(std::move(before)), outer_(t_beforeBox) {
    t_beforeBox = this;
}

BeforeEveryBox::~BeforeEveryBox() { t_beforeBox = outer_; }

void* BoxOwnerFor(void* owner) {
    std::lock_guard<std::mutex> lock(g_handlerLock);
    return BoxOwnerLocked(owner);
}

MsgResult ShowMessageBox(const MessageRequest& request) {
    for (const BeforeEveryBox* scope = t_beforeBox; scope; scope = scope->outer_)
        if (scope->before_) scope->before_();
    MessageHandler handler;
    MessageRequest owned = request;
    {
        std::lock_guard<std::mutex> lock(g_handlerLock);
        handler = Handler();
        owned.owner = BoxOwnerLocked(request.owner);
    }
    if (handler) return handler(owned);
    std::fprintf(stderr, "[%s] %s\n", owned.caption.c_str(), owned.text.c_str());
    return FirstButton(owned.flags);
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
