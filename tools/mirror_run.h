// The run of "orvanta-tool mirror" as its parts share it: the walk of the builds and the fetch of
// their files (mirror.cpp) and of the chunk store (mirror_chunks.cpp). Not for other callers:
// RunMirror (mirror.h) is the way in.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "launcher/catalogue.h"
#include "launcher/integrity/chunk_index.h"
#include "launcher/integrity/statement.h"
#include "launcher/net/fetcher.h"
#include "launcher/net/rate_limit.h"
#include "tools/check_trust.h"
#include "tools/mirror.h"

namespace orv::mirror {

// The small resources: a catalogue far beyond any real one is a hostile server.
inline constexpr uint64_t kMostSmallFile = 256ull << 20;

DiskFile Probe(const std::string& path);
std::string ParentOf(const std::string& path);

struct Job {
    size_t build = 0;
    std::string path;  // below the mirror folder
    std::string url;
    ListedFile listed;
    Decision decision = Decision::Fetch;
    bool chunk = false;  // of the chunk store: `indexed` says what it must hold
    IndexedChunk indexed;
};

// A build as the run handles it.
struct Build {
    std::string checklist;
    std::string downloadAddress;
    std::string staging;  // its staged small files
    bool failed = false;
    bool hasStatement = false;
    bool hasHashList = false;
    Statement statement;  // keyed: the checklist's, proved
    std::optional<ChunkIndex> chunks;
};

class MirrorRun {
public:
    MirrorRun(const MirrorOptions& o, const CheckPlatform& platform, MirrorSink& sink, const std::atomic<bool>& stop)
        : o_(o), platform_(platform), sink_(sink), stop_(stop) {
        if (o.rateLimit) limits_.rate = std::make_shared<RateLimiter>(o.rateLimit);
        limits_.receiveMs = o.receiveTimeLimitMs;
    }

    MirrorSummary Run();

private:
    std::string Dir(const std::string& relative) const { return o_.to + "/" + relative; }
    std::unique_ptr<Fetcher> NewFetcher(bool large) const;
    // A small resource into `path`: false when the server has none (404); raises Error otherwise.
    bool FetchSmall(const std::string& relative, const std::string& path, bool required,
                    uint64_t most = kMostSmallFile);
    check::TrustAnchor Anchor() const;
    check::ServerFileSource Source();
    void ReadCatalogue();
    void Choose(const Catalogue& catalogue);
    void WalkBuild(size_t index);
    void StageChecklist(Build& build);
    void StageChunkIndex(Build& build);
    void SubmitChunks(size_t index);
    void WorkChunk(const Job& job, Fetcher& fetcher);
    void FailBuildsOfFailedChunks();
    void AddLeavingChunks(std::vector<std::string>& leaving, const std::vector<std::string>& candidates);
    void Submit(Job job);
    void Worker();
    void Work(const Job& job, Fetcher& fetcher);
    void Emit(const MirrorEvent& event);
    void Fail(size_t build, const std::string& path, const std::string& why);
    void Record(const std::string& path, MirrorRecord record);
    void SaveState(bool force);
    void PlaceStaged(const std::string& staged, const std::string& relative, const std::string& owner);
    void PlaceOptional(const std::string& staged, bool present, const std::string& relative, const std::string& owner);
    void PlaceChecklists(const PlacementPlan& plan);
    void Finish();
    void StageRelease(std::vector<std::pair<std::string, std::string>>& place);
    void RemoveLeftovers();
    void Prune(std::string relative);

    const MirrorOptions& o_;
    const CheckPlatform& platform_;
    MirrorSink& sink_;
    const std::atomic<bool>& stop_;
    check::ConnectionLimits limits_;

    std::string staging_;
    std::string catalogueFile_;
    bool catalogueSigned_ = false;
    Statement catalogueStatement_;  // keyed
    std::set<std::string> catalogueChecklists_;  // every build's, chosen or not
    std::vector<Build> builds_;
    std::set<std::string> wanted_;  // every path this run means the mirror to hold
    std::set<std::string> resources_;  // the server's small resources placed or kept this run
    std::set<std::string> failedChunks_;

    std::mutex mutex_;  // summary_, state_, sink_, builds_[].failed
    MirrorSummary summary_;
    MirrorState state_;
    bool stateChanged_ = false;
    std::chrono::steady_clock::time_point lastSave_ = std::chrono::steady_clock::now();

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<Job> queue_;
    bool closed_ = false;
};

}  // namespace orv::mirror
