// The one seam every message box of the launcher goes through. The Win32 layer installs a handler
// that calls MessageBoxW; in-process tests install one that records the request and answers it.
// Flags and answers use the Win32 values so that callers state exactly what the platform shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orv {

namespace mb {
inline constexpr uint32_t Ok = 0x0;
inline constexpr uint32_t OkCancel = 0x1;
inline constexpr uint32_t AbortRetryIgnore = 0x2;
inline constexpr uint32_t YesNoCancel = 0x3;
inline constexpr uint32_t YesNo = 0x4;
inline constexpr uint32_t RetryCancel = 0x5;
inline constexpr uint32_t IconError = 0x10;  // the "stop" icon
inline constexpr uint32_t IconQuestion = 0x20;
inline constexpr uint32_t IconWarning = 0x30;
inline constexpr uint32_t IconInformation = 0x40;
inline constexpr uint32_t TaskModal = 0x2000;
}  // namespace mb

enum class MsgResult : int { None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageRequest {
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    uint32_t flags = mb::Ok;
    void* owner = nullptr;  // owner window (HWND) or none; see BoxOwnerFor
};

using MessageHandler = std::function<MsgResult(const MessageRequest&)>;

// While it lives, `window` (an HWND) runs a modal loop: a box meant for the main window, or for a
// modal window below it, goes to the innermost modal window instead. The windows below are disabled
// then, and a box one of them owned would leave the modal window open to clicks behind the box (a
// second Save, a second cleaner run). Scopes nest; they belong to the GUI thread.
class ModalBoxOwner {
public:
    explicit ModalBoxOwner(void* window);
    ~ModalBoxOwner();
    ModalBoxOwner(const ModalBoxOwner&) = delete;
    ModalBoxOwner& operator=(const ModalBoxOwner&) = delete;

private:
    void* window_;
};

// While it lives, `before` runs before every box this thread shows: a display that holds back
// what it paints puts it on screen first, so that a box never stands over an older state than the
// one it speaks of (and the player reads the latest status while the box waits). Boxes of other
// threads do not run it: it may touch the windows of the thread that made it. Scopes nest and end
// in reverse order; every live one runs, the innermost first. `before` must not raise.
class BeforeEveryBox {
public:
    explicit BeforeEveryBox(std::function<void()> before);
    ~BeforeEveryBox();
    BeforeEveryBox(const BeforeEveryBox&) = delete;
    BeforeEveryBox& operator=(const BeforeEveryBox&) = delete;

private:
    friend MsgResult ShowMessageBox(const MessageRequest& request);
    std::function<void()> before_;
    BeforeEveryBox* outer_;
};

// The owner a box asked for with `owner` gets: the innermost modal window when `owner` is the main
// window (MainWindowHandle) or an outer modal window; otherwise `owner` itself (none stays none).
void* BoxOwnerFor(void* owner);

// Shows a message box through the installed handler, owned as BoxOwnerFor says. Without a handler
// (portable tests, tools) the request goes to standard error and is answered with the first button.
MsgResult ShowMessageBox(const MessageRequest& request);
// Installs the handler; an empty one restores the default. Returns the previous one.
MessageHandler SetMessageHandler(MessageHandler handler);

// A plain OK box for the player, captioned with the application title, owned by the main window
// (or the modal window over it).
void ShowMessage(const std::string& text);
// The application's error box: stop icon, OK, application title as caption, a full stop appended
// when the text lacks one. Used for errors that no caller catches.
void ShowErrorBox(const std::string& text);
// The text the error box shows for a message.
std::string ErrorBoxText(const std::string& message);

}  // namespace orv
