#include "launcher/news_page.h"

#include <string_view>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"

namespace orv {
namespace {

// Texts and the configured help address go into markup: characters that would end an element or
// an attribute are written as references.
std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c; break;
        }
    }
    return out;
}

}  // namespace

std::string UserAgentSuffix() { return std::string(" Orvanta ") + UserAgentVersion; }

std::string OfflineHelpBase() { return NewsSiteBase; }

std::string NewsAddress(const std::string& newsUrl, int uiLanguage) {
    if (uiLanguage == UiEnglish && newsUrl != BlankPageUrl) return newsUrl + "/en/";
    return newsUrl;
}

std::string OfflinePage(int uiLanguage) {
    const int language = uiLanguage == UiRussian ? UiRussian : UiEnglish;
    const auto text = [language](TextId id) { return Escaped(TextIn(id, language)); };
    const std::string help = OfflineHelpBase() + (language == UiRussian ? "offline/ru" : "offline/en");
    std::string page;
    page += "<html><head><meta charset=\"utf-8\"><title>" + text(TextId::OfflineTitle) + "</title></head>";
    page += "<body style=\"background-color:#121212; color=#939393; font-family: Arial,Helvetica; margin:20px;\">";
    page += "<h1 style=\"color: #E1E1E1; font-size: 26px; font-weight: normal\">" + text(TextId::OfflineHeading) + "</h1>";
    page += "<p style=\"line-height: 17px; margin-top:10px; color: #939393;\">" + text(TextId::OfflineText) + "</p>";
    page += "<a style=\"color: #0066cc\" href=\"" + Escaped(help) + "\" rel=\"external\" target=\"_blank\">" +
            text(TextId::OfflineDetails) + "</a>";
    page += "</body></html>";
    return page;
}

namespace {

void ShowOfflinePage(WebView& view) {
    view.Stop();
    view.WriteHtml(OfflinePage(UiLanguage));
}

}  // namespace

NewWindowAction NewWindowActionFor(const std::string& href, const std::string& rel) {
    if (rel != "external") return NewWindowAction::Default;
    // A page could mark a file:, javascript: or any other address as external; the shell would run
    // whatever it names.
    return IsWebAddress(href) ? NewWindowAction::OpenInShell : NewWindowAction::Refuse;
}

void LoadCatalogueNews(WebView& view) {
    view.Navigate(BlankPageUrl, false);
    view.SetUserAgent(view.DefaultUserAgent() + UserAgentSuffix());
    if (OfflineMode) return ShowOfflinePage(view);
    view.Navigate(NewsAddress(NewsUrl, UiLanguage), true);
}

void LoadNewsPage(WebView& view) {
    view.Navigate(BlankPageUrl, false);
    if (OfflineMode) return ShowOfflinePage(view);
    view.SetUserAgent(view.DefaultUserAgent() + UserAgentSuffix());
    view.Navigate(NewsAddress(NewsUrl, UiLanguage), true);
}

}  // namespace orv
