// The show handler's self-update step: acts on the catalogue's self-update values (app_state) when
// SelfUpdateNeeded is set, announcing through the message-box seam. What it does to the outside
// (the browser, the self-update window, the end of the program) goes through the host, so the whole
// decision runs and is tested without a window.
#pragma once

#include <functional>
#include <string>

namespace orv {

struct SelfUpdateHost {
    void* owner = nullptr;  // the boxes' owner window
    // Opens the manual-update page in the browser; raises the platform's error when refused.
    std::function<void(const std::string& url)> openPage;
    // Asks the application to end once control returns to the event loop.
    std::function<void()> terminate;
    // Creates the self-update window if it does not exist and shows it modally; its modal result.
    std::function<int()> showUpdateWindow;
    // Frees the self-update window after it failed.
    std::function<void()> freeUpdateWindow;
};

// The modal result of a failed self-update window.
inline constexpr int SelfUpdateFailedResult = 13;

// Runs the policy once when SelfUpdateNeeded is set, clearing it on every outcome but a successful
// update window. An error from openPage leaves the call (SelfUpdateNeeded already cleared, nothing
// terminated).
void RunSelfUpdatePolicy(const SelfUpdateHost& host);

// The dialog after a failed self-update window: Yes opens the manual-update page and ends the
// launcher, any other answer goes on with the running version. Returns the answer's value.
int DialogResultAfterFailSelfUpdate(const SelfUpdateHost& host);

}  // namespace orv
