#include "launcher/selfupdate/self_update_run.h"

#include "launcher/base/app_state.h"
#include "launcher/selfupdate/update_policy.h"

namespace orv {
namespace {

// Cleared before the page opens: a refused page must not leave the policy to run again.
void OpenPageAndEnd(const SelfUpdateHost& host) {
    SelfUpdateNeeded = false;
    host.openPage(ManualUpdateUrl);
    host.terminate();
}

}  // namespace

void RunSelfUpdatePolicy(const SelfUpdateHost& host) {
    if (!SelfUpdateNeeded) return;
    SelfUpdatePlan plan = PlanSelfUpdate(TypeOfSelfUpdate, ShowNotificationSelfUpdate, AllowCancelSelfUpdate, UiLanguage);
    if (plan.announce) {
        plan.box.owner = host.owner;
        if (!UpdateGoesAhead(ShowMessageBox(plan.box))) {
            SelfUpdateNeeded = false;
            return;
        }
    }
    if (plan.action == SelfUpdateAction::ManualPage) {
        OpenPageAndEnd(host);
        return;
    }
    if (host.showUpdateWindow() != SelfUpdateFailedResult) return;
    SelfUpdateNeeded = false;
    host.freeUpdateWindow();
    DialogResultAfterFailSelfUpdate(host);
}

int DialogResultAfterFailSelfUpdate(const SelfUpdateHost& host) {
    MessageRequest dialog = SelfUpdateFailedDialog(UiLanguage);
    dialog.owner = host.owner;
    const MsgResult answer = ShowMessageBox(dialog);
    if (answer == MsgResult::Yes)
        OpenPageAndEnd(host);
    else
        SelfUpdateNeeded = false;
    return static_cast<int>(answer);
}

}  // namespace orv
