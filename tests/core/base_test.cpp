// The shared base: text conversions, the message-box seam, the text tables and error descriptions.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

TEST(Utf8, RoundTripsAndReplacesBrokenSequences) {
    const std::string text = "Игрок \xF0\x9F\x8E\xAE a";  // Cyrillic, an astral character, ASCII
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 5u + 1 + 2 + 2);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    // A lone continuation byte, a cut sequence, an overlong form and a surrogate all become U+FFFD.
    EXPECT_EQ(Utf8ToUtf16("\x80"), std::u16string(1, u'\xFFFD'));
    EXPECT_EQ(Utf8ToUtf16("\xD0"), std::u16string(1, u'\xFFFD'));
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string(2, u'\xFFFD'));
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80").front(), u'\xFFFD');
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

class MessageSeamTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetMessageHandler([this](const MessageRequest& r) {
            seen_.push_back(r);
            return MsgResult::Retry;
        });
    }
    void TearDown() override {
        SetMessageHandler(previous_);
        UiLanguage = UiRussian;
    }
    MessageHandler previous_;
    std::vector<MessageRequest> seen_;
};

TEST_F(MessageSeamTest, ErrorBoxAppendsAFullStopAndUsesTheTitle) {
    ShowErrorBox("Unable to write to C:\\x.ini");
    ShowErrorBox("Already ends.");
    ShowErrorBox("");
    ASSERT_EQ(seen_.size(), 3u);
    EXPECT_EQ(seen_[0].text, "Unable to write to C:\\x.ini.");
    EXPECT_EQ(seen_[0].caption, ApplicationTitle);
    EXPECT_EQ(seen_[0].flags, mb::Ok | mb::IconError);
    EXPECT_EQ(seen_[1].text, "Already ends.");
    EXPECT_EQ(seen_[2].text, ".");
}

TEST_F(MessageSeamTest, HandlerAnswersAndCanBeRestored) {
    EXPECT_EQ(ShowMessageBox({"q", "c", mb::AbortRetryIgnore | mb::IconError}), MsgResult::Retry);
    auto mine = SetMessageHandler(nullptr);
    EXPECT_TRUE(static_cast<bool>(mine));
    // Without a handler the first button answers, so unattended tools never block.
    EXPECT_EQ(ShowMessageBox({"q", "c", mb::AbortRetryIgnore}), MsgResult::Abort);
    EXPECT_EQ(ShowMessageBox({"q", "c", mb::YesNo}), MsgResult::Yes);
    SetMessageHandler(mine);
    ShowMessage("plain");
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].flags, mb::Ok);
}

TEST_F(MessageSeamTest, BoxesForADisabledWindowGoToTheInnermostModalWindow) {
    // Stand-ins for window handles: the seam only compares them.
    int mainWindow = 0, settings = 0, avatar = 0, other = 0;
    void* const previousMain = MainWindowHandle;
    MainWindowHandle = &mainWindow;
    struct Ask {
        const char* what;
        void* owner;     // asked for
        void* expected;  // given
    };
    // Each box goes through ShowMessageBox; the plain and the error box ask for the main window.
    const auto owners = [&](const std::vector<Ask>& asks) {
        for (const Ask& ask : asks) {
            seen_.clear();
            ShowMessageBox({"text", "caption", mb::Ok, ask.owner});
            ShowMessage("plain");
            ShowErrorBox("error");
            ASSERT_EQ(seen_.size(), 3u) << ask.what;
            EXPECT_EQ(seen_[0].owner, ask.expected) << ask.what;
            EXPECT_EQ(BoxOwnerFor(ask.owner), ask.expected) << ask.what;
        }
    };
    const auto plainOwner = [&] {
        seen_.clear();
        ShowMessage("plain");
        ShowErrorBox("error");
        return seen_.size() == 2 && seen_[0].owner == seen_[1].owner ? seen_[0].owner : nullptr;
    };

    owners({{"no modal window: main", &mainWindow, &mainWindow}, {"none", nullptr, nullptr}, {"other", &other, &other}});
    EXPECT_EQ(plainOwner(), &mainWindow);
    {
        const ModalBoxOwner settingsLoop(&settings);
        owners({{"settings modal: main", &mainWindow, &settings},
                {"settings itself", &settings, &settings},
                {"none stays none", nullptr, nullptr},
                {"another window keeps it", &other, &other}});
        EXPECT_EQ(plainOwner(), &settings);
        {
            const ModalBoxOwner avatarLoop(&avatar);
            owners({{"avatar over settings: main", &mainWindow, &avatar},
                    {"the disabled settings", &settings, &avatar},
                    {"avatar itself", &avatar, &avatar}});
            EXPECT_EQ(plainOwner(), &avatar);
        }
        EXPECT_EQ(plainOwner(), &settings);
    }
    EXPECT_EQ(plainOwner(), &mainWindow);

    // A loop without a window changes nothing; an outer scope that ends first leaves the inner one.
    {
        const ModalBoxOwner none(nullptr);
        EXPECT_EQ(plainOwner(), &mainWindow);
    }
    std::optional<ModalBoxOwner> outer(std::in_place, &settings);
    {
        const ModalBoxOwner inner(&avatar);
        outer.reset();
        EXPECT_EQ(plainOwner(), &avatar);
        EXPECT_EQ(BoxOwnerFor(&settings), &settings) << "no longer modal";
    }
    EXPECT_EQ(plainOwner(), &mainWindow);
    MainWindowHandle = previousMain;
}

TEST_F(MessageSeamTest, EveryLiveScopeRunsBeforeEachBoxOfItsOwnThreadOnly) {
    // What the handler saw of the scopes' work when each box came.
    std::vector<std::string> order;
    std::vector<std::vector<std::string>> atBox;
    SetMessageHandler([&](const MessageRequest& r) {
        atBox.push_back(order);
        order.clear();
        seen_.push_back(r);
        return MsgResult::Ok;
    });
    ShowMessage("before any");
    {
        const BeforeEveryBox outer([&] { order.push_back("outer"); });
        ShowMessage("one");
        {
            const BeforeEveryBox inner([&] { order.push_back("inner"); });
            ShowErrorBox("two");
            // A worker's box must not run them: they touch the windows of the thread that made them.
            std::thread worker([] { ShowMessageBox({"from a worker", "c"}); });
            worker.join();
        }
        ShowMessageBox({"three", "c", mb::YesNo});
    }
    ShowMessage("after all");
    using Seen = std::vector<std::string>;
    EXPECT_EQ(atBox, (std::vector<Seen>{{}, {"outer"}, {"inner", "outer"}, {}, {"outer"}, {}}));
    ASSERT_EQ(seen_.size(), 6u);
    EXPECT_EQ(seen_[3].text, "from a worker");
}

TEST(Texts, EveryTextExistsInBothLanguagesAndFollowsUiLanguage) {
    for (int i = 0; i < static_cast<int>(TextId::Count); ++i) {
        const auto id = static_cast<TextId>(i);
        EXPECT_NE(std::string(TextIn(id, UiRussian)), "") << i;
        EXPECT_NE(std::string(TextIn(id, UiEnglish)), "") << i;
    }
    EXPECT_EQ(std::string(TextIn(TextId::AlreadyRunning, UiRussian)).rfind("Программа уже запущена ранее", 0), 0u);
    EXPECT_EQ(std::string(TextIn(TextId::AlreadyRunning, 7)).rfind("The program is already running", 0), 0u);
    EXPECT_EQ(std::string(TextIn(TextId::SettingsError, UiEnglish)), "Ошибка настроек");
    EXPECT_EQ(FormatText(Tr(TextId::UnableToWrite), "C:\\g\\a.ini"), "Unable to write to C:\\g\\a.ini");
}

TEST(Errors, DescriptionNamesTheClassAndMessageOfEveryKindOfError) {
    const auto describe = [](auto error) { return DescribeException(std::make_exception_ptr(error)); };
    EXPECT_EQ(describe(EOSError(5, "Access is denied.")).ClassName, "EOSError");
    EXPECT_EQ(describe(EOSError(5, "Access is denied.")).Message, "Access is denied.");
    EXPECT_EQ(describe(Error("Error")).ClassName, "Exception");
    EXPECT_EQ(describe(std::runtime_error("bad thing")).ClassName, "std::runtime_error");
    EXPECT_EQ(describe(std::runtime_error("bad thing")).Message, "bad thing");
    EXPECT_EQ(describe(42).ClassName, "Exception");
    EXPECT_EQ(describe(42).Message, "Unknown error");
}

}  // namespace
}  // namespace orv
