#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/selfupdate/self_update_run.h"
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

// The self-update values as a start-up leaves them when the catalogue sets none.
class SelfUpdateRun : public ::testing::Test {
protected:
    void TearDown() override {
        SelfUpdateNeeded = false;
        TypeOfSelfUpdate = 1;
        ShowNotificationSelfUpdate = 7;
        AllowCancelSelfUpdate = 3;
        UiLanguage = UiRussian;
        ManualUpdateUrl = savedUrl_;
    }
    const std::string savedUrl_ = ManualUpdateUrl;
};

// The show handler's policy from the catalogue values to what happens: the boxes asked (their flags,
// through the seam), what the host was told, and whether the policy would run again.
TEST_F(SelfUpdateRun, OutcomesOfTheShowHandlersPolicy) {
    const struct {
        const char* name;
        int32_t type, show, allow;
        std::vector<MsgResult> answers;  // to the boxes, in order
        int windowResult;
        std::vector<uint32_t> boxes;     // flags of the boxes shown
        std::vector<std::string> events;
        bool stillNeeded;
    } cases[] = {
        {"catalogue without values: manual question, Yes", 0, 7, 3, {MsgResult::Yes}, 0, {0x24},
         {"page", "terminate"}, false},
        {"manual question declined", 0, 7, 3, {MsgResult::No}, 0, {0x24}, {}, false},
        {"direct with the defaults: a warning, then the window", 2, 7, 3, {MsgResult::Ok}, 1, {0x30}, {"window"}, true},
        {"installer declined", 1, 7, 3, {MsgResult::No}, 0, {0x24}, {}, false},
        {"window failed, manual page accepted", 1, 7, 3, {MsgResult::Yes, MsgResult::Yes}, 13, {0x24, 0x34},
         {"window", "free", "page", "terminate"}, false},
        {"window failed, manual page declined", 2, 7, 3, {MsgResult::Ok, MsgResult::No}, 13, {0x30, 0x34},
         {"window", "free"}, false},
        {"no notification: the window at once", 1, 0, 3, {}, 1, {}, {"window"}, true},
        {"no notification: the page at once", 0, 0, 3, {}, 0, {}, {"page", "terminate"}, false},
        {"no cancel: a warning that goes ahead", 1, 7, 0, {MsgResult::Ok}, 1, {0x30}, {"window"}, true},
        {"unknown kind asked at bit 1", 5, 2, 2, {MsgResult::Yes}, 0, {0x24}, {"page", "terminate"}, false},
        {"unknown kind, bit 1 not announced", 5, 5, 3, {}, 0, {}, {"page", "terminate"}, false},
        {"a closed box declines", 2, 7, 7, {MsgResult::Cancel}, 0, {0x24}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SelfUpdateNeeded = true;
        TypeOfSelfUpdate = c.type;
        ShowNotificationSelfUpdate = c.show;
        AllowCancelSelfUpdate = c.allow;
        UiLanguage = UiEnglish;
        ManualUpdateUrl = "http://example.test/manual";
        std::vector<uint32_t> boxes;
        size_t answered = 0;
        const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
            boxes.push_back(request.flags);
            EXPECT_EQ(request.owner, reinterpret_cast<void*>(0x1234));
            return answered < c.answers.size() ? c.answers[answered++] : MsgResult::None;
        });
        std::vector<std::string> events;
        SelfUpdateHost host;
        host.owner = reinterpret_cast<void*>(0x1234);
        host.openPage = [&](const std::string& url) {
            EXPECT_EQ(url, "http://example.test/manual");
            events.push_back("page");
        };
        host.terminate = [&] { events.push_back("terminate"); };
        host.showUpdateWindow = [&] {
            events.push_back("window");
            return c.windowResult;
        };
        host.freeUpdateWindow = [&] { events.push_back("free"); };
        RunSelfUpdatePolicy(host);
        SetMessageHandler(previous);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(answered, c.answers.size());
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(SelfUpdateNeeded, c.stillNeeded);
    }
}

TEST_F(SelfUpdateRun, ARefusedPageEndsThePolicyWithoutEndingTheLauncher) {
    SelfUpdateNeeded = true;
    TypeOfSelfUpdate = 0;
    ShowNotificationSelfUpdate = 0;
    bool terminated = false;
    SelfUpdateHost host;
    host.openPage = [](const std::string&) { throw std::runtime_error("no browser"); };
    host.terminate = [&] { terminated = true; };
    EXPECT_THROW(RunSelfUpdatePolicy(host), std::runtime_error);
    EXPECT_FALSE(terminated);
    EXPECT_FALSE(SelfUpdateNeeded);
    // Once cleared it does not run again.
    RunSelfUpdatePolicy(host);
    EXPECT_FALSE(terminated);
}

}  // namespace
}  // namespace orv
