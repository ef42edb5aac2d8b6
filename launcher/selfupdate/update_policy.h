// How an outdated launcher is replaced, as the update server's catalogue decides it: the kind of
// update and whether the player is told first with a question (which may be declined) or a
// warning. The main window's show handler acts on the plan; the boxes go through the seam.
#pragma once

#include <cstdint>

#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"

namespace orv {

enum class SelfUpdateAction {
    ManualPage,  // open the manual-update page in the browser and end the launcher
    Installer,   // the self-update window downloads and starts the update installer
    Direct,      // the self-update window replaces the executable itself
};

struct SelfUpdatePlan {
    SelfUpdateAction action = SelfUpdateAction::ManualPage;
    bool announce = false;     // a box before acting
    MessageRequest box;        // the announcement (owner left to the caller) when `announce`
};

// Whether bit `theBit` (0 = lowest; only its low five bits count) is set in `val`.
bool IsBitSet(int32_t val, uint8_t theBit);

// The plan for the catalogue's TypeOfSelfUpdate, ShowNotificationSelfUpdate and
// AllowCancelSelfUpdate, with the announcement in `uiLanguage`.
SelfUpdatePlan PlanSelfUpdate(int32_t typeOfSelfUpdate, int32_t showNotification, int32_t allowCancel,
                              int uiLanguage);

// Yes and OK let an announced update go ahead; every other answer declines it.
inline bool UpdateGoesAhead(MsgResult answer) { return answer == MsgResult::Yes || answer == MsgResult::Ok; }

// The dialog after a failed self-update, offering the manual-update page.
MessageRequest SelfUpdateFailedDialog(int uiLanguage);

}  // namespace orv
