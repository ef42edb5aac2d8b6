#include "launcher/net/game_file_fetcher_win.h"

#include "launcher/net/download_body_win.h"
#include "launcher/net/wininet_fetcher_win.h"

namespace orv {

std::unique_ptr<Fetcher> NewGameFileFetcher() {
    WinInetFetcherOptions options;
    options.agent = download_detail::GameAgent();
    options.anyStatus = true;
    return NewWinInetFetcher(options);
}

std::string DownloadErrorMessage(uint32_t code) { return download_detail::InternetErrorMessage(code); }

}  // namespace orv
