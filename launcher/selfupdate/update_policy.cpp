#include "launcher/selfupdate/update_policy.h"

namespace orv {
namespace {

struct Kind {
    SelfUpdateAction action;
    uint8_t bit;  // tested in both bit sets
    TextId question;
    TextId warning;
};

// An unknown kind is the manual one, but tested at the installer's bit and, in English, asked
// with its own question.
constexpr Kind kManual{SelfUpdateAction::ManualPage, 0, TextId::LauncherOutdatedQuestionManual,
                       TextId::LauncherOutdatedWarningManual};
constexpr Kind kInstaller{SelfUpdateAction::Installer, 1, TextId::LauncherOutdatedQuestionInstaller,
                          TextId::LauncherOutdatedWarningInstaller};
constexpr Kind kDirect{SelfUpdateAction::Direct, 2, TextId::LauncherOutdatedQuestionDirect,
                       TextId::LauncherOutdatedWarningDirect};
constexpr Kind kOther{SelfUpdateAction::ManualPage, 1, TextId::LauncherOutdatedQuestionOther,
                      TextId::LauncherOutdatedWarningManual};

const Kind& KindOf(int32_t type) {
    switch (type) {
        case 0: return kManual;
        case 1: return kInstaller;
        case 2: return kDirect;
        default: return kOther;
    }
}

}  // namespace

bool IsBitSet(int32_t val, uint8_t theBit) {
    return ((static_cast<uint32_t>(val) >> (theBit & 31u)) & 1u) != 0;
}

SelfUpdatePlan PlanSelfUpdate(int32_t typeOfSelfUpdate, int32_t showNotification, int32_t allowCancel,
                              int uiLanguage) {
    const Kind& kind = KindOf(typeOfSelfUpdate);
    SelfUpdatePlan plan;
    plan.action = kind.action;
    plan.announce = IsBitSet(showNotification, kind.bit);
    if (!plan.announce) return plan;
    const bool question = IsBitSet(allowCancel, kind.bit);
    plan.box.text = TextIn(question ? kind.question : kind.warning, uiLanguage);
    plan.box.caption = TextIn(TextId::UpdateAvailableCaption, uiLanguage);
    plan.box.flags = question ? (mb::IconQuestion | mb::YesNo) : (mb::IconWarning | mb::Ok);
    return plan;
}

MessageRequest SelfUpdateFailedDialog(int uiLanguage) {
    MessageRequest request;
    request.text = TextIn(TextId::SelfUpdateFailedQuestion, uiLanguage);
    request.caption = TextIn(TextId::SelfUpdateFailedCaption, uiLanguage);
    request.flags = mb::IconWarning | mb::YesNo;
    return request;
}

}  // namespace orv
