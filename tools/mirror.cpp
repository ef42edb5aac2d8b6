// The run of "orvanta-tool mirror". The main thread reads the catalogue and streams each chosen
// build's checklist, deciding per file from the state file and the disk; files that need a look
// or a download go to a few worker threads over a bounded queue, each with its own keep-alive
// connection. Small resources are staged in a folder inside the mirror (so that placing them is
// a rename on one volume) and put in place only once every game file they name is there.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "launcher/base/errors.h"
#include "launcher/catalogue.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/checklist_trust.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/file_check.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/resume_rules.h"
#include "launcher/net/resuming_fetcher.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "launcher/selfupdate/hex.h"
#include "launcher/selfupdate/update_description.h"
#include "tools/check_trust.h"
#include "tools/mirror.h"
#include "tools/mirror_chunks.h"
#include "tools/mirror_run.h"
#include "tools/publish.h"
#include "tools/statement_signing.h"

namespace orv::mirror {
namespace {

// A checklist far beyond any real one is a hostile server.
constexpr uint64_t kMostChecklistBytes = 4ull << 30;
// Jobs waiting for a worker: enough to keep them busy, few enough that memory stays put.
constexpr size_t kQueued = 256;
// How often the state is written while files come in, so that a killed run loses little.
constexpr auto kSaveEvery = std::chrono::seconds(2);

int64_t ModificationTime(const std::string& path) {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(publish::ToFsPath(path), ec);
    return ec ? 0 : static_cast<int64_t>(time.time_since_epoch().count());
}

}  // namespace

DiskFile Probe(const std::string& path) {
    const FileProbe probe = ProbeFile(path);
    DiskFile disk;
    disk.exists = probe.exists;
    disk.size = probe.size;
    if (probe.exists) disk.mtime = ModificationTime(path);
    return disk;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

namespace {

// Unpacks a ".lzma" to nowhere: does it give the listed content?
std::string VerifyPacked(const std::string& path, const ListedFile& listed, std::string& sha256,
                         const std::atomic<bool>& stop) {
    const PackedContent content = ReadPackedContent(path, [&] { return stop.load(); }, true);
    if (content.stopped) return "stopped";
    if (!content.decoded) return "does not unpack";
    if (content.size != static_cast<uint64_t>(listed.size)) return "unpacks to another size";
    if (Crc32Text(content.crc32) != listed.crcText) return "unpacks to another CRC-32";
    sha256 = EncodeHex(content.sha256->data(), content.sha256->size());
    if (!listed.sha256.empty() && sha256 != listed.sha256) return "sha256";
    return {};
}

// Unpacks a checklist with bounds on its length and on its longest line, which the streaming
// reader holds whole: a hostile server's endless line or list ends the build with a clear error.
void UnpackChecklist(const std::string& packed, const std::string& unpacked, const std::string& name) {
    File out = File::Create(unpacked);
    uint64_t total = 0, line = 0;
    std::string refused;
    struct Refused {};
    bool decoded = false;
    try {
        decoded = DecodeLzmaFile(packed, [&](const void* data, size_t n) {
            const char* bytes = static_cast<const char*>(data);
            uint64_t longest = 0;
            for (size_t i = 0; i < n; ++i) {
                line = bytes[i] == '\n' ? 0 : line + 1;
                longest = std::max(longest, line);
            }
            total += n;
            if (longest > kMostStateLine) refused = "a line longer than " + std::to_string(kMostStateLine) + " bytes";
            if (total > kMostChecklistBytes) refused = "more than " + std::to_string(kMostChecklistBytes) + " bytes";
            if (!refused.empty()) throw Refused{};
            out.Write(data, n);
        });
    } catch (const Refused&) {
        out.Abandon();
        throw Error("the checklist " + name + ".dim.lzma unpacks to " + refused + ": refused");
    }
    out.Close();
    if (!decoded) throw Error("the checklist " + name + ".dim.lzma does not unpack");
}

}  // namespace


std::unique_ptr<Fetcher> MirrorRun::NewFetcher(bool large) const {
    if (platform_.newFetcher) return platform_.newFetcher();
    RetryPolicy policy;
    if (large) {
        policy.keepPartialFrom = kKeepPartialFromBytes;
    } else {
        policy.resume = false;
        policy.keepPartialFrom = -1;
    }
    return NewResumingFetcher(platform_.newPartFetcher(limits_), std::move(policy));
}

bool MirrorRun::FetchSmall(const std::string& relative, const std::string& path, bool required, uint64_t most) {
    const std::string url = ServerUrl(relative, o_.server);
    const std::unique_ptr<Fetcher> fetcher = NewFetcher(false);
    std::atomic<bool> cut{false};
    bool tooLarge = false;
    const FetchResult result = fetcher->Get(url, path, cut, [&](int64_t written, const std::string&) {
        if (static_cast<uint64_t>(written) > most) tooLarge = true;
        if (tooLarge || stop_) cut = true;
    });
    if (tooLarge) {
        RemoveFile(path);
        throw Error(url + " is larger than " + std::to_string(most) + " bytes: refused");
    }
    if (result.ok) return true;
    if (stop_) throw Error("interrupted");
    if (result.status == 404 && !required) return false;
    throw Error("cannot fetch " + url + ": " + result.error);
}

void MirrorRun::Emit(const MirrorEvent& event) {
    switch (event.kind) {
    case MirrorEventKind::Fetched:
        ++summary_.fetched;
        if (event.bytes > 0) summary_.bytesFetched += static_cast<uint64_t>(event.bytes);
        break;
    case MirrorEventKind::Kept: ++summary_.kept; break;
    case MirrorEventKind::WouldFetch:
        ++summary_.toFetch;
        if (event.bytes >= 0) summary_.bytesToFetch += static_cast<uint64_t>(event.bytes);
        else ++summary_.unknownSizes;
        break;
    case MirrorEventKind::Removed:
    case MirrorEventKind::WouldRemove: ++summary_.removed; break;
    case MirrorEventKind::Failed: ++summary_.failed; break;
    }
    sink_.Event(event, summary_);
}

void MirrorRun::Fail(size_t build, const std::string& path, const std::string& why) {
    std::lock_guard lock(mutex_);
    if (build < builds_.size()) builds_[build].failed = true;
    Emit({MirrorEventKind::Failed, path, why, -1});
}

void MirrorRun::Record(const std::string& path, MirrorRecord record) {
    state_[path] = std::move(record);
    stateChanged_ = true;
}

void MirrorRun::SaveState(bool force) {
    if (o_.dryRun || (!stateChanged_ && !force)) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastSave_ < kSaveEvery) return;
    lastSave_ = now;
    stateChanged_ = false;
    WriteFileReplacing(Dir(kStateFileName), WriteState(state_));
}

check::TrustAnchor MirrorRun::Anchor() const {
    check::TrustAnchor anchor;
    anchor.key = *o_.publicKey;
    anchor.game = o_.gameCode;
    anchor.now = static_cast<int64_t>(std::time(nullptr));
    return anchor;
}

check::ServerFileSource MirrorRun::Source() {
    return [this](const std::string& relative, const std::string& temporary, uint64_t most) {
        const std::unique_ptr<Fetcher> fetcher = NewFetcher(false);
        check::FetchBounded(*fetcher, ServerUrl(relative, o_.server), temporary, most, stop_);
        return temporary;
    };
}

void MirrorRun::ReadCatalogue() {
    const std::string relative = CataloguePath(o_.gameCode);
    if (o_.publicKey) {
        catalogueStatement_ = check::TrustedCatalogue(Source(), Anchor(), staging_, catalogueFile_);
        catalogueSigned_ = true;
    } else {
        catalogueFile_ = staging_ + "/inf.ini";
        FetchSmall(relative, catalogueFile_, true);
        catalogueSigned_ = FetchSmall(publish::CatalogueStatementPath(o_.gameCode), staging_ + "/inf.ini.sig", false);
    }
    const Catalogue catalogue = Catalogue::Load(catalogueFile_);
    Choose(catalogue);
}

void MirrorRun::Choose(const Catalogue& catalogue) {
    const int games = catalogue.GameCount();
    const auto findGame = [&]() -> int {
        if (o_.gameNumber) return o_.gameNumber;
        for (int g = 1; g <= games; ++g)
            if (catalogue.GameName(g).Decoded(o_.codePage) == o_.gameName) return g;
        throw Error("the catalogue has no game \"" + o_.gameName + "\"");
    };
    const bool oneGame = o_.gameNumber || !o_.gameName.empty();
    const int firstGame = oneGame ? findGame() : 1;
    const int lastGame = oneGame ? firstGame : games;
    if (firstGame > games) throw Error("the catalogue lists " + std::to_string(games) + " games, not " + std::to_string(firstGame));
    for (int g = 1; g <= games; ++g)
        for (int b = 1; b <= catalogue.BuildCount(g); ++b) {
            const CatalogueText name = catalogue.ChecklistName(g, b);
            if (name.stored) catalogueChecklists_.insert(name.Decoded(o_.codePage));
        }
    std::set<std::string> chosen;
    for (int g = firstGame; g <= lastGame; ++g) {
        const int builds = catalogue.BuildCount(g);
        int only = o_.buildNumber;
        if (!o_.buildName.empty()) {
            for (int b = 1; b <= builds && !only; ++b)
                if (catalogue.BuildName(g, b).Decoded(o_.codePage) == o_.buildName) only = b;
            if (!only) throw Error("game " + std::to_string(g) + " has no build \"" + o_.buildName + "\"");
        }
        if (only > builds)
            throw Error("game " + std::to_string(g) + " lists " + std::to_string(builds) + " builds, not " + std::to_string(only));
        for (int b = only ? only : 1; b <= (only ? only : builds); ++b) {
            const CatalogueText checklist = catalogue.ChecklistName(g, b);
            const CatalogueText address = catalogue.DownloadAddress(g, b);
            const std::string where = "game " + std::to_string(g) + " build " + std::to_string(b);
            if (!checklist.stored || !address.stored) {
                Fail(SIZE_MAX, where, "no checklist name or download address in the catalogue");
                continue;
            }
            Build build;
            build.checklist = checklist.Decoded(o_.codePage);
            build.downloadAddress = address.Decoded(o_.codePage);
            if (!IsMirrorPath(build.checklist) || build.checklist.find('/') != std::string::npos) {
                Fail(SIZE_MAX, where, "the checklist name \"" + build.checklist + "\" is not a file name");
                continue;
            }
            const std::optional<std::string> below = DownloadPathOf(build.downloadAddress, o_.serverBase);
            if (!below || !check::IsDownloadPathBelowBase(*below)) {
                std::lock_guard lock(mutex_);
                ++summary_.skipped;
                Emit({MirrorEventKind::Failed, build.checklist,
                      "the download address " + build.downloadAddress + " lies outside " + o_.serverBase +
                          ": build skipped",
                      -1});
                --summary_.failed;  // counted as skipped, not as a failed file
                continue;
            }
            if (!chosen.insert(build.checklist).second) continue;  // two builds of one checklist
            builds_.push_back(std::move(build));
        }
    }
    summary_.builds = builds_.size();
}

void MirrorRun::StageChecklist(Build& build) {
    CreateDirectories(build.staging);
    if (o_.publicKey) {
        build.statement = check::TrustChecklist(Source(), Anchor(), build.checklist,
                                                check::PinnedVersion(catalogueStatement_, build.checklist),
                                                build.staging)
                              .statement;
        build.hasStatement = true;
        build.hasHashList = true;
        return;
    }
    FetchSmall(ChecklistPath(build.checklist, o_.gameCode), build.staging + "/checklist.dim.lzma", true);
    build.hasStatement = FetchSmall(publish::ChecklistStatementPath(build.checklist, o_.gameCode),
                                    build.staging + "/checklist.dim.sig", false);
    build.hasHashList = FetchSmall(publish::HashListPath(build.checklist, o_.gameCode),
                                   build.staging + "/checklist.dim.sha256", false);
}

void MirrorRun::WalkBuild(size_t index) {
    Build& build = builds_[index];
    build.staging = staging_ + "/b" + std::to_string(index);
    StageChecklist(build);
    wanted_.insert(ChecklistPath(build.checklist, o_.gameCode));
    if (build.hasStatement) wanted_.insert(publish::ChecklistStatementPath(build.checklist, o_.gameCode));
    if (build.hasHashList) wanted_.insert(publish::HashListPath(build.checklist, o_.gameCode));
    StageChunkIndex(build);
    if (build.chunks) wanted_.insert(ChunkIndexPath(build.checklist, o_.gameCode));
    size_t indexedSeen = 0;
    const std::string unpacked = build.staging + "/checklist.dim";
    UnpackChecklist(build.staging + "/checklist.dim.lzma", unpacked, build.checklist);
    ChecklistReader reader = ChecklistReader::Stream(unpacked, o_.codePage);
    std::optional<HashListReader> hashes;
    if (build.hasHashList) hashes.emplace(HashListReader::Open(build.staging + "/checklist.dim.sha256"));
    const std::optional<std::string> below = DownloadPathOf(build.downloadAddress, o_.serverBase);
    const std::string fileBase = DownloadAddress(*below, o_.server);
    uint64_t entryIndex = 0;
    while (!stop_ && !reader.AtEnd()) {
        const ChecklistEntry entry = reader.Next();
        if (entry.sizeText != "0" && !entry.size) throw Error(ConversionErrorText(entry.sizeText));
        ListedFile listed;
        if (hashes) {
            const std::optional<HashListEntry> line = hashes->Next();
            if (const TrustResult matched = MatchHashLine(entry, line, entryIndex); !matched)
                throw Error("the hash list of " + build.checklist + " does not hold: " + matched.detail);
            listed.sha256 = EncodeHex(line->sha256.data(), line->sha256.size());
        }
        const uint64_t position = entryIndex++;
        if (entry.sizeText == "0") continue;  // folders and empty files: nothing to fetch
        listed.size = *entry.size;
        listed.crcText = entry.crcText;
        // An index that does not describe this checklist would only send launchers the long way.
        if (const IndexedFile* indexed = build.chunks ? build.chunks->FileAt(position) : nullptr) {
            ++indexedSeen;
            if (static_cast<int64_t>(indexed->size) != listed.size ||
                (!listed.sha256.empty() && DigestHex(indexed->sha256) != listed.sha256))
                throw Error("the chunk index of " + build.checklist + " does not match its checklist at " + entry.path);
        }
        const std::optional<std::string> path = MirrorFilePath(build.downloadAddress, o_.serverBase, entry.path);
        if (!path) {
            Fail(index, entry.path, "the entry's path leaves the game folder");
            continue;
        }
        if (wanted_.size() >= kMostMirrorFiles)
            throw Error("the server lists more than " + std::to_string(kMostMirrorFiles) + " files: refused");
        if (!wanted_.insert(*path).second) continue;  // listed twice: fetched once
        Job job;
        job.build = index;
        job.path = *path;
        job.url = check::EncodeUrlTail(GameFileUrl(fileBase, entry.path), fileBase.size());
        job.listed = std::move(listed);
        {
            std::lock_guard lock(mutex_);
            ++summary_.files;
            const auto found = state_.find(*path);
            job.decision = Decide(found == state_.end() ? nullptr : &found->second, Probe(Dir(*path)), job.listed);
            if (found != state_.end() && found->second.owner != build.checklist) {
                found->second.owner = build.checklist;  // moved to another build of the catalogue
                stateChanged_ = true;
            }
            if (job.decision == Decision::Keep) {
                Emit({MirrorEventKind::Kept, *path, "", -1});
                continue;
            }
        }
        Submit(std::move(job));
    }
    if (hashes && !stop_ && !hashes->AtEnd())
        throw Error("the hash list of " + build.checklist + " has more lines than the checklist entries");
    if (build.chunks && !stop_ && indexedSeen != build.chunks->Files().size())
        throw Error("the chunk index of " + build.checklist + " names entries its checklist does not list as files");
    if (build.chunks) SubmitChunks(index);
}

void MirrorRun::Submit(Job job) {
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait(lock, [this] { return queue_.size() < kQueued || stop_; });
    if (stop_) return;
    queue_.push_back(std::move(job));
    queueChanged_.notify_all();
}

void MirrorRun::Worker() {
    std::unique_ptr<Fetcher> fetcher;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(queueMutex_);
            queueChanged_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !queue_.empty() || closed_; });
            if (stop_) return;
            if (queue_.empty()) {
                if (closed_) return;
                continue;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
            queueChanged_.notify_all();
        }
        try {
            if (!fetcher) fetcher = NewFetcher(true);
            Work(job, *fetcher);
        } catch (const std::exception& e) {
            if (stop_) continue;
            if (job.chunk) {
                std::lock_guard lock(mutex_);
                failedChunks_.insert(job.path);
            }
            Fail(job.build, job.path, e.what());
        }
    }
}

void MirrorRun::Work(const Job& job, Fetcher& fetcher) {
    const std::string place = Dir(job.path);
    if (job.chunk) return WorkChunk(job, fetcher);
    std::string sha256;
    if (job.decision == Decision::Verify) {
        if (VerifyPacked(place, job.listed, sha256, stop_).empty()) {
            const DiskFile disk = Probe(place);
            std::lock_guard lock(mutex_);
            ++summary_.verified;
            Record(job.path, {builds_[job.build].checklist, disk.size, disk.mtime, job.listed.size, job.listed.crcText, sha256});
            Emit({MirrorEventKind::Kept, job.path, "", -1});
            SaveState(false);
            return;
        }
        if (stop_) return;
    }
    if (o_.dryRun) {
        const FetchResult head = fetcher.Head(job.url);
        std::lock_guard lock(mutex_);
        if (head.status != 200)
            Emit({MirrorEventKind::Failed, job.path,
                  head.error.empty() ? "HTTP status " + std::to_string(head.status) : head.error, -1});
        else
            Emit({MirrorEventKind::WouldFetch, job.path, "", head.length});
        return;
    }
    CreateDirectories(Dir(ParentOf(job.path)));
    const std::string part = place + kPartSuffix;
    const FetchResult result = fetcher.Get(job.url, part, stop_);
    if (!result.ok) {
        if (!stop_ && !result.stopped) Fail(job.build, job.path, result.error);
        return;
    }
    const std::string wrong = VerifyPacked(part, job.listed, sha256, stop_);
    if (!wrong.empty()) {
        RemoveFile(part);
        if (!stop_) Fail(job.build, job.path, "the server's file " + wrong);
        return;
    }
    platform_.makeNormal(place);
    if (!platform_.replaceFile(part, place)) {
        RemoveFile(part);
        Fail(job.build, job.path, "cannot put the file in place");
        return;
    }
    const DiskFile disk = Probe(place);
    std::lock_guard lock(mutex_);
    Record(job.path, {builds_[job.build].checklist, disk.size, disk.mtime, job.listed.size, job.listed.crcText, sha256});
    Emit({MirrorEventKind::Fetched, job.path, "", disk.size});
    SaveState(false);
}

void MirrorRun::PlaceStaged(const std::string& staged, const std::string& relative, const std::string& owner) {
    CreateDirectories(Dir(ParentOf(relative)));
    platform_.makeNormal(Dir(relative));
    if (!platform_.replaceFile(staged, Dir(relative))) throw Error("cannot put " + Dir(relative) + " in place");
    const DiskFile disk = Probe(Dir(relative));
    std::lock_guard lock(mutex_);
    Record(relative, {owner, disk.size, disk.mtime, -1, "", ""});
}

// An optional resource the server no longer has goes from the mirror too, when the mirror put it there.
void MirrorRun::PlaceOptional(const std::string& staged, bool present, const std::string& relative,
                           const std::string& owner) {
    if (present) return PlaceStaged(staged, relative, owner);
    std::lock_guard lock(mutex_);
    if (!state_.count(relative)) return;
    RemoveFile(Dir(relative));
    state_.erase(relative);
    stateChanged_ = true;
    Emit({MirrorEventKind::Removed, relative, "", -1});
}


// The release is fetched again only when its description changed: its executable is large and its
// name changes with each release.
void MirrorRun::StageRelease(std::vector<std::pair<std::string, std::string>>& place) {
    const std::string descriptionPath = UpdateDescriptionPath(o_.gameCode);
    const std::string staged = staging_ + "/version.txt";
    if (!FetchSmall(descriptionPath, staged, false)) return;  // no release: what the mirror had goes
    const std::string bytes = ReadFileBytes(staged);
    const std::optional<UpdateDescription> description = ReadUpdateDescription(bytes, o_.codePage);
    std::optional<std::string> executable;
    if (description) {
        const std::optional<std::string> below = DownloadPathOf(description->DownloadURL, o_.serverBase);
        if (below && IsMirrorPath(*below)) executable = *below;
    }
    const std::vector<std::string> releaseFiles = {UpdateInstallerPath(o_.gameCode),
                                                   publish::InstallerStatementPath(o_.gameCode)};
    const bool unchanged = FileExists(Dir(descriptionPath)) && ReadFileBytes(Dir(descriptionPath)) == bytes &&
                           (!executable || FileExists(Dir(*executable)));
    resources_.insert(descriptionPath);
    if (unchanged) {
        std::lock_guard lock(mutex_);
        if (executable) resources_.insert(*executable);
        for (const std::string& file : releaseFiles)
            if (state_.count(file)) resources_.insert(file);
        return;
    }
    if (executable) {
        const std::string packed = staging_ + "/executable.lzma";
        if (FetchSmall(*executable, packed, false)) {
            const PackedContent content = ReadPackedContent(packed, [this] { return stop_.load(); }, false);
            if (!content.decoded || !FileCrc32Matches(content.crc32, description->FileCRC32))
                throw Error("the launcher release " + *executable + " does not unpack to the CRC-32 version.txt gives");
            place.emplace_back(packed, *executable);
            resources_.insert(*executable);
        }
    }
    for (size_t i = 0; i < releaseFiles.size(); ++i) {
        const std::string file = staging_ + "/release" + std::to_string(i);
        if (!FetchSmall(releaseFiles[i], file, false)) continue;
        place.emplace_back(file, releaseFiles[i]);
        resources_.insert(releaseFiles[i]);
    }
    place.emplace_back(staged, descriptionPath);  // after what it names
}

void MirrorRun::Finish() {
    std::vector<std::pair<std::string, std::string>> place;
    const std::vector<std::string> keepList = {KeepListPath(o_.gameCode), publish::KeepListStatementPath(o_.gameCode)};
    for (size_t i = 0; i < keepList.size(); ++i) {
        const std::string file = staging_ + "/keep" + std::to_string(i);
        if (!FetchSmall(keepList[i], file, false)) continue;
        place.emplace_back(file, keepList[i]);
        resources_.insert(keepList[i]);
    }
    StageRelease(place);
    // The statement before the catalogue it covers, both last: a launcher that reads the new
    // catalogue finds everything it names already here.
    if (catalogueSigned_) place.emplace_back(staging_ + "/inf.ini.sig", publish::CatalogueStatementPath(o_.gameCode));
    place.emplace_back(catalogueFile_, CataloguePath(o_.gameCode));
    for (const auto& [staged, relative] : place) {
        PlaceStaged(staged, relative, "");
        resources_.insert(relative);
    }
    summary_.catalogueWritten = true;
}

void MirrorRun::Prune(std::string relative) {
    for (relative = ParentOf(relative); !relative.empty(); relative = ParentOf(relative)) {
        std::error_code ec;
        const std::filesystem::path folder = publish::ToFsPath(Dir(relative));
        if (!std::filesystem::is_directory(folder, ec) || !std::filesystem::is_empty(folder, ec)) return;
        if (!std::filesystem::remove(folder, ec)) return;
    }
}

// Only what the state says the mirror wrote, and only once the catalogue that no longer names it
// is in place: the old catalogue and checklists still point at every file until then.
void MirrorRun::RemoveLeftovers() {
    std::set<std::string> processed;
    for (const Build& build : builds_) processed.insert(build.checklist);
    std::vector<std::string> leaving, chunks;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [path, record] : state_) {
            if (wanted_.count(path)) continue;
            if (IsChunkStorePath(path)) {
                chunks.push_back(path);
                continue;
            }
            const bool gone = record.owner.empty() ? !o_.dryRun && !resources_.count(path)
                                                   : processed.count(record.owner) ||
                                                         !catalogueChecklists_.count(record.owner);
            if (gone) leaving.push_back(path);
        }
    }
    if (!chunks.empty()) AddLeavingChunks(leaving, chunks);
    for (const std::string& path : leaving) {
        if (stop_) return;
        if (!o_.dryRun) {
            if (FileExists(Dir(path)) && !RemoveFile(Dir(path))) {
                std::lock_guard lock(mutex_);
                Emit({MirrorEventKind::Failed, path, "cannot remove the file", -1});
                continue;
            }
            // A run killed while fetching it left its download beside it.
            const std::string part = Dir(path) + kPartSuffix;
            if (FileExists(part)) RemoveFile(part);
            if (FileExists(ResumeRecordPath(part))) RemoveFile(ResumeRecordPath(part));
            Prune(path);
        }
        std::lock_guard lock(mutex_);
        if (!o_.dryRun) {
            state_.erase(path);
            stateChanged_ = true;
        }
        if (IsChunkStorePath(path)) ++summary_.chunksRemoved;
        else Emit({o_.dryRun ? MirrorEventKind::WouldRemove : MirrorEventKind::Removed, path, "", -1});
    }
}

void MirrorRun::PlaceChecklists(const PlacementPlan& plan) {
    // A signed catalogue pins the version of each checklist's statement: a new checklist beside
    // the old catalogue would be refused by keyed launchers until the catalogue follows.
    if (catalogueSigned_ && !plan.finish) return;
    for (const std::string& name : plan.checklists) {
        const auto build = std::find_if(builds_.begin(), builds_.end(), [&](const Build& b) { return b.checklist == name; });
        PlaceStaged(build->staging + "/checklist.dim.lzma", ChecklistPath(name, o_.gameCode), name);
        PlaceOptional(build->staging + "/checklist.dim.sig", build->hasStatement,
                      publish::ChecklistStatementPath(name, o_.gameCode), name);
        PlaceOptional(build->staging + "/checklist.dim.sha256", build->hasHashList,
                      publish::HashListPath(name, o_.gameCode), name);
        PlaceOptional(build->staging + "/checklist.dim.chunks", build->chunks.has_value(),
                      ChunkIndexPath(name, o_.gameCode), name);
    }
}

MirrorSummary MirrorRun::Run() {
    const auto started = std::chrono::steady_clock::now();
    if (o_.dryRun) {
        staging_ = platform_.temporaryFolder();
    } else {
        CreateDirectories(o_.to);
        staging_ = Dir(kStagingFolder);
        std::error_code ec;
        std::filesystem::remove_all(publish::ToFsPath(staging_), ec);
        CreateDirectories(staging_);
    }
    struct RemoveStaging {
        std::string path;
        ~RemoveStaging() {
            std::error_code ec;
            std::filesystem::remove_all(publish::ToFsPath(path), ec);
        }
    } removeStaging{staging_};
    if (FileExists(Dir(kStateFileName))) state_ = ReadState(ReadFileBytes(Dir(kStateFileName)));
    summary_.source = o_.server;
    ReadCatalogue();
    sink_.Started(summary_);

    std::vector<std::thread> workers;
    struct Join {
        MirrorRun& m;
        std::vector<std::thread>& workers;
        ~Join() {
            {
                std::lock_guard lock(m.queueMutex_);
                m.closed_ = true;
            }
            m.queueChanged_.notify_all();
            for (std::thread& worker : workers) worker.join();
            workers.clear();
        }
    };
    {
        Join join{*this, workers};
        for (unsigned i = 0; i < (o_.jobs ? o_.jobs : DefaultJobs); ++i) workers.emplace_back([this] { Worker(); });
        for (size_t i = 0; i < builds_.size() && !stop_; ++i) {
            try {
                WalkBuild(i);
            } catch (const std::exception& e) {
                if (stop_) break;
                Fail(i, builds_[i].checklist + ".dim.lzma", e.what());
            }
        }
    }
    const auto save = [this] {
        std::lock_guard lock(mutex_);
        SaveState(true);
    };
    summary_.interrupted = stop_.load();
    FailBuildsOfFailedChunks();
    save();
    if (!summary_.interrupted) {
        std::vector<BuildOutcome> outcomes;
        for (const Build& build : builds_) outcomes.push_back({build.checklist, !build.failed});
        const PlacementPlan plan = PlanPlacement(outcomes, summary_.failed > 0, false);
        if (o_.dryRun) {
            RemoveLeftovers();
        } else {
            try {
                PlaceChecklists(plan);
                save();
                if (plan.finish) {
                    Finish();
                    RemoveLeftovers();
                }
            } catch (...) {
                save();  // what was placed is recorded, so that it can go once it leaves the server
                throw;
            }
        }
        summary_.interrupted = stop_.load();
        save();
    }
    summary_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary_;
}

MirrorSummary RunMirror(const MirrorOptions& options, const CheckPlatform& platform, MirrorSink& sink,
                        const std::atomic<bool>& stop) {
    MirrorRun mirror(options, platform, sink, stop);
    return mirror.Run();
}

}  // namespace orv::mirror
