// The game version check: when it asks, when it defers the question to the event loop, what the
// deferred message does with the start-up flags, and the answers.
#include "launcher/version_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/config/launcher_settings.h"
#include "support/process_state.h"

namespace orv {
namespace {

class VersionCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetMessageHandler([this](const MessageRequest& request) {
            boxes.push_back(request);
            return boxes.size() == 1 ? firstAnswer : MsgResult::Ok;
        });
        LauncherConfig.GlobalShowNewVersionNotification = true;
        UiLanguage = UiRussian;
        WindowShown = false;
        VersionPromptPending = false;
        ForceUpdateRequested = false;
        SelfUpdateNeeded = false;
        OfflineMode = false;
        SetVersions("34", "7545", "34", "7545");
        window.selectFirstBuild = [this] { events.push_back("select first build"); };
        window.postVersionMessage = [this] { events.push_back("post"); };
        window.startUpdate = [this] { events.push_back("update"); };
        window.owner = &owner_;
    }
    void TearDown() override {
        SetMessageHandler(previous_);
        WindowShown = false;
        VersionPromptPending = false;
        ForceUpdateRequested = false;
        SelfUpdateNeeded = false;
        SetVersions("0", "0", "0", "0");
    }

    static void SetVersions(const std::string& localBase, const std::string& localBuild,
                            const std::string& serverBase, const std::string& serverBuild) {
        LocalBaseVersion = localBase;
        LocalBuildVersion = localBuild;
        ServerBaseVersion = serverBase;
        ServerBuildVersion = serverBuild;
    }

    test::ProcessStateGuard state_;  // settings record, language, offline state
    MessageHandler previous_;
    int owner_ = 0;

    MsgResult firstAnswer = MsgResult::No;
    std::vector<MessageRequest> boxes;
    std::vector<std::string> events;
    VersionCheckWindow window;
};

TEST_F(VersionCheckTest, TheQuestionJoinsBothServerVersionsWithoutBlanksAroundUp) {
    EXPECT_EQ(GameVersionQuestionText("5", "123", UiEnglish), "A new version of the game = 5 up123 Do you want to update?");
    EXPECT_EQ(GameVersionQuestionText("5", "123", UiRussian), "Вышла новая версия игры = 5 up123 Выполнить обновление?");
}

TEST_F(VersionCheckTest, VersionsCompareAsExactTexts) {
    EXPECT_FALSE(GameVersionDiffers());
    SetVersions("1.0", "7", "1.00", "7");
    EXPECT_TRUE(GameVersionDiffers());
    SetVersions("1", "7", "1", "7b");
    EXPECT_TRUE(GameVersionDiffers());
    // A server that went back a version still counts as another version.
    SetVersions("35", "1", "34", "1");
    EXPECT_TRUE(GameVersionDiffers());
    SetVersions("0", "0", "0", "0");
    EXPECT_FALSE(GameVersionDiffers());
}

TEST_F(VersionCheckTest, EqualVersionsOrASwitchedOffNotificationDoNothing) {
    RunGameVersionCheck(window);
    SetVersions("0", "0", "34", "7545");
    LauncherConfig.GlobalShowNewVersionNotification = false;
    RunGameVersionCheck(window);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(VersionPromptPending);
}

TEST_F(VersionCheckTest, BeforeTheWindowIsShownTheQuestionIsPostedAndThenAskedOnce) {
    SetVersions("0", "0", "34", "7545");
    RunGameVersionCheck(window);
    EXPECT_EQ(events, (std::vector<std::string>{"select first build", "post"}));
    EXPECT_TRUE(VersionPromptPending);
    EXPECT_TRUE(boxes.empty());

    WindowShown = true;
    HandleGameVersionMessage(window);
    EXPECT_FALSE(VersionPromptPending);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Вышла новая версия игры = 34 up7545 Выполнить обновление?");
    EXPECT_EQ(boxes[0].caption, "Доступно обновление");
    EXPECT_EQ(boxes[0].flags, mb::YesNo | mb::IconQuestion);
    EXPECT_EQ(boxes[0].owner, &owner_);
    // No: where the notification is switched off.
    EXPECT_EQ(boxes[1].text, "Вы можете отключить оповещение о новой версии в настройках.");

    // A second message finds nothing pending.
    HandleGameVersionMessage(window);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(VersionCheckTest, OnceShownTheQuestionComesAtOnceAndYesStartsTheUpdate) {
    WindowShown = true;
    UiLanguage = UiEnglish;
    firstAnswer = MsgResult::Yes;
    SetVersions("34", "7545", "35", "1");
    RunGameVersionCheck(window);
    EXPECT_EQ(events, (std::vector<std::string>{"select first build", "update"}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Update available");
    EXPECT_FALSE(VersionPromptPending);
}

TEST_F(VersionCheckTest, AForcedUpdateStartsWithoutAQuestionOnlyOnce) {
    SetVersions("0", "0", "34", "7545");
    ForceUpdateRequested = true;
    RunGameVersionCheck(window);
    HandleGameVersionMessage(window);
    EXPECT_EQ(events, (std::vector<std::string>{"select first build", "post", "update"}));
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(ForceUpdateRequested);
    EXPECT_FALSE(VersionPromptPending);
}

TEST_F(VersionCheckTest, TheLaunchersOwnUpdateOrOfflineModeDropTheDeferredQuestion) {
    SetVersions("0", "0", "34", "7545");
    for (bool selfUpdate : {true, false}) {
        SelfUpdateNeeded = selfUpdate;
        OfflineMode = !selfUpdate;
        ForceUpdateRequested = true;
        VersionPromptPending = true;
        HandleGameVersionMessage(window);
        EXPECT_TRUE(VersionPromptPending);
        EXPECT_TRUE(ForceUpdateRequested);
    }
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(VersionCheckTest, APendingQuestionIsDroppedWhenTheNotificationWasSwitchedOffMeanwhile) {
    VersionPromptPending = true;
    LauncherConfig.GlobalShowNewVersionNotification = false;
    HandleGameVersionMessage(window);
    EXPECT_FALSE(VersionPromptPending);
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace orv
