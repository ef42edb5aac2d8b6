// What the launcher needs of an embedded web browser: loading an address without the cache,
// reporting its own user agent and taking an extended one, and writing an HTML text into a blank
// document. The news panel is driven through this, whichever browser component stands behind it.
#pragma once

#include <string>

namespace orv {

class WebView {
public:
    virtual ~WebView() = default;

    // Loads `url`; with `bypassCache` the page is neither read from nor written to the cache.
    virtual void Navigate(const std::string& url, bool bypassCache) = 0;
    // Stops a page that is loading.
    virtual void Stop() = 0;
    // The browser's own user agent, without any text set through SetUserAgent.
    virtual std::string DefaultUserAgent() = 0;
    // The user agent the browser sends from now on.
    virtual void SetUserAgent(const std::string& userAgent) = 0;
    // Replaces the current document with `html` (UTF-8), written in one piece.
    virtual void WriteHtml(const std::string& html) = 0;
};

}  // namespace orv
