// The news panel's stand-in until the browser control is embedded: a blank child window that
// takes every WebView call and keeps what it was asked last (address, user agent, document), so
// that the main window runs its whole page loading against it.
#pragma once

#include <string>

#include "launcher/ui/controls_win.h"
#include "launcher/ui/web_view.h"

namespace orv {

class WebPanel : public GraphicControl, public WebView {
public:
    WebPanel();
    ~WebPanel() override;

    void Create(const ControlInit& init) override;
    void PaintContent(HDC dc, const RECT& client) const override;

    void Navigate(const std::string& url, bool bypassCache) override;
    void Stop() override {}
    std::string DefaultUserAgent() override;
    void SetUserAgent(const std::string& userAgent) override { userAgent_ = userAgent; }
    void WriteHtml(const std::string& html) override { html_ = html; }

    const std::string& Url() const noexcept { return url_; }
    const std::string& UserAgent() const noexcept { return userAgent_; }
    // The document last written; emptied by a navigation.
    const std::string& Html() const noexcept { return html_; }

private:
    std::string url_;
    std::string userAgent_;
    std::string html_;
};

}  // namespace orv
