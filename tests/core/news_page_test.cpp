// The news panel's page loading against a web view that records every call: the offline page per
// language, the user agent extension and the English address rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/news_page.h"

namespace orv {
namespace {

class RecordingWebView : public WebView {
public:
    void Navigate(const std::string& url, bool bypassCache) override {
        calls.push_back("Navigate " + url + (bypassCache ? " nocache" : ""));
    }
    void Stop() override { calls.push_back("Stop"); }
    std::string DefaultUserAgent() override {
        calls.push_back("DefaultUserAgent");
        return "Mozilla/4.0 (compatible; MSIE 7.0)";
    }
    void SetUserAgent(const std::string& userAgent) override { calls.push_back("SetUserAgent " + userAgent); }
    void WriteHtml(const std::string& html) override { calls.push_back("WriteHtml " + html); }

    std::vector<std::string> calls;
};

class NewsPageTest : public ::testing::Test {
protected:
    void TearDown() override {
        UiLanguage = UiRussian;
        OfflineMode = false;
        NewsUrl = "about:blank";
    }
};

TEST_F(NewsPageTest, EnglishAddressesGetEnUnlessBlank) {
    EXPECT_EQ(NewsAddress("http://example.org/news", UiEnglish), "http://example.org/news/en/");
    EXPECT_EQ(NewsAddress("about:blank", UiEnglish), "about:blank");
    EXPECT_EQ(NewsAddress("http://example.org/news", UiRussian), "http://example.org/news");
    // Only the exact blank address is left alone.
    EXPECT_EQ(NewsAddress("About:Blank", UiEnglish), "About:Blank/en/");
    EXPECT_EQ(NewsAddress("", UiEnglish), "/en/");
}

TEST_F(NewsPageTest, OfflinePagesAreOnePieceWithTheirLanguagesTexts) {
    const std::string help = NewsSiteBase;
    const std::string common =
        "<body style=\"background-color:#121212; color=#939393; font-family: Arial,Helvetica; margin:20px;\">"
        "<h1 style=\"color: #E1E1E1; font-size: 26px; font-weight: normal\">";
    EXPECT_EQ(OfflinePage(UiRussian),
              "<html><head><meta charset=\"utf-8\"><title>Автономный режим Orvanta</title></head>" + common +
                  "Orvanta находится в автономном режиме</h1>"
                  "<p style=\"line-height: 17px; margin-top:10px; color: #939393;\">Невозможно подключиться к серверу. "
                  "Возможно, сервер отключен или у вас отсутствует подключение к интернету.</p>"
                  "<a style=\"color: #0066cc\" href=\"" +
                  help + "offline/ru\" rel=\"external\" target=\"_blank\">Подробности</a></body></html>");
    EXPECT_EQ(OfflinePage(UiEnglish),
              "<html><head><meta charset=\"utf-8\"><title>Orvanta is in Offline Mode</title></head>" + common +
                  "Orvanta is in Offline Mode</h1>"
                  "<p style=\"line-height: 17px; margin-top:10px; color: #939393;\">Unable to connect to server. "
                  "Server may be offline or you may not be connected to the internet.</p>"
                  "<a style=\"color: #0066cc\" href=\"" +
                  help + "offline/en\" rel=\"external\" target=\"_blank\">View details</a></body></html>");
    EXPECT_EQ(OfflinePage(UiRussian).find('\n'), std::string::npos);
    // The help address is the web site's base: scheme, host, first segment, a closing slash.
    EXPECT_EQ(OfflineHelpBase().rfind("http://", 0), 0u);
    EXPECT_EQ(OfflineHelpBase().back(), '/');
}

TEST_F(NewsPageTest, OfflineLoadingBlanksStopsAndWritesThePageOfTheLanguage) {
    OfflineMode = true;
    NewsUrl = "http://example.org/news";
    for (const int language : {UiRussian, UiEnglish}) {
        UiLanguage = language;
        RecordingWebView view;
        LoadNewsPage(view);
        const std::vector<std::string> expected = {"Navigate about:blank", "Stop", "WriteHtml " + OfflinePage(language)};
        EXPECT_EQ(view.calls, expected) << language;
    }
}

TEST_F(NewsPageTest, OnlineLoadingExtendsTheUserAgentAndLoadsPastTheCache) {
    NewsUrl = "http://example.org/cstrike/news";
    const std::string agent = "SetUserAgent Mozilla/4.0 (compatible; MSIE 7.0) Orvanta " + std::string(UserAgentVersion);

    RecordingWebView russian;
    LoadNewsPage(russian);
    EXPECT_EQ(russian.calls, (std::vector<std::string>{"Navigate about:blank", "DefaultUserAgent", agent,
                                                       "Navigate http://example.org/cstrike/news nocache"}));

    UiLanguage = UiEnglish;
    RecordingWebView english;
    LoadNewsPage(english);
    EXPECT_EQ(english.calls.back(), "Navigate http://example.org/cstrike/news/en/ nocache");

    NewsUrl = "about:blank";
    RecordingWebView blank;
    LoadNewsPage(blank);
    EXPECT_EQ(blank.calls.back(), "Navigate about:blank nocache");
    EXPECT_EQ(UserAgentSuffix(), std::string(" Orvanta ") + UserAgentVersion);
}

TEST_F(NewsPageTest, TheCatalogueReadingSetsTheUserAgentInBothModes) {
    NewsUrl = "http://example.org/cstrike/news";
    const std::string agent = "SetUserAgent Mozilla/4.0 (compatible; MSIE 7.0) Orvanta " + std::string(UserAgentVersion);
    for (const int language : {UiRussian, UiEnglish}) {
        UiLanguage = language;
        OfflineMode = true;
        RecordingWebView offline;
        LoadCatalogueNews(offline);
        EXPECT_EQ(offline.calls, (std::vector<std::string>{"Navigate about:blank", "DefaultUserAgent", agent, "Stop",
                                                           "WriteHtml " + OfflinePage(language)}))
            << language;
        OfflineMode = false;
        RecordingWebView online;
        LoadCatalogueNews(online);
        EXPECT_EQ(online.calls, (std::vector<std::string>{"Navigate about:blank", "DefaultUserAgent", agent,
                                                          "Navigate " + NewsAddress(NewsUrl, language) + " nocache"}))
            << language;
    }
}

TEST_F(NewsPageTest, OnlyExactlyExternalLinksWithWebAddressesLeaveForTheShell) {
    struct Case {
        const char* href;
        const char* rel;
        NewWindowAction action;
    };
    const Case cases[] = {
        {"http://example.org/offline/ru", "external", NewWindowAction::OpenInShell},
        {"https://example.org/a?b=c", "external", NewWindowAction::OpenInShell},
        {"HTTPS://example.org/", "external", NewWindowAction::OpenInShell},
        {"http://example.org/", "External", NewWindowAction::Default},
        {"http://example.org/", "external nofollow", NewWindowAction::Default},
        {"http://example.org/", " external", NewWindowAction::Default},
        {"http://example.org/", "", NewWindowAction::Default},  // no rel attribute
        {"", "", NewWindowAction::Default},                    // no active link at all
        // Marked external, but nothing the shell may be handed: the window is refused.
        {"file:///C:/Windows/System32/calc.exe", "external", NewWindowAction::Refuse},
        {"javascript:alert(1)", "external", NewWindowAction::Refuse},
        {"C:\\Windows\\notepad.exe", "external", NewWindowAction::Refuse},
        {"ftp://example.org/", "external", NewWindowAction::Refuse},
        {"http://", "external", NewWindowAction::Refuse},
        {"", "external", NewWindowAction::Refuse},
        {"httpx://example.org/", "external", NewWindowAction::Refuse},
    };
    for (const Case& c : cases) EXPECT_EQ(NewWindowActionFor(c.href, c.rel), c.action) << c.href << " rel=" << c.rel;
}

}  // namespace
}  // namespace orv
