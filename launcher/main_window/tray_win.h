// The main window's notification-area icon: the one record it is added and deleted with, and the
// seam the shell's notification service is reached through.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>

namespace orv {

// The tray's callback message (the user message base plus 1); its lParam carries the mouse message.
inline constexpr UINT TrayCallbackMessage = WM_USER + 1;

// The message the shell sends every top-level window when it has made the taskbar anew (Explorer
// restarted), with every icon of the notification area gone; 0 when it could not be registered.
UINT TaskbarCreatedMessage();

// Shell_NotifyIconW as the tray icon calls it: NIM_ADD or NIM_DELETE with the record; true when the
// shell took it.
using TrayNotifier = std::function<bool(DWORD message, const NOTIFYICONDATAW& record)>;
// Sends the calls to `notifier` instead of the shell (unset: the shell). For tests that record them.
void SetTrayNotifier(TrayNotifier notifier);

class TrayIcon {
public:
    TrayIcon() = default;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    // An icon still there goes with its owner, however the program ends.
    ~TrayIcon() { Delete(); }

    // The record of `window`'s icon: id 1, message, icon and tip, the callback message, the window's
    // own small icon, the tip "Orvanta".
    static NOTIFYICONDATAW Record(HWND window);

    // Lets the shell's TaskbarCreated message reach `window` although the launcher runs elevated.
    static void ListenForTaskbar(HWND window);

    // Adds the icon of `window`; at most one exists, so an icon already there stays as it is. False
    // when the shell refuses it (no notification area): there is no icon then.
    bool Add(HWND window);
    // After the taskbar was made anew: puts the icon back when there was one. False when the shell
    // refuses it: there is no icon any more.
    bool Readd();
    // Deletes the icon; nothing happens when there is none.
    void Delete() noexcept;
    bool Exists() const noexcept { return window_ != nullptr; }

private:
    HWND window_ = nullptr;
};

}  // namespace orv
