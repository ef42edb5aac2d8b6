// The news panel's page loading: the selected game's news page from the web (with the launcher's
// mark in the user agent, English pages under "/en/"), or, when the update server was unreachable
// at start-up, a built-in offline page in the interface language.
#pragma once

#include <string>

#include "launcher/net/server_paths.h"
#include "launcher/ui/web_view.h"

namespace orv {

inline constexpr const char* BlankPageUrl = "about:blank";

// " Orvanta " + UserAgentVersion: appended to the browser's own user agent.
std::string UserAgentSuffix();

// Where the maker's offline help lives (scheme, host and first path segment, ending with "/").
std::string OfflineHelpBase();

// The news address for an interface language: `newsUrl` + "/en/" for English (1), unless the
// address is the blank page; unchanged otherwise.
std::string NewsAddress(const std::string& newsUrl, int uiLanguage);

// The built-in offline page of an interface language (Russian for 0, English otherwise), in one
// piece without line breaks.
std::string OfflinePage(int uiLanguage);

// Loads the panel for the current UiLanguage: blank first; then, in OfflineMode, the offline page
// written into it; otherwise the user agent extended and NewsUrl loaded past the cache.
void LoadNewsPage(WebView& view);

// The catalogue reading's variant: blank first and the user agent extended in either mode, then
// the offline page (OfflineMode) or NewsUrl past the cache.
void LoadCatalogueNews(WebView& view);

// What becomes of a new window that a link of the news page asks for.
enum class NewWindowAction {
    Default,    // the browser opens its own new window
    OpenInShell,  // cancelled; the address goes to the system's default browser
    Refuse,     // cancelled and nothing opened: an external link whose address is no web address
};

// Links whose "rel" is exactly "external" (case-sensitive, the whole value) leave the panel for
// the default browser; only http:// and https:// addresses may reach the shell.
NewWindowAction NewWindowActionFor(const std::string& href, const std::string& rel);

}  // namespace orv
