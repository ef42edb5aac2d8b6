// The run of "orvanta-tool check". The main thread streams the checklist, does what must happen
// in list order (refusals, folders, empty files) and hands file entries to the check engine
// (check_engine.h), whose threads check them and fetch, unpack and put in place the ones that
// differ, each fetching thread over its own keep-alive connection; it takes the results in list
// order and reports them. Counters are all that is kept of the results.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "launcher/base/errors.h"
#include "launcher/catalogue.h"
#include "launcher/integrity/check_engine.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/checklist_trust.h"
#include "launcher/integrity/chunking.h"
#include "launcher/integrity/run_chunks.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/folder_fetcher.h"
#include "launcher/net/resume_rules.h"
#include "launcher/net/resuming_fetcher.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "tools/check.h"
#include "tools/check_trust.h"
#include "tools/positive_number.h"
#include "tools/publish.h"

namespace orv::check {
namespace {

// Jobs held by the engine: a few hundred bytes each, so memory stays put however long the checklist
// is, and wide enough that the download threads find files to fetch where few files differ.
constexpr size_t kJobsHeld = 1024;

// The address a server folder's files are asked for by when its chunk store is read where it lies.
constexpr const char* kRootAddress = "http://server-root.invalid/";

// A file entry handed to the engine, as the report names it.
struct PendingJob {
    uint64_t id = 0;
    std::string path;  // the checklist's
    int32_t size = 0;
    std::string source;
    std::string copySource;  // in the source folder
};

class Engine {
public:
    Engine(const CheckOptions& options, const CheckPlatform& platform, CheckSink& sink, const std::atomic<bool>& stop)
        : o_(options), platform_(platform), sink_(sink), interrupt_(stop),
          jobs_(options.jobs ? options.jobs
                             : std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(MostThreads))),
          connections_(options.connections ? options.connections : DefaultConnections) {
        if (options.rateLimit) limits_.rate = std::make_shared<RateLimiter>(options.rateLimit);
        limits_.receiveMs = options.receiveTimeLimitMs;
    }

    CheckSummary Run();

private:
    bool Halted() const { return interrupt_ || abort_; }
    bool FromRoot() const { return !o_.serverRoot.empty(); }
    bool Keyed() const { return o_.publicKey.has_value(); }
    // A file below the server root ("/"-separated relative path).
    std::string RootFile(const std::string& relative) const { return o_.serverRoot + "/" + relative; }
    // A connection for the server's small files (catalogue, checklists, statements, hash lists),
    // or for game files, whose large partial downloads are kept for a later run.
    enum class Downloads { Small, GameFiles };
    std::unique_ptr<Fetcher> NewFetcher(Downloads kind) const;
    // Fetches a resource of the server into `path`; raises Error naming it.
    void FetchResource(const std::string& url, const std::string& path);
    void ReadCatalogue(const std::string& temporary);
    // The server's file at `relative` on this machine, no larger than `most` (ServerFileSource).
    std::string ServerFile(const std::string& relative, const std::string& temporary, uint64_t most);
    ServerFileSource Source() {
        return [this](const std::string& r, const std::string& t, uint64_t most) { return ServerFile(r, t, most); };
    }
    TrustAnchor Anchor() const;
    // Keyed --verify-server: every checklist the catalogue's statement pins, and the installer.
    void VerifyServerStatements(const std::string& temporary);
    // The hash list's line for the checklist's entry `index`, in step with the checklist.
    Sha256Digest NextHash(HashListReader& hashes, const ChecklistEntry& entry, uint64_t index);
    // After `entries` lines: the checklist, its statement and its hash list agree on the count.
    void EndOfHashList(HashListReader& hashes, uint64_t entries);
    // The whole hash list against the checklist, before the walk: a signed list that does not go
    // in step with its checklist ends the run before the game folder is touched.
    void ProveHashList(const std::string& checklist);
    std::string FileSource(const std::string& entryPath) const;
    // The run's chunk index, for a repair of a build that may be published in chunks.
    void PrepareChunks(const std::string& temporary);
    // What the chunk path did for a job, into its event.
    static void AddChunkPath(CheckEvent& event, const JobStatus& status);

    void Emit(CheckEvent event);
    void Count(uint64_t CheckSummary::*field) {
        std::lock_guard lock(mutex_);
        ++(summary_.*field);
    }
    void Walk(const std::string& checklist);
    void Folder(const ChecklistEntry& entry, const std::string& placePath);
    void EmptyFile(const ChecklistEntry& entry, const std::string& placePath);
    CheckEngine NewEngine();
    // Reports the oldest job's results once they are known.
    void Consume(CheckEngine& engine, const PendingJob& job);
    void ConsumeServerCheck(const PendingJob& job, const JobStatus& status);
    void ConsumeRepair(const PendingJob& job, const JobStatus& status);

    const CheckOptions& o_;
    const CheckPlatform& platform_;
    CheckSink& sink_;
    const std::atomic<bool>& interrupt_;
    std::atomic<bool> abort_{false};
    const unsigned jobs_, connections_;
    ConnectionLimits limits_;

    std::mutex mutex_;  // guards summary_ and the sink
    CheckSummary summary_;
    std::string downloadAddress_;  // as the catalogue gives it
    std::string fileBase_;         // where files are read from: an address, or a path below the root
    std::string checklistName_;
    // Keyed: what the statements vouch for.
    Statement catalogueStatement_;
    std::string hashList_;
    uint64_t signedEntries_ = 0;
    Statement checklistStatement_;
    std::shared_ptr<RunChunks> chunks_;
    // --verify-server, keyed: server files that unpack to the listed size and CRC-32 but another
    // SHA-256 (their sources).
    std::mutex otherHashMutex_;
    std::set<std::string> otherHash_;
};

void Engine::Emit(CheckEvent event) {
    std::lock_guard lock(mutex_);
    switch (event.kind) {
    case EventKind::Checked: ++summary_.checked; break;
    case EventKind::Bad: ++summary_.bad; break;
    case EventKind::Repaired:
        ++summary_.repaired;
        if (event.copied) {
            ++summary_.copied;
            summary_.bytesCopied += static_cast<uint64_t>(std::max<int64_t>(event.bytes, 0));
        } else if (event.bytes > 0) {
            summary_.bytesFetched += static_cast<uint64_t>(event.bytes);
        }
        break;
    case EventKind::RepairFailed: ++summary_.failed; break;
    case EventKind::Refused: ++summary_.refused; break;
    case EventKind::WouldFetch:
        ++summary_.toFetch;
        if (event.bytes >= 0) summary_.bytesToFetch += static_cast<uint64_t>(event.bytes);
        else ++summary_.unknownSizes;
        break;
    case EventKind::WouldCopy:
        ++summary_.copied;
        summary_.bytesCopied += static_cast<uint64_t>(std::max<int64_t>(event.bytes, 0));
        break;
    }
    if (event.chunkTried) {
        if (event.fromChunks) ++summary_.fromChunks;
        else ++summary_.chunkFallbacks;
        summary_.chunkBytesReused += event.chunkBytesReused;
        summary_.chunkBytesFetched += event.chunkBytesFetched;
        summary_.chunksFetched += event.chunksFetched;
    }
    const bool fileChecked = (event.kind == EventKind::Checked || event.kind == EventKind::Bad) && event.size >= 0;
    if (fileChecked) ++summary_.filesDone;
    sink_.Event(event, summary_);
    if (fileChecked) sink_.Progress(summary_);
}

std::unique_ptr<Fetcher> Engine::NewFetcher(Downloads kind) const {
    if (platform_.newFetcher) return platform_.newFetcher();
    RetryPolicy policy;
    if (kind == Downloads::GameFiles) {
        policy.keepPartialFrom = kKeepPartialFromBytes;
    } else {
        // Small enough that starting again costs less than trusting a server's ranges.
        policy.resume = false;
        policy.keepPartialFrom = -1;
    }
    return NewResumingFetcher(platform_.newPartFetcher(limits_), std::move(policy));
}

void Engine::FetchResource(const std::string& url, const std::string& path) {
    const std::unique_ptr<Fetcher> fetcher = NewFetcher(Downloads::Small);
    const FetchResult result = fetcher->Get(url, path, interrupt_);
    if (!result.ok) throw Error("cannot fetch " + url + ": " + result.error);
}

std::string Engine::ServerFile(const std::string& relative, const std::string& temporary, uint64_t most) {
    if (FromRoot()) {
        const std::string path = RootFile(relative);
        if (!FileExists(path)) throw Error("no " + relative + " in " + o_.serverRoot);
        if (static_cast<uint64_t>(FileSize64(path)) > most)
            throw Error(path + " is larger than " + std::to_string(most) + " bytes: refused");
        return path;
    }
    const std::unique_ptr<Fetcher> fetcher = NewFetcher(Downloads::Small);
    FetchBounded(*fetcher, ServerUrl(relative, o_.server), temporary, most, interrupt_);
    return temporary;
}

TrustAnchor Engine::Anchor() const {
    TrustAnchor anchor;
    anchor.key = *o_.publicKey;
    anchor.game = o_.gameCode;
    anchor.minCatalogueVersion = o_.minCatalogueVersion;
    anchor.now = static_cast<int64_t>(std::time(nullptr));
    return anchor;
}

void Engine::ReadCatalogue(const std::string& temporary) {
    std::string cataloguePath;
    if (Keyed()) {
        catalogueStatement_ = TrustedCatalogue(Source(), Anchor(), temporary, cataloguePath);
        summary_.source = FromRoot() ? o_.serverRoot : o_.server;
    } else if (FromRoot()) {
        cataloguePath = RootFile(CataloguePath(o_.gameCode));
        if (!FileExists(cataloguePath)) throw Error("no catalogue at " + cataloguePath);
        summary_.source = o_.serverRoot;
    } else {
        cataloguePath = temporary + "/inf.ini";
        FetchResource(CatalogueUrl(o_.server, o_.gameCode), cataloguePath);
        summary_.source = o_.server;
    }
    const Catalogue catalogue = Catalogue::Load(cataloguePath);
    const int games = catalogue.GameCount();
    int game = o_.gameNumber;
    if (!o_.gameName.empty()) {
        for (int g = 1; g <= games && game == 0; ++g)
            if (catalogue.GameName(g).Decoded(o_.codePage) == o_.gameName) game = g;
        if (game == 0) throw Error("the catalogue has no game \"" + o_.gameName + "\"");
    }
    if (game == 0) game = 1;
    if (game > games) throw Error("the catalogue lists " + std::to_string(games) + " games, not " + std::to_string(game));
    const int builds = catalogue.BuildCount(game);
    int build = o_.buildNumber;
    if (!o_.buildName.empty()) {
        for (int b = 1; b <= builds && build == 0; ++b)
            if (catalogue.BuildName(game, b).Decoded(o_.codePage) == o_.buildName) build = b;
        if (build == 0) throw Error("game " + std::to_string(game) + " has no build \"" + o_.buildName + "\"");
    }
    if (build == 0) build = 1;
    if (build > builds)
        throw Error("game " + std::to_string(game) + " lists " + std::to_string(builds) + " builds, not " +
                    std::to_string(build));
    summary_.gameNumber = game;
    summary_.buildNumber = build;
    summary_.game = catalogue.GameName(game).Decoded(o_.codePage);
    summary_.build = catalogue.BuildName(game, build).Decoded(o_.codePage);

    const CatalogueText checklist = catalogue.ChecklistName(game, build);
    const CatalogueText address = catalogue.DownloadAddress(game, build);
    if (!checklist.stored || !address.stored)
        throw Error("build " + std::to_string(build) + " of game " + std::to_string(game) +
                    " has no checklist name or download address in the catalogue");
    checklistName_ = checklist.Decoded(o_.codePage);
    summary_.checklist = checklistName_;
    downloadAddress_ = address.Decoded(o_.codePage);
    const std::optional<int32_t> count = ParseInt32Decimal(catalogue.FileCountText(game, build).Decoded(o_.codePage));
    summary_.listed = count.value_or(0);

    const std::optional<std::string> below = DownloadPathOf(downloadAddress_, o_.serverBase);
    if (below && !IsDownloadPathBelowBase(*below))
        throw Error("the download address " + downloadAddress_ + " leaves " + o_.serverBase +
                    (FromRoot() ? " and the server root" : ""));
    if (FromRoot()) {
        if (!below)
            throw Error("the download address " + downloadAddress_ + " does not lie below " + o_.serverBase +
                        ": give the address the catalogue was published for with --server-base");
        fileBase_ = *below;
    } else {
        fileBase_ = below ? DownloadAddress(*below, o_.server) : downloadAddress_;
    }
}

std::string Engine::FileSource(const std::string& entryPath) const {
    if (FromRoot()) return RootFile(GameFileUrl(fileBase_, entryPath));
    return EncodeUrlTail(GameFileUrl(fileBase_, entryPath), fileBase_.size());
}

CheckSummary Engine::Run() {
    const auto started = std::chrono::steady_clock::now();
    const std::string temporary = platform_.temporaryFolder();
    struct RemoveTemporary {
        std::string path;
        ~RemoveTemporary() {
            std::error_code ec;
            std::filesystem::remove_all(publish::ToFsPath(path), ec);
        }
    } removeTemporary{temporary};

    if (!o_.verifyServer && !DirectoryExists(o_.gameDir)) throw Error("no game folder " + o_.gameDir);
    if (!o_.sourceDir.empty() && !DirectoryExists(o_.sourceDir)) throw Error("no source folder " + o_.sourceDir);
    summary_.sourceDir = o_.sourceDir;
    summary_.dryRun = o_.dryRun;
    ReadCatalogue(temporary);
    if (checklistName_.find_first_of("/\\") != std::string::npos)
        throw Error("the checklist name \"" + checklistName_ + "\" is not a file name");

    const std::string packed = temporary + "/checklist.dim.lzma";
    const std::string checklist = temporary + "/checklist.dim";
    std::string packedSource = packed;
    if (Keyed()) {
        TrustedChecklist trusted = TrustChecklist(Source(), Anchor(), checklistName_,
                                                  PinnedVersion(catalogueStatement_, checklistName_), temporary);
        packedSource = trusted.packed;
        hashList_ = trusted.hashList;
        signedEntries_ = trusted.statement.entries;
        checklistStatement_ = trusted.statement;
        if (o_.verifyServer) VerifyServerStatements(temporary);
    } else if (FromRoot()) {
        packedSource = RootFile(ChecklistPath(checklistName_, o_.gameCode));
        if (!FileExists(packedSource)) throw Error("no checklist at " + packedSource);
    } else {
        FetchResource(ChecklistUrl(checklistName_, o_.server, o_.gameCode), packed);
    }
    if (interrupt_) {
        summary_.interrupted = true;
        return summary_;
    }
    bool unpacked = false;
    try {
        unpacked = TLZMAAlone().Main(packedSource, checklist, "d");
    } catch (const std::exception&) {
        unpacked = false;
    }
    if (!unpacked) throw Error("the checklist " + checklistName_ + ".dim.lzma does not unpack");
    RemoveFile(packed);
    if (Keyed()) ProveHashList(checklist);
    if (o_.repair && !o_.dryRun && !o_.verifyServer && o_.chunks) PrepareChunks(temporary);
    sink_.Started(summary_);

    Walk(checklist);
    summary_.interrupted = interrupt_.load();
    summary_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary_;
}

void Engine::PrepareChunks(const std::string& temporary) {
    ChunkIndexSource source;
    source.path = temporary + "/checklist.dim.chunks";
    source.keyed = Keyed();
    source.sha256 = checklistStatement_.chunksSha256;
    source.size = checklistStatement_.chunksSize;
    if (FromRoot()) {
        // The store is read where it lies, as a server would serve it.
        const std::string root = o_.serverRoot;
        source.newFetcher = [root] { return NewFolderFetcher(root, kRootAddress); };
        source.storeBase = kRootAddress;
    } else {
        // The chunks come from where the checklist came from: a mirror serves its own store.
        source.storeBase = o_.server;
    }
    source.url = ChunkIndexUrl(checklistName_, source.storeBase, o_.gameCode);
    chunks_ = std::make_shared<RunChunks>(std::move(source));
}

void Engine::AddChunkPath(CheckEvent& event, const JobStatus& status) {
    const ChunkPathStatus& path = status.chunkPath;
    if (!path.tried) return;
    event.chunkTried = true;
    event.fromChunks = path.taken;
    event.chunkFallback = path.fallback;
    event.chunkBytesReused = path.bytesReused;
    event.chunkBytesFetched = path.bytesFetched;
    event.chunksFetched = path.chunksFetched;
}

void Engine::VerifyServerStatements(const std::string& temporary) {
    for (const StatementPin& pin : catalogueStatement_.pins) {
        if (pin.checklist == checklistName_) continue;
        if (pin.checklist.find_first_of("/\\") != std::string::npos)
            throw Error("the catalogue's statement pins \"" + pin.checklist + "\", which is not a file name");
        TrustChecklist(Source(), Anchor(), pin.checklist, pin.version, temporary);
    }
    VerifyServerInstaller(o_.serverRoot, Anchor());
}

Sha256Digest Engine::NextHash(HashListReader& hashes, const ChecklistEntry& entry, uint64_t index) {
    if (index >= signedEntries_)
        throw Error("the checklist " + checklistName_ + " has more entries than its statement counts (" +
                    std::to_string(signedEntries_) + ")");
    const std::optional<HashListEntry> line = hashes.Next();
    if (const TrustResult matched = MatchHashLine(entry, line, index); !matched)
        throw Error("the hash list of " + checklistName_ + " does not hold: " + matched.detail);
    return line->sha256;
}

void Engine::EndOfHashList(HashListReader& hashes, uint64_t entries) {
    if (entries != signedEntries_ || !hashes.AtEnd())
        throw Error("the checklist " + checklistName_ + " has " + std::to_string(entries) +
                    " entries, its statement and hash list " + std::to_string(signedEntries_));
}

// The launcher's rule, before anything in the game folder is touched: a list that breaks off
// halfway must not leave half a repair behind.
void Engine::ProveHashList(const std::string& checklist) {
    const TrustResult proved = CheckHashListInStep(ChecklistReader::Stream(checklist, o_.codePage),
                                                   HashListReader::Open(hashList_), signedEntries_);
    if (!proved) throw Error("the hash list of " + checklistName_ + " does not hold: " + proved.detail);
}

CheckEngine Engine::NewEngine() {
    const bool repairs = (o_.repair || o_.dryRun) && !o_.verifyServer;
    EngineOptions options;
    options.checkers = jobs_;
    options.fetchers = repairs ? connections_ : 0;
    options.unpackers = connections_;
    options.window = kJobsHeld;
    options.fetchAhead = connections_ * 4;
    options.headOnly = o_.dryRun;
    options.replace = true;
    EnginePlatform engine;
    if (!FromRoot()) engine.newFetcher = [this] { return NewFetcher(Downloads::GameFiles); };
    engine.replaceFile = platform_.replaceFile;
    engine.makeNormal = platform_.makeNormal;
    if (o_.verifyServer) {
        // The server's file is what is checked: it must unpack to the listed content.
        engine.check = [this](const EngineJob& job, const std::atomic<bool>& stop, std::vector<char>&) {
            FileCheck check;
            if (!FileExists(job.localSource)) return check;  // Missing
            const PackedContent content =
                ReadPackedContent(job.localSource, [&] { return stop || abort_; }, job.sha256.has_value());
            if (content.stopped) {
                check.state = FileState::Stopped;
                return check;
            }
            check.bytesRead = content.size;
            if (!content.decoded) check.state = FileState::Unreadable;
            else if (content.size != static_cast<uint64_t>(job.size)) check.state = FileState::OtherSize;
            else if (Crc32Text(content.crc32) != job.crcText) check.state = FileState::OtherCrc;
            else check.state = FileState::Good;
            if (check.state == FileState::Good && content.sha256 && *content.sha256 != *job.sha256) {
                std::lock_guard lock(otherHashMutex_);
                otherHash_.insert(job.localSource);
            }
            return check;
        };
    }
    return CheckEngine(options, engine);
}

void Engine::Walk(const std::string& checklist) {
    ChecklistReader reader = ChecklistReader::Stream(checklist, o_.codePage);
    CheckEngine engine = NewEngine();
    std::deque<PendingJob> pending;
    std::optional<HashListReader> hashes;
    if (Keyed()) hashes.emplace(HashListReader::Open(hashList_));
    uint64_t index = 0;
    uint64_t entryNumber = 0;  // counting every entry, as the chunk index does
    const auto consumeOldest = [&] {
        const PendingJob job = std::move(pending.front());
        pending.pop_front();
        Consume(engine, job);
        engine.Release(job.id);
    };
    try {
        while (!interrupt_ && !reader.AtEnd()) {
            const ChecklistEntry entry = reader.Next();
            const uint64_t number = entryNumber++;
            Count(&CheckSummary::entries);
            if (entry.sizeText != "0" && !entry.size) throw Error(ConversionErrorText(entry.sizeText));
            // Every entry has its line, refused ones and folders included, so that the two stay in step.
            std::optional<Sha256Digest> sha256;
            if (hashes) sha256 = NextHash(*hashes, entry, index++);
            const EntryTarget target = ResolveEntry(entry);
            if (target.kind == TargetKind::Refused) {
                Emit({EventKind::Refused, entry.path, "outside the game folder", "", -1, -1});
                continue;
            }
            if (target.kind == TargetKind::GameRoot || target.kind == TargetKind::Folder) {
                Count(&CheckSummary::folders);
                // The game folder itself is there: the check runs in it. A folder is made before
                // the engine fetches anything inside it: the list names it first.
                if (target.kind == TargetKind::Folder && !o_.verifyServer) Folder(entry, target.path);
                continue;
            }
            Count(&CheckSummary::files);
            if (entry.IsEmptyFile()) {
                if (o_.verifyServer)
                    Emit({EventKind::Checked, entry.path, "", "", 0, -1});
                else
                    EmptyFile(entry, target.path);
                continue;
            }
            while (!engine.HasRoom() && !interrupt_) consumeOldest();
            EngineJob job;
            job.place = o_.verifyServer ? std::string() : EntryPlace(o_.gameDir, target.path);
            job.size = *entry.size;
            job.crcText = entry.crcText;
            job.sha256 = sha256;
            const std::string source = FileSource(entry.path);
            if (FromRoot() || o_.verifyServer) job.localSource = source;
            else job.url = source;
            if (o_.verifyServer) job.place = source;  // nothing is written beside it: no fetching
            // The same entry rules as in the game folder: nothing outside the source folder is read.
            if (!o_.sourceDir.empty()) job.copySource = EntryPlace(o_.sourceDir, target.path);
            if (chunks_ && static_cast<uint64_t>(job.size) >= kChunkedFileMinSize) {
                chunks_->NotePlace(number, job.place);
                job.chunks = chunks_;
                job.entry = number;
            }
            std::string copySource = job.copySource;
            const uint64_t id = engine.Submit(std::move(job));
            pending.push_back(PendingJob{id, entry.path, *entry.size, source, std::move(copySource)});
        }
        if (hashes && !interrupt_) EndOfHashList(*hashes, index);
        while (!pending.empty() && !interrupt_) consumeOldest();
    } catch (...) {
        abort_ = true;
        throw;
    }
}

void Engine::Consume(CheckEngine& engine, const PendingJob& job) {
    const auto goOn = [this] { return !interrupt_; };
    if (!engine.Wait(job.id, JobStage::Checked, goOn)) return;
    JobStatus status = engine.Status(job.id);
    {
        std::lock_guard lock(mutex_);
        summary_.bytesChecked += status.check.bytesRead;
    }
    if (status.check.state == FileState::Stopped) return;
    if (o_.verifyServer) return ConsumeServerCheck(job, status);
    if (status.check.state == FileState::Good) {
        Emit({EventKind::Checked, job.path, "", "", job.size, -1});
        return;
    }
    Emit({EventKind::Bad, job.path, FileStateReason(status.check.state), "", job.size, -1});
    if (!o_.repair && !o_.dryRun) return;
    if (!engine.Wait(job.id, JobStage::Replaced, goOn)) return;
    ConsumeRepair(job, engine.Status(job.id));
}

void Engine::ConsumeServerCheck(const PendingJob& job, const JobStatus& status) {
    const char* reason = nullptr;
    switch (status.check.state) {
    case FileState::Missing:
        Emit({EventKind::Bad, job.path, "missing on the server", job.source, job.size, -1});
        return;
    case FileState::Unreadable: reason = "does not unpack"; break;
    case FileState::OtherSize: reason = "unpacks to another size"; break;
    case FileState::OtherCrc: reason = "unpacks to another CRC-32"; break;
    case FileState::Good: {
        std::lock_guard lock(otherHashMutex_);
        if (otherHash_.erase(job.source)) reason = "unpacks to another SHA-256";
        break;
    }
    default: break;
    }
    Emit({reason ? EventKind::Bad : EventKind::Checked, job.path, reason ? reason : "", job.source, job.size,
          FileSize64(job.source)});
}

void Engine::ConsumeRepair(const PendingJob& job, const JobStatus& status) {
    const FetchResult& fetch = status.fetch;
    if (status.copied) {
        CheckEvent event{o_.dryRun ? EventKind::WouldCopy : EventKind::Repaired, job.path, "", job.copySource,
                         job.size, static_cast<int64_t>(status.unpack.bytes), true};
        if (!o_.dryRun && !status.replaceOk) {
            if (!status.replaced) return;  // interrupted before
            event = {EventKind::RepairFailed, job.path, "cannot replace the file", job.copySource, job.size, -1, true};
        }
        Emit(std::move(event));
        return;
    }
    if (o_.dryRun) {
        const bool found = FromRoot() ? fetch.ok : fetch.status == 200;
        if (!found) {
            const std::string why = fetch.error.empty() ? "HTTP status " + std::to_string(fetch.status) : fetch.error;
            Emit({EventKind::RepairFailed, job.path, why, job.source, job.size, -1});
            return;
        }
        Emit({EventKind::WouldFetch, job.path, "", job.source, job.size, fetch.length});
        return;
    }
    if (!fetch.ok) {
        if (interrupt_ || fetch.stopped) return;
        CheckEvent event{EventKind::RepairFailed, job.path, fetch.error, job.source, job.size, -1};
        AddChunkPath(event, status);
        Emit(std::move(event));
        return;
    }
    // The new content was checked against the list before it took the file's place, so that a
    // server file that does not match never replaces anything.
    std::string failure;
    switch (status.unpack.state) {
    case UnpackState::Unpacked:
        if (!status.replaceOk) failure = "cannot replace the file";
        break;
    case UnpackState::NotUnpacked: failure = "does not unpack"; break;
    case UnpackState::OtherContent: failure = "the server's file unpacks to another size or CRC-32"; break;
    // The word scripts match, as for the check's own reasons ("crc", "size").
    case UnpackState::OtherHash: failure = "sha256"; break;
    case UnpackState::FileError: failure = status.unpack.error; break;
    case UnpackState::Stopped: return;
    }
    if (status.unpack.state == UnpackState::Unpacked && !status.replaced) return;  // interrupted before
    if (!failure.empty() && interrupt_) return;
    CheckEvent event = failure.empty() ? CheckEvent{EventKind::Repaired, job.path, "", job.source, job.size, status.received}
                                       : CheckEvent{EventKind::RepairFailed, job.path, failure, job.source, job.size, -1};
    AddChunkPath(event, status);
    // Built from chunks: what came over the network is the chunks' packed bytes.
    if (event.fromChunks && failure.empty()) event.bytes = static_cast<int64_t>(event.chunkBytesFetched);
    Emit(std::move(event));
}

void Engine::Folder(const ChecklistEntry& entry, const std::string& placePath) {
    const std::string folder = EntryPlace(o_.gameDir, placePath);
    if (DirectoryExists(folder)) return;
    Emit({EventKind::Bad, entry.path, "missing folder", "", -1, -1});
    if (!o_.repair || o_.dryRun) return;
    platform_.createFolder(folder);
    if (DirectoryExists(folder))
        Emit({EventKind::Repaired, entry.path, "", "", -1, 0});
    else
        Emit({EventKind::RepairFailed, entry.path, "cannot create the folder", "", -1, -1});
}

void Engine::EmptyFile(const ChecklistEntry& entry, const std::string& placePath) {
    const std::string place = EntryPlace(o_.gameDir, placePath);
    if (FileExists(place) && FileSize64(place) == 0) {
        Emit({EventKind::Checked, entry.path, "", "", 0, -1});
        return;
    }
    Emit({EventKind::Bad, entry.path, FileExists(place) ? "size" : "missing", "", 0, -1});
    if (!o_.repair || o_.dryRun) return;
    try {
        platform_.makeNormal(place);
        CreateEmptyFile(place);
        Emit({EventKind::Repaired, entry.path, "", "", 0, 0});
    } catch (const std::exception& e) {
        Emit({EventKind::RepairFailed, entry.path, e.what(), "", 0, -1});
    }
}

}  // namespace

std::string EncodeUrlTail(const std::string& url, size_t from) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out = url.substr(0, from);
    for (size_t i = from; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (c <= 0x20 || c >= 0x7F || std::string_view("\"#%<>[]^`{|}?").find(static_cast<char>(c)) != std::string_view::npos) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

CheckSummary RunCheck(const CheckOptions& options, const CheckPlatform& platform, CheckSink& sink,
                      const std::atomic<bool>& stop) {
    Engine engine(options, platform, sink, stop);
    return engine.Run();
}

}  // namespace orv::check
