#include <gtest/gtest.h>

#include <string>

#include "launcher/base/app_state.h"
#include "launcher/selfupdate/update_policy.h"

namespace orv {
namespace {

constexpr const char* kManualQuestionRu =
    "Ваша версия лаунчера устарела. Перейти на страницу загрузки обновления лаунчера?";

TEST(SelfUpdatePolicy, IsBitSetCountsOnlyTheLowFiveBitsOfTheBitNumber) {
    EXPECT_TRUE(IsBitSet(7, 0));
    EXPECT_TRUE(IsBitSet(7, 2));
    EXPECT_FALSE(IsBitSet(7, 3));
    EXPECT_TRUE(IsBitSet(2, 33));  // 33 counts as 1
    EXPECT_TRUE(IsBitSet(INT32_MIN, 31));
    EXPECT_TRUE(IsBitSet(-1, 255));
    EXPECT_FALSE(IsBitSet(0, 0));
}

TEST(SelfUpdatePolicy, KindAnnouncementAndBoxFromTheCatalogueValues) {
    enum Box { None, Question, Warning };
    const struct {
        int32_t type, show, allow;
        SelfUpdateAction action;
        Box box;
        int language;
        const char* text;  // nullptr: not checked
    } cases[] = {
        // The defaults 7 and 3: every kind announced; manual and installer may be declined.
        {0, 7, 3, SelfUpdateAction::ManualPage, Question, UiRussian, kManualQuestionRu},
        {1, 7, 3, SelfUpdateAction::Installer, Question, UiEnglish,
         "Your version of the program is outdated. Download the update installer to the new version of the program?"},
        {2, 7, 3, SelfUpdateAction::Direct, Warning, UiEnglish,
         "Your version of the program is outdated. Now you will download the update to the new version of the "
         "program."},
        {2, 7, 3, SelfUpdateAction::Direct, Warning, UiRussian,
         "Ваша версия лаунчера устарела. Сейчас Вам будем загружено обновление до новой версии лаунчера."},
        // An unknown kind: manual, tested at bit 1, its own English question, the manual one in Russian.
        {5, 2, 2, SelfUpdateAction::ManualPage, Question, UiEnglish,
         "Your version of the program is outdated. Do you want to go to the page for update your launcher?"},
        {-1, 2, 2, SelfUpdateAction::ManualPage, Question, UiRussian, kManualQuestionRu},
        {5, 2, 0, SelfUpdateAction::ManualPage, Warning, UiEnglish,
         "Your version of the program is outdated. Now you will be taken to the program update page."},
        {5, 1, 1, SelfUpdateAction::ManualPage, None, UiEnglish, nullptr},
        // A clear notification bit acts at once.
        {0, 6, 7, SelfUpdateAction::ManualPage, None, UiRussian, nullptr},
        {1, 5, 7, SelfUpdateAction::Installer, None, UiRussian, nullptr},
        {2, 3, 7, SelfUpdateAction::Direct, None, UiRussian, nullptr},
        {2, 4, 4, SelfUpdateAction::Direct, Question, UiRussian,
         "Ваша версия лаунчера устарела. Загрузить обновления до новой версии лаунчера?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " show " + std::to_string(c.show) + " allow " +
                     std::to_string(c.allow));
        const SelfUpdatePlan plan = PlanSelfUpdate(c.type, c.show, c.allow, c.language);
        EXPECT_EQ(plan.action, c.action);
        EXPECT_EQ(plan.announce, c.box != None);
        if (c.box == None) continue;
        EXPECT_EQ(plan.box.flags, c.box == Question ? 0x24u : 0x30u);
        EXPECT_EQ(plan.box.caption, c.language == UiRussian ? "Доступно обновление" : "Update available");
        if (c.text) {
            EXPECT_EQ(plan.box.text, c.text);
        }
    }
}

TEST(SelfUpdatePolicy, OnlyYesAndOkGoAhead) {
    for (MsgResult answer : {MsgResult::Yes, MsgResult::Ok}) EXPECT_TRUE(UpdateGoesAhead(answer));
    for (MsgResult answer : {MsgResult::No, MsgResult::Cancel, MsgResult::None, MsgResult::Abort})
        EXPECT_FALSE(UpdateGoesAhead(answer));
}

TEST(SelfUpdatePolicy, TheFailureDialogOffersTheManualPageInBothLanguages) {
    const MessageRequest ru = SelfUpdateFailedDialog(UiRussian);
    EXPECT_EQ(ru.caption, "Ошибка при автообновлении");
    EXPECT_EQ(ru.text, "Произошла ошибка при автоматическом обновлении лаунчера. Перейти на страницу загрузки "
                       "лаунчера, для обновления лаунчера вручную?");
    EXPECT_EQ(ru.flags, 0x34u);
    const MessageRequest en = SelfUpdateFailedDialog(UiEnglish);
    EXPECT_EQ(en.caption, "Auto update failed");
    EXPECT_EQ(en.text, "An error occurred while automatically updating the program. Do you want to go to the "
                       "download page to update the program manually?");
}

}  // namespace
}  // namespace orv
