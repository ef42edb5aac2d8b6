// A download thread's connection with a hook in front: the hook sees (and may change) the address
// and the target of every fetch, on the download thread. Whatever it does to a window it does
// through the GUI thread (RunOnGuiThreadAndWait, PostToGuiThread).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "launcher/integrity/check_run.h"
#include "launcher/net/fetcher.h"

namespace orv::test {

class HookedFetcher final : public Fetcher {
public:
    // Given the address and the target, gives the address to fetch.
    using Hook = std::function<std::string(const std::string& url, const std::string& path)>;
    HookedFetcher(std::unique_ptr<Fetcher> inner, Hook hook) : inner_(std::move(inner)), hook_(std::move(hook)) {}
    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        return inner_->Get(hook_(url, path), path, stop, progress);
    }
    FetchResult Head(const std::string& url) override { return inner_->Head(url); }

private:
    std::unique_ptr<Fetcher> inner_;
    Hook hook_;
};

inline void HookFetches(CheckRunPlatform& platform, HookedFetcher::Hook hook) {
    platform.engine.newFetcher = [inner = platform.engine.newFetcher, hook = std::move(hook)] {
        return std::unique_ptr<Fetcher>(new HookedFetcher(inner(), hook));
    };
}

// Runs `before(name)` on the run's thread as it starts to wait for the engine ("wait: check",
// "wait: download", "wait: unpack"), then the wait.
inline void HookWaits(CheckRunPlatform& platform, std::function<void(const std::string& name)> before) {
    platform.timed = [before = std::move(before)](const char* name, const std::function<void()>& work) {
        before(name);
        work();
    };
}

}  // namespace orv::test
