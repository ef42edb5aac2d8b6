#include "launcher/integrity/check_run.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <optional>
#include <deque>
#include <memory>
#include <chrono>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/platform/utf8.h"
#include "launcher/catalogue.h"
#include "launcher/catalogue_reader.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/checklist_trust.h"
#include "launcher/integrity/chunking.h"
#include "launcher/integrity/run_chunks.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/net/progress.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/long_path.h"

namespace orv {
namespace {

int32_t ConvertOrRaise(const std::string& text) {
    const std::optional<int32_t> value = ParseInt32Decimal(text);
    if (!value) throw Error(ConversionErrorText(text));
    return *value;
}

// Entries read ahead of the one being walked, so that the engine can work on the files after it.
constexpr size_t kEntriesAhead = 256;
// The engine's window: files it checks (and fetches) ahead of the run.
constexpr size_t kJobsAhead = 64;
// Downloads done ahead and waiting for the run on disk.
constexpr size_t kDownloadsAhead = 4;

// The length that drives the per-file display: the Content-Length header as it fits the 20-byte
// buffer of the download client (nine digits), converted as a decimal number; a longer header counts
// as absent, so the listed size stays. False in `valid` for one that is not a number.
struct ProgressLength {
    std::optional<int64_t> value;
    bool valid = true;
};
ProgressLength ProgressLengthOf(const std::string& header) {
    ProgressLength length;
    if (header.empty() || header.size() > 9) return length;
    int64_t value = 0;
    size_t i = header[0] == '-' || header[0] == '+' ? 1 : 0;
    if (i == header.size()) length.valid = false;
    for (; i < header.size() && length.valid; ++i) {
        if (header[i] < '0' || header[i] > '9') length.valid = false;
        else value = value * 10 + (header[i] - '0');
    }
    if (length.valid) length.value = header[0] == '-' ? -value : value;
    return length;
}

// The per-file bar and image of the platform as the download client's progress targets.
class TargetBar final : public ProgressBarView {
public:
    explicit TargetBar(const FileProgressTarget& target) : target_(target) {}
    void SetMax(int value) override { target_.setBarMax(value); }
    int Max() const override { return target_.barMax(); }
    void SetPosition(int value) override { target_.setBarPosition(value); }
    int Position() const override { return target_.barPosition ? target_.barPosition() : 0; }
    // A game file always has a size to show against.
    void SetMarquee(bool) override {}
    bool IsMarquee() const override { return false; }

private:
    const FileProgressTarget& target_;
};

class TargetImage final : public ProgressImage {
public:
    explicit TargetImage(const FileProgressTarget& target) : target_(target) {}
    void SetWidth(int pixels) override {
        if (target_.setImageWidth) target_.setImageWidth(pixels);
    }
    int Width() const override { return target_.imageWidth ? target_.imageWidth() : 0; }

private:
    const FileProgressTarget& target_;
};

// One entry read ahead.
struct AheadEntry {
    ChecklistEntry entry;
    EntryTarget target;
    std::optional<uint64_t> job;  // the engine's, for a file it checks
    bool tookUnpacked = false;    // its unpacked file took the place: not the engine's to remove
};

// What one run keeps between entries.
class Run {
public:
    Run(const CheckRunRequest& request, CheckRunView& view, const CheckRunPlatform& platform)
        : request_(request), view_(view), platform_(platform) {}

    CheckRunResult Execute();

private:
    enum class Next { Continue, Leave };
    using Clock = std::chrono::steady_clock;

    // The checklist into `path`: false when it could not be had; `stopped_` tells a stop.
    bool FetchChecklist(const std::string& url, const std::string& path, const std::string& shownName);
    // A stop before anything was walked.
    CheckRunResult EndStopped();
    // The status line while the engine's connection for `url` waits to try again, and the file's
    // own text once the next try is under way.
    void ShowRetryOf(const std::string& url);

    // Whether `folder` holds an unpacked checklist (a ".dim" file) of any build.
    bool HoldsChecklist(const std::string& folder) const;
    // A keyed build's statements and hash list for the downloaded checklist, checked before it is
    // unpacked; the statement's file is gone afterwards, the hash list stays for the walk.
    TrustResult VerifySignedChecklist(const std::string& checklistName, const std::string& compressed,
                                      const std::string& hashList);
    // The walk's own check of the unpacked checklist against the hash list, before any entry.
    TrustResult CheckInStep(const std::string& checklist, const std::string& hashList);
    bool FetchBounded(const std::string& url, const std::string& path, uint64_t maxBytes);
    int64_t Now() const;
    void ReadAhead(ChecklistReader& reader);
    Next Entry(AheadEntry& ahead);
    Next File(AheadEntry& ahead, const std::string& place, int32_t size);
    // What DownloadGameFile would have returned for the job's download; raises as it does.
    bool Downloaded(uint64_t job, int32_t size, bool& fetched);
    void ShowDownload(const JobStatus& status, int32_t size);
    void ShowFetchRetry(const RetryNotice& notice, const std::string& shownName);
    bool WaitFor(uint64_t job, JobStage stage, const char* name, bool stoppable);
    void FinishEntry();
    void ShowCounters(CountersMoment moment, int entries);
    int StepOverall();
    std::string FilePath(const std::string& path) const { return platform_.filePath ? platform_.filePath(path) : path; }

    const CheckRunRequest& request_;
    CheckRunView& view_;
    const CheckRunPlatform& platform_;
    CheckRunResult result_;
    std::string totalText_;
    int32_t total_ = 0;
    std::string downloadAddress_;
    std::unique_ptr<CheckEngine> engine_;
    std::deque<AheadEntry> ahead_;
    // A keyed build's: the key, what its checklist statement vouches for, and the hash list read
    // in step with the checklist.
    std::optional<EcdsaPublicKey> key_;
    Statement signed_;
    std::optional<HashListReader> hashes_;
    uint64_t hashLines_ = 0;
    // The build's chunk index, for the large files that differ; entries counted as it counts them.
    std::shared_ptr<RunChunks> chunks_;
    uint64_t entryNumber_ = 0;
    // A download at the run's start was ended by a stop.
    bool stopped_ = false;
    // The file being downloaded: its status text and its path as shown; the seconds left of a retry
    // wait the status line shows, -1 while it shows the file's text.
    std::string jobUrl_;
    std::string checkingText_;
    std::string shownPath_;
    int retryShown_ = -1;
    uint64_t retrySerial_ = 0;
};

// The engine's threads end with the run, however it ends; the window is kept alive until they have.
struct FinishEngine {
    std::unique_ptr<CheckEngine>& engine;
    size_t& partialsKept;
    ~FinishEngine() {
        if (!engine) return;
        try {
            engine->Finish([] { PumpEvents(); });
        } catch (...) {
            // A handler that raised inside the pump was reported there; the threads are ended
            // all the same by the engine's own end.
        }
        // Counted once every transfer has ended: a stop leaves what it cut off only then.
        partialsKept = engine->PartialsKept();
        engine.reset();
    }
};

CheckRunResult Run::Execute() {
    const int language = UiLanguage;
    const Catalogue catalogue = Catalogue::Load(LocalCataloguePath());
    const std::string section = Catalogue::GameSection(request_.gamePosition);
    const std::string buildKey = std::to_string(request_.buildPosition);
    {
        const std::optional<std::string> stored = catalogue.Document().Find(section, request_.addressKeyPrefix + buildKey);
        const CatalogueText address =
            stored ? CatalogueText{*stored, true} : CatalogueText{catalogue_defaults::Unset, false};
        downloadAddress_ = address.Decoded(platform_.catalogueCodec.toUtf8);
    }
    const std::string checklistName =
        catalogue.ChecklistName(request_.gamePosition, request_.buildPosition).Decoded(platform_.catalogueCodec.toUtf8);

    platform_.setCurrentFolder(GameFolder);
    const std::string shownChecklist = ChecklistShownAddress(downloadAddress_, checklistName);
    const std::string compressed = GameFolder + "\\" + CompressedChecklistFileName(checklistName);
    const std::string checklist = GameFolder + "\\" + ChecklistFileName(checklistName);

    // What a run cut off while repairing left beside its files is looked for only where such a run
    // may have been. Every run keeps its unpacked checklist in the game folder while the engine may
    // have files beside the game's, and removes it when it ends without leaving partial downloads
    // for the next: a folder without one saw every earlier run end so, and listing each of its
    // folders would only find nothing.
    const bool earlierRunCutOff = HoldsChecklist(GameFolder);
    const bool keyed = !platform_.publisherKey.empty();
    const std::string hashList = GameFolder + "\\" + HashListFileName(checklistName);
    if (keyed) {
        key_ = PublisherKeyFromHex(platform_.publisherKey);
        // Only a checklist this run has seen signed may be walked, never one an earlier run left.
        platform_.removeFile(checklist);
        platform_.removeFile(hashList);
    }
    // A file left by an earlier attempt must not pass for this one's download.
    platform_.removeFile(compressed);
    const bool downloaded = FetchChecklist(ChecklistUrl(checklistName, platform_.serverBase), compressed,
                                           CompressedChecklistFileName(checklistName));
    if (stopped_) return EndStopped();
    if (downloaded) {
        view_.SetStatus(TextIn(TextId::ChecklistDownloading, language));
        PumpEvents();
    } else {
        ShowMessage(FormatText(TextIn(TextId::ChecklistUnreachable, language), shownChecklist));
        view_.RequestClose();
    }

    // A keyed build unpacks only a checklist the key signed; one that is missing fails to unpack
    // below, as in any build.
    bool trusted = !keyed;
    if (keyed && downloaded) {
        const TrustResult trust = VerifySignedChecklist(checklistName, compressed, hashList);
        if (stopped_) {
            platform_.removeFile(compressed);
            return EndStopped();
        }
        if (!trust) {
            ShowMessage(FormatText(TextIn(TextId::ChecklistNotSigned, language), trust.detail));
            view_.Stop();
        }
        trusted = static_cast<bool>(trust);
    }

    view_.SetStatus(TextIn(TextId::CheckingFile, language));
    PumpEvents();
    bool unpacked = false;
    if (trusted || !downloaded) {
        try {
            unpacked = platform_.unpackChecklist(compressed, checklist);
        } catch (const std::exception&) {
            unpacked = false;
        }
        if (!unpacked) {
            ShowMessage(FormatText(TextIn(TextId::ChecklistUnpackFailed, language), shownChecklist));
            view_.Stop();
        }
    }
    platform_.removeFile(compressed);
    if (keyed && trusted && unpacked) {
        const TrustResult inStep = CheckInStep(checklist, hashList);
        if (!inStep) {
            ShowMessage(FormatText(TextIn(TextId::ChecklistNotSigned, language), inStep.detail));
            view_.Stop();
            trusted = false;
        }
    }
    // A keyed run without a signed checklist walks nothing: the game folder stays as it is.
    const bool walk = !keyed || (trusted && unpacked);

    totalText_ =
        catalogue.FileCountText(request_.gamePosition, request_.buildPosition).Decoded(platform_.catalogueCodec.toUtf8);
    total_ = ConvertOrRaise(totalText_);
    view_.ResetOverall(std::max(total_, 0));

    if (walk) {
        // Read as it is walked: a hostile checklist that unpacks to gigabytes costs one block.
        ChecklistReader reader = platform_.openChecklist ? platform_.openChecklist(checklist, platform_.checklistPage)
                                                         : ChecklistReader::Stream(checklist, platform_.checklistPage);
        EngineOptions options;
        options.checkers = platform_.checkers;
        // One download at a time, in the list's order, as the run has them.
        options.fetchers = 1;
        // Two files unpack at once while the next downloads: unpacking is the slowest step of a
        // repair, and each unpack holds one dictionary.
        options.unpackers = 2;
        options.window = kJobsAhead;
        options.fetchAhead = kDownloadsAhead;
        EnginePlatform engine = platform_.engine;
        if (!earlierRunCutOff) engine.listFolder = nullptr;
        if (engine.newFetcher) {
            // Asked for only once a large file differs; a keyed build takes only the index its
            // checklist statement names.
            ChunkIndexSource source;
            source.url = ChunkIndexUrl(checklistName, platform_.serverBase);
            source.path = FilePath(GameFolder + "\\" + ChecklistFileName(checklistName) + ".chunks");
            source.storeBase = platform_.serverBase;
            source.keyed = keyed;
            source.sha256 = signed_.chunksSha256;
            source.size = signed_.chunksSize;
            // Only a run that was cut off can have left one (its checklist stays beside it).
            if (earlierRunCutOff && FileExists(source.path)) platform_.removeFile(source.path);
            chunks_ = std::make_shared<RunChunks>(std::move(source));
        }
        engine_ = std::make_unique<CheckEngine>(options, std::move(engine));
        const FinishEngine finish{engine_, result_.partialsKept};
        for (;;) {
            ReadAhead(reader);
            if (ahead_.empty()) break;
            AheadEntry entry = std::move(ahead_.front());
            ahead_.pop_front();
            const Next next = Entry(entry);
            if (entry.job) engine_->Release(*entry.job, entry.tookUnpacked);
            if (next == Next::Leave) break;
        }
    }

    ShowCounters(CountersMoment::AtEnd, view_.OverallPosition());
    // The unpacked checklist in the game folder is how a run knows that an earlier one may have
    // left files beside the game's (HoldsChecklist). With partial downloads kept, it stays: the next
    // run then looks beside each file, goes on with a partial whose file still differs and removes
    // those of files that are good by then. Without, nothing is left to look for.
    if (result_.partialsKept == 0) platform_.removeFile(checklist);
    if (keyed) {
        hashes_.reset();
        platform_.removeFile(hashList);
    }
    view_.BringToFront();

    if (!result_.refusedPaths.empty()) {
        // Something the build lists was not put in place: the folder is not that version.
        ShowMessage(RefusedPathsText(result_.refusedPaths, language));
    } else if (StopFlag == 0) {
        ShowMessage(TextIn(TextId::CheckSucceeded, language));
        const std::string versionSection = settings_keys::ClientVersionSection(AppName);
        WriteLauncherSetting(versionSection, settings_keys::BaseVersion, ServerBaseVersion);
        WriteLauncherSetting(versionSection, settings_keys::BuildVersion, ServerBuildVersion);
        LocalBaseVersion = ServerBaseVersion;
        LocalBuildVersion = ServerBuildVersion;
        result_.completed = true;
        result_.versionRecorded = true;
    }
    view_.Stop();
    return result_;
}

bool Run::FetchChecklist(const std::string& url, const std::string& path, const std::string& shownName) {
    if (!platform_.checklistFetcher) return platform_.downloadFile(url, path);
    RunFetch fetched;
    const auto fetch = [&] {
        fetched = FetchForRun(platform_.checklistFetcher, url, FilePath(path), std::nullopt,
                              [&](const RetryNotice& notice) { ShowFetchRetry(notice, shownName); });
    };
    // The worker's time is the run's wait for it, as for the engine's steps.
    if (platform_.timed) platform_.timed("wait: checklist", fetch);
    else fetch();
    stopped_ = fetched.stopped;
    return fetched.ok;
}

CheckRunResult Run::EndStopped() {
    // Nothing was walked and nothing is to be said: the run ends as after any stop. The unpacked
    // checklist an earlier run may have left stays, with the partial downloads it stands for.
    view_.BringToFront();
    view_.Stop();
    return result_;
}

void Run::ShowFetchRetry(const RetryNotice& notice, const std::string& shownName) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(notice.wait + std::chrono::milliseconds(999));
    view_.SetStatus(RetryingText(notice, static_cast<int>(seconds.count()), shownName, UiLanguage));
}

void Run::ShowRetryOf(const std::string& url) {
    if (!platform_.retries) return;
    int left = -1;
    if (const std::optional<RetryBoard::Posted> posted = platform_.retries->Latest(url)) {
        const auto remaining = posted->notice.wait - (Clock::now() - posted->at);
        if (remaining > Clock::duration::zero())
            left = static_cast<int>(std::chrono::ceil<std::chrono::seconds>(remaining).count());
        // Once a second while the wait counts down, and at once for a wait that follows another.
        if (left >= 0 && (left != retryShown_ || posted->serial != retrySerial_))
            view_.SetStatus(RetryingText(posted->notice, left, shownPath_, UiLanguage));
        retrySerial_ = posted->serial;
    }
    if (left < 0 && retryShown_ >= 0) view_.SetStatus(checkingText_);
    retryShown_ = left;
}

int64_t Run::Now() const {
    if (platform_.now) return platform_.now();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool Run::FetchBounded(const std::string& url, const std::string& path, uint64_t maxBytes) {
    platform_.removeFile(path);
    bool ok = false;
    try {
        if (platform_.checklistFetcher) {
            const RunFetch fetched = FetchForRun(platform_.checklistFetcher, url, FilePath(path), maxBytes, {});
            stopped_ = fetched.stopped;
            ok = fetched.ok;
        } else {
            ok = platform_.downloadBounded ? platform_.downloadBounded(url, path, maxBytes)
                                           : platform_.downloadFile(url, path);
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (ok && ProbeFile(path).size > static_cast<int64_t>(std::min<uint64_t>(maxBytes, std::numeric_limits<int64_t>::max()))) ok = false;
    if (!ok) platform_.removeFile(path);
    return ok;
}

TrustResult Run::VerifySignedChecklist(const std::string& checklistName, const std::string& compressed,
                                       const std::string& hashList) {
    if (!key_) return TrustResult{TrustFailure::NotSigned, "the launcher's publisher key is not valid"};
    const int64_t now = Now();
    uint64_t pin = 0;
    const TrustResult pinned =
        CatalogueChecklistPin(LocalCataloguePath(), GameFolder + "\\" + CatalogueStatementFileName(), *key_,
                              GameCode, now, checklistName, pin);
    if (!pinned) return pinned;

    // Beside the checklist on the server: its address without ".lzma".
    const std::string checklistUrl = ChecklistUrl(checklistName, platform_.serverBase);
    const std::string stem = checklistUrl.substr(0, checklistUrl.size() - std::string_view(".lzma").size());
    const std::string statementFile = GameFolder + "\\" + ChecklistStatementFileName(checklistName);
    struct RemoveAfter {
        const CheckRunPlatform& platform;
        const std::string& path;
        ~RemoveAfter() { platform.removeFile(path); }
    } removeStatement{platform_, statementFile};
    if (!FetchBounded(stem + ".sig", statementFile, kStatementMaxBytes))
        return TrustResult{TrustFailure::Missing, ChecklistStatementFileName(checklistName) + " could not be downloaded"};

    // The hash list's bound is the signed entry count: nothing larger is fetched.
    const TrustResult verified =
        VerifyChecklistStatement(statementFile, *key_, GameCode, checklistName, pin, now, signed_);
    if (!verified) return verified;
    if (!FetchBounded(stem + ".sha256", hashList, HashListLimit(signed_.entries)))
        return TrustResult{TrustFailure::Missing, HashListFileName(checklistName) + " could not be downloaded"};
    return CheckChecklistFiles(signed_, compressed, hashList);
}

TrustResult Run::CheckInStep(const std::string& checklist, const std::string& hashList) {
    try {
        ChecklistReader reader = platform_.openChecklist ? platform_.openChecklist(checklist, platform_.checklistPage)
                                                         : ChecklistReader::Stream(checklist, platform_.checklistPage);
        const TrustResult inStep = CheckHashListInStep(std::move(reader), HashListReader::Open(hashList), signed_.entries);
        if (inStep) hashes_.emplace(HashListReader::Open(hashList));
        return inStep;
    } catch (const Error& e) {
        return TrustResult{TrustFailure::Missing, e.what()};
    }
}

bool Run::HoldsChecklist(const std::string& folder) const {
    if (!platform_.engine.listFolder) return false;
    const std::u16string dim = FoldLetterCase(".dim");
    for (const FolderEntry& entry : platform_.engine.listFolder(folder)) {
        if (entry.kind != EntryKind::File) continue;
        const std::u16string name = FoldLetterCase(entry.name);
        if (name.size() > dim.size() && name.compare(name.size() - dim.size(), dim.size(), dim) == 0) return true;
    }
    return false;
}

void Run::ReadAhead(ChecklistReader& reader) {
    while (ahead_.size() < kEntriesAhead && engine_->HasRoom() && !reader.AtEnd()) {
        AheadEntry ahead;
        ahead.entry = reader.Next();
        const uint64_t number = entryNumber_++;
        ahead.target = ResolveEntry(ahead.entry);
        const ChecklistEntry& entry = ahead.entry;
        std::optional<HashListEntry> line;
        if (hashes_) {
            line = hashes_->Next();
            // Checked in step before the walk; only a list changed since then fails here.
            if (const TrustResult matched = MatchHashLine(entry, line, hashLines_++); !matched)
                throw Error(FormatText(TextIn(TextId::ChecklistNotSigned, UiLanguage), matched.detail));
        }
        if (ahead.target.kind == TargetKind::Folder) {
            // Made as soon as it is read: the engine may fetch files inside it before the run
            // walks to them. Making a folder shows nothing and counts nothing.
            platform_.createFolder(GameFolder + ahead.target.path);
        } else if (ahead.target.kind == TargetKind::File && entry.sizeText != "0" && entry.size) {
            EngineJob job;
            job.place = FilePath(EntryPlace(GameFolder, ahead.target.path));
            job.size = *entry.size;
            job.crcText = entry.crcText;
            job.url = GameFileUrl(downloadAddress_, entry.path);
            if (line) job.sha256 = line->sha256;
            if (chunks_ && static_cast<uint64_t>(job.size) >= kChunkedFileMinSize) {
                chunks_->NotePlace(number, job.place);
                job.chunks = chunks_;
                job.entry = number;
            }
            ahead.job = engine_->Submit(std::move(job));
        }
        ahead_.push_back(std::move(ahead));
    }
}

Run::Next Run::Entry(AheadEntry& ahead) {
    const ChecklistEntry& entry = ahead.entry;
    if (entry.sizeText != "0") view_.SetFileMax(ConvertOrRaise(entry.sizeText));
    if (StopFlag == 1) return Next::Leave;

    const EntryTarget& target = ahead.target;
    if (target.kind == TargetKind::Refused) {
        result_.refusedPaths.push_back(entry.path);
        return Next::Continue;
    }
    if (target.kind != TargetKind::File) return Next::Continue;  // the game folder, or a folder made already
    const std::string place = EntryPlace(GameFolder, target.path);

    if (entry.sizeText == "0") {
        platform_.createEmptyFile(place);
        ++result_.checked;
        StepOverall();
        view_.SetOverallWidth(OverallProgressWidth(total_, result_.checked));
        PumpEvents();
        return Next::Continue;
    }
    return File(ahead, place, ConvertOrRaise(entry.sizeText));
}

bool Run::WaitFor(uint64_t job, JobStage stage, const char* name, bool stoppable) {
    bool reached = false;
    const auto wait = [&] {
        reached = engine_->Wait(job, stage, [stoppable] {
            PumpEvents();
            return !stoppable || StopFlag != 1;
        });
    };
    if (platform_.timed) platform_.timed(name, wait);
    else wait();
    return reached;
}

Run::Next Run::File(AheadEntry& ahead, const std::string& place, int32_t size) {
    const int language = UiLanguage;
    const ChecklistEntry& entry = ahead.entry;
    const uint64_t job = *ahead.job;
    const std::string lowered = platform_.lowerCase ? platform_.lowerCase(entry.path) : LowerCaseText(entry.path);
    checkingText_ = CheckingFileText(entry.path, lowered, language);
    shownPath_ = ShownStatusPath(entry.path, lowered, language);
    retryShown_ = -1;
    view_.SetStatus(checkingText_);
    if (IsLongStatusPath(entry.path)) ShowCounters(CountersMoment::BeforeLongPath, view_.OverallPosition() - 1);
    PumpEvents();

    // The file's CRC-32 is summed ahead; a stop seen before it is known stands for one that came
    // while the file was summed, after its first block: a file longer than that then looks damaged.
    bool good = false;
    const bool known = StopFlag != 1 && WaitFor(job, JobStage::Checked, "wait: check", true);
    if (known || size <= static_cast<int32_t>(Crc32BlockSize)) {
        if (!known) WaitFor(job, JobStage::Checked, "wait: check", false);
        const FileCheck check = engine_->Status(job).check;
        if (check.state != FileState::Missing) {
            if (HasAttributesToClear(check.attributes)) platform_.makeNormal(place);
            PumpEvents();
        }
        good = check.state == FileState::Good;
    }
    if (good) {
        FinishEntry();
        return Next::Continue;
    }

    const std::string url = GameFileUrl(downloadAddress_, entry.path);
    bool fetched = false;
    jobUrl_ = url;
    const bool came = Downloaded(job, size, fetched);
    if (platform_.retries) platform_.retries->Forget(url);
    if (retryShown_ >= 0) view_.SetStatus(checkingText_);
    retryShown_ = -1;
    if (came) {
        ++result_.downloaded;
        ShowCounters(CountersMoment::AfterFile, view_.OverallPosition());
        PumpEvents();
    } else {
        ShowMessage(FormatText(TextIn(TextId::GameFileUnreachable, language), url));
        view_.RequestClose();
    }
    // The stop came during the transfer or the checksum: nothing may be unpacked.
    if (StopFlag == 1) return Next::Leave;

    platform_.makeNormal(place);
    bool inPlace = false;
    if (fetched) {
        // A stop while the engine unpacks waits for the unpack to end, as the stop procedure waits
        // for an unpack worker, and the file still takes its place: what was fetched is not lost.
        // The window is serviced meanwhile.
        WaitFor(job, JobStage::Unpacked, "wait: unpack", false);
        const UnpackOutcome unpack = engine_->Status(job).unpack;
        if (unpack.state == UnpackState::Stopped) return Next::Leave;
        if (unpack.state == UnpackState::OtherHash) {
            // Nothing was put in place; the player is told why as for a file the server did not
            // send, and the old file stays.
            ShowMessage(FormatText(TextIn(TextId::GameFileNotSigned, language), entry.path));
            view_.RequestClose();
        }
        if (unpack.state == UnpackState::Unpacked) {
            inPlace = platform_.replaceFile(UnpackTemporaryPath(place), place);
            // A refused replace leaves the old file, and the engine removes the unpacked one.
            ahead.tookUnpacked = inPlace;
        }
    }
    if (!inPlace) {
        const MsgResult answer = ShowMessageBox(MessageRequest{TextIn(TextId::UnpackFailedQuestion, language),
                                                               TextIn(TextId::UnpackFailedCaption, language),
                                                               mb::AbortRetryIgnore | mb::IconError, MainWindowHandle});
        if (answer == MsgResult::Abort) {
            view_.Stop();
            return Next::Leave;
        }
        if (answer == MsgResult::Retry) ShowMessage(TextIn(TextId::RetrySkipped, language));
        return Next::Continue;
    }
    platform_.makeNormal(place);
    FinishEntry();
    return Next::Continue;
}

bool Run::Downloaded(uint64_t job, int32_t size, bool& fetched) {
    fetched = false;
    const FileProgressTarget& progress = platform_.fileProgress;
    if (progress.setBarMax) progress.setBarMax(100);
    if (progress.setBarPosition) progress.setBarPosition(0);
    struct Flush {
        const FileProgressTarget& target;
        ~Flush() {
            if (target.flush) target.flush();
        }
    } flush{progress};
    // A stop before or during the transfer ends it as at its first block: true, nothing at the target.
    if (StopFlag == 1) {
        if (progress.setBarPosition && progress.barMax) progress.setBarPosition(progress.barMax());
        return true;
    }
    bool reached = false;
    const auto wait = [&] {
        reached = engine_->Wait(job, JobStage::Fetched, [&] {
            ShowDownload(engine_->Status(job), size);
            ShowRetryOf(jobUrl_);
            PumpEvents();
            return StopFlag != 1;
        });
    };
    if (platform_.timed) platform_.timed("wait: download", wait);
    else wait();
    const JobStatus status = engine_->Status(job);
    if (!reached || status.fetch.stopped) {
        if (progress.setBarPosition && progress.barMax) progress.setBarPosition(progress.barMax());
        return true;
    }
    const FetchResult& fetch = status.fetch;
    if (fetch.failed == FetchStep::Request) {
        const std::string message = platform_.fetchErrorMessage && fetch.platformCode
                                        ? platform_.fetchErrorMessage(fetch.platformCode)
                                        : fetch.error;
        throw EOSError(fetch.platformCode, message);
    }
    if (fetch.failed == FetchStep::Read || fetch.failed == FetchStep::Short) {
        ShowMessage(Tr(TextId::ErrorInternetReadFile));
        return false;
    }
    if (!fetch.ok || !ProgressLengthOf(fetch.lengthText).valid) return false;
    ShowDownload(status, size);
    fetched = true;
    return true;
}

void Run::ShowDownload(const JobStatus& status, int32_t size) {
    const FileProgressTarget& progress = platform_.fileProgress;
    if (!progress.setBarPosition || !progress.barMax || status.received <= 0) return;
    const int64_t expected = ProgressLengthOf(status.lengthText).value.value_or(size);
    // Without any size the bar stays where it is (at 0) and the image is left alone.
    if (expected == 0) return;
    TargetBar bar(progress);
    TargetImage image(progress);
    ShowGameProgress(status.received, expected, bar, image, CheckProgressFullWidth);
}

void Run::FinishEntry() {
    ++result_.checked;
    StepOverall();
    view_.SetOverallWidth(OverallProgressWidth(total_, result_.checked));
    PumpEvents();
    ShowCounters(CountersMoment::AfterFile, view_.OverallPosition());
    PumpEvents();
    view_.FillFileProgress();
}

int Run::StepOverall() {
    // The bar is a counter held within 0 to the total.
    const int position = std::min(view_.OverallPosition() + 1, std::max(total_, 0));
    view_.SetOverallPosition(position);
    return position;
}

void Run::ShowCounters(CountersMoment moment, int entries) {
    view_.SetCounters(CountersText(moment, totalText_, entries, result_.downloaded, UiLanguage));
}

}  // namespace

bool HasAttributesToClear(uint32_t attributes) {
    // FILE_ATTRIBUTE_NORMAL and FILE_ATTRIBUTE_ARCHIVE, without <windows.h>. INVALID_FILE_ATTRIBUTES
    // (a file that could not be asked) is tried all the same.
    constexpr uint32_t kNormal = 0x80;
    constexpr uint32_t kArchive = 0x20;
    return attributes != kNormal && attributes != kArchive;
}

CheckRunPlatform PortableCheckRunPlatform() {
    CheckRunPlatform platform;
    platform.unpackChecklist = [](const std::string& input, const std::string& output) {
        if (!LzmaAloneInstance) return false;
        return LzmaAloneInstance->Main(input, output, "d");
    };
    platform.createEmptyFile = &CreateEmptyFile;
    platform.removeFile = &RemoveFile;
    platform.engine.listFolder = &ListFolder;
    platform.engine.removeFile = &RemoveFile;
    platform.openChecklist = &ChecklistReader::Stream;
    return platform;
}

CheckRunPlatform WithExtendedLengthPaths(CheckRunPlatform platform) {
    const auto one = [](auto service) {
        return [service](const std::string& path) { return service(ExtendedLengthPath(path)); };
    };
    const auto two = [](auto service) {
        return [service](const std::string& first, const std::string& second) {
            return service(ExtendedLengthPath(first), ExtendedLengthPath(second));
        };
    };
    CheckRunPlatform& p = platform;
    if (p.downloadFile) {
        p.downloadFile = [service = p.downloadFile](const std::string& url, const std::string& path) {
            return service(url, ExtendedLengthPath(path));
        };
    }
    if (p.downloadBounded) {
        p.downloadBounded = [service = p.downloadBounded](const std::string& url, const std::string& path,
                                                          uint64_t maxBytes) {
            return service(url, ExtendedLengthPath(path), maxBytes);
        };
    }
    if (p.unpackChecklist) p.unpackChecklist = two(p.unpackChecklist);
    if (p.replaceFile) p.replaceFile = two(p.replaceFile);
    if (p.makeNormal) p.makeNormal = one(p.makeNormal);
    if (p.createEmptyFile) p.createEmptyFile = one(p.createEmptyFile);
    if (p.createFolder) p.createFolder = one(p.createFolder);
    if (p.removeFile) p.removeFile = one(p.removeFile);
    if (p.engine.listFolder) p.engine.listFolder = one(p.engine.listFolder);
    if (p.engine.removeFile) p.engine.removeFile = one(p.engine.removeFile);
    // The engine's own file calls (probe, CRC-32, download, unpack) take the place it is given.
    p.filePath = [](const std::string& path) { return ExtendedLengthPath(path); };
    if (!p.openChecklist) p.openChecklist = &ChecklistReader::Stream;
    p.openChecklist = [service = p.openChecklist](const std::string& path, const AnsiTextDecoder& decode) {
        return service(ExtendedLengthPath(path), decode);
    };
    return platform;
}

CheckRunResult RunCheck(const CheckRunRequest& request, CheckRunView& view, const CheckRunPlatform& platform) {
    Run run(request, view, platform);
    return run.Execute();
}

}  // namespace orv
