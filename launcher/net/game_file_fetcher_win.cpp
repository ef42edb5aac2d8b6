#include "launcher/net/game_file_fetcher_win.h"

#include <utility>

#include "launcher/net/download_body_win.h"
#include "launcher/net/download_limit.h"
#include "launcher/net/resume_rules.h"
#include "launcher/net/wininet_fetcher_win.h"

namespace orv {
namespace {

// DownloadFile's own agent, which the checklist has always been fetched with.
constexpr const char* kChecklistAgent = "Updater vtl";

WinInetFetcherOptions OptionsFor(std::string agent, const RunNetworkLimits& limits) {
    WinInetFetcherOptions options;
    options.agent = std::move(agent);
    options.anyStatus = true;
    options.connectMs = limits.connectMs;
    options.receiveMs = limits.receiveMs;
    // Taken when the connection is made: a cap set at start-up holds for every run.
    options.limiter = LauncherDownloadLimiter();
    return options;
}

RetryPolicy PolicyFor(const RunNetworkLimits& limits) {
    RetryPolicy policy;
    if (!limits.waits.empty()) policy.waits = limits.waits;
    return policy;
}

}  // namespace

std::unique_ptr<Fetcher> NewGameFileFetcher(const RunNetworkLimits& limits, RetryNotify notify) {
    RetryPolicy policy = PolicyFor(limits);
    policy.keepPartialFrom = kKeepPartialFromBytes;
    return NewResumingFetcher(NewWinInetPartFetcher(OptionsFor(download_detail::GameAgent(), limits)),
                              std::move(policy), std::move(notify));
}

std::unique_ptr<Fetcher> NewChecklistFetcher(const RunNetworkLimits& limits, RetryNotify notify) {
    RetryPolicy policy = PolicyFor(limits);
    policy.resume = false;
    policy.keepPartialFrom = -1;
    return NewResumingFetcher(NewWinInetPartFetcher(OptionsFor(kChecklistAgent, limits)), std::move(policy),
                              std::move(notify));
}

std::string DownloadErrorMessage(uint32_t code) { return download_detail::InternetErrorMessage(code); }

}  // namespace orv
