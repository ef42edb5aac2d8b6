#include "launcher/version_check.h"

#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/config/launcher_settings.h"

namespace orv {

bool VersionPromptPending = false;

namespace {

void Call(const std::function<void()>& f) {
    if (f) f();
}

}  // namespace

bool GameVersionDiffers() {
    return LocalBaseVersion != ServerBaseVersion || LocalBuildVersion != ServerBuildVersion;
}

std::string GameVersionQuestionText(const std::string& serverBase, const std::string& serverBuild, int uiLanguage) {
    return TextIn(TextId::GameVersionQuestionStart, uiLanguage) + serverBase + " up" + serverBuild +
           TextIn(TextId::GameVersionQuestionEnd, uiLanguage);
}

void RunGameVersionCheck(const VersionCheckWindow& window) {
    if (!LauncherConfig.GlobalShowNewVersionNotification) return;
    // A lower server version counts too: the server's build is the one to have.
    if (!GameVersionDiffers()) return;
    Call(window.selectFirstBuild);
    if (WindowShown) {
        AskGameVersionQuestion(window);
        return;
    }
    // During the first show the window is not on screen yet: the question comes from the event
    // loop once it is.
    VersionPromptPending = true;
    Call(window.postVersionMessage);
}

void HandleGameVersionMessage(const VersionCheckWindow& window) {
    // The launcher's own update goes first, and offline there is nothing to update from.
    if (SelfUpdateNeeded || OfflineMode) return;
    if (ForceUpdateRequested) {
        VersionPromptPending = false;
        ForceUpdateRequested = false;
        Call(window.startUpdate);
        return;
    }
    if (!VersionPromptPending) return;
    VersionPromptPending = false;
    if (LauncherConfig.GlobalShowNewVersionNotification) AskGameVersionQuestion(window);
}

void AskGameVersionQuestion(const VersionCheckWindow& window) {
    const MsgResult answer =
        ShowMessageBox({GameVersionQuestionText(ServerBaseVersion, ServerBuildVersion, UiLanguage),
                        Tr(TextId::UpdateAvailableCaption), mb::YesNo | mb::IconQuestion, window.owner});
    if (answer == MsgResult::Yes)
        Call(window.startUpdate);
    else if (answer == MsgResult::No)
        ShowMessage(Tr(TextId::GameVersionNotificationHint));
}

}  // namespace orv
