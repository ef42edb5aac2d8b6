// The run of "orvanta-tool check". The main thread streams the checklist and does what must
// happen in list order (refusals, folders, empty files); file entries go through a bounded queue to
// the checking threads, and files that differ through a second one to the download threads, each
// with its own keep-alive connection. Counters are all that is kept of the results.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "launcher/base/errors.h"
#include "launcher/catalogue.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "tools/check.h"
#include "tools/positive_number.h"
#include "tools/publish.h"

namespace orv::check {
namespace {

// Items wait in these queues, so memory stays put however long the checklist is.
constexpr size_t kQueuePerThread = 4;
// Each checking thread reads files in blocks of this size.
constexpr size_t kReadBlock = size_t{1} << 18;

template <class T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

    void Push(T item) {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return items_.size() < capacity_ || closed_; });
        if (closed_) return;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
    }
    // The next item; nothing once the queue is closed and empty.
    std::optional<T> Pop() {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return item;
    }
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable notFull_, notEmpty_;
    std::deque<T> items_;
    bool closed_ = false;
};

struct FileJob {
    std::string path;  // the checklist's
    std::string placePath;  // what it names in the game folder (ResolveEntry)
    int32_t size = 0;
    std::string crcText;
};

// Raised from a decoder's sink to leave the decoding when the run stops.
struct Stopped {};

// Names outside ASCII, blanks and the characters a URL reserves, percent-encoded as UTF-8 (what
// WinInet sends for the launcher); `from` leaves the start (the catalogue's address) as it stands.
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

// The CRC-32 of a file in large blocks, leaving early when the run stops. Nothing when it cannot be
// opened or the run stopped.
std::optional<uint32_t> FileCrc(const std::string& path, const std::atomic<bool>& stop, std::vector<char>& buffer,
                                uint64_t& bytes) {
    std::optional<File> file;
    try {
        file.emplace(File::OpenRead(path));
    } catch (const Error&) {
        return std::nullopt;
    }
    uint32_t reg = 0xFFFFFFFFu;
    for (;;) {
        if (stop) return std::nullopt;
        const size_t got = file->Read(buffer.data(), buffer.size());
        if (got == 0) break;
        reg = Crc32Update(reg, buffer.data(), got);
        bytes += got;
    }
    return reg ^ 0xFFFFFFFFu;
}

class Engine {
public:
    Engine(const CheckOptions& options, const CheckPlatform& platform, CheckSink& sink, const std::atomic<bool>& stop)
        : o_(options), platform_(platform), sink_(sink), interrupt_(stop),
          jobs_(options.jobs ? options.jobs
                             : std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(MostThreads))),
          connections_(options.connections ? options.connections : DefaultConnections),
          checkQueue_(jobs_ * kQueuePerThread), repairQueue_(connections_ * kQueuePerThread) {}

    CheckSummary Run();

private:
    bool Halted() const { return interrupt_ || abort_; }
    bool FromRoot() const { return !o_.serverRoot.empty(); }
    // A file below the server root ("/"-separated relative path).
    std::string RootFile(const std::string& relative) const { return o_.serverRoot + "/" + relative; }
    // Fetches a resource of the server into `path`; raises Error naming it.
    void FetchResource(const std::string& url, const std::string& path);
    void ReadCatalogue(const std::string& temporary);
    std::string FileSource(const std::string& entryPath) const;

    void Emit(CheckEvent event);
    void Count(uint64_t CheckSummary::*field) {
        std::lock_guard lock(mutex_);
        ++(summary_.*field);
    }
    void Walk(const std::string& checklist);
    void Folder(const ChecklistEntry& entry, const std::string& placePath);
    void EmptyFile(const ChecklistEntry& entry, const std::string& placePath);
    void CheckWorker();
    void CheckFile(const FileJob& job, std::vector<char>& buffer);
    void VerifyFile(const FileJob& job);
    void RepairWorker();
    void RepairFile(const FileJob& job, Fetcher* fetcher);

    const CheckOptions& o_;
    const CheckPlatform& platform_;
    CheckSink& sink_;
    const std::atomic<bool>& interrupt_;
    std::atomic<bool> abort_{false};
    const unsigned jobs_, connections_;
    BoundedQueue<FileJob> checkQueue_;
    BoundedQueue<FileJob> repairQueue_;

    std::mutex mutex_;  // guards summary_ and the sink
    CheckSummary summary_;
    std::string downloadAddress_;  // as the catalogue gives it
    std::string fileBase_;         // where files are read from: an address, or a path below the root
    std::string checklistName_;
};

void Engine::Emit(CheckEvent event) {
    std::lock_guard lock(mutex_);
    switch (event.kind) {
    case EventKind::Checked: ++summary_.checked; break;
    case EventKind::Bad: ++summary_.bad; break;
    case EventKind::Repaired:
        ++summary_.repaired;
        if (event.bytes > 0) summary_.bytesFetched += static_cast<uint64_t>(event.bytes);
        break;
    case EventKind::RepairFailed: ++summary_.failed; break;
    case EventKind::Refused: ++summary_.refused; break;
    case EventKind::WouldFetch:
        if (event.bytes >= 0) summary_.bytesToFetch += static_cast<uint64_t>(event.bytes);
        else ++summary_.unknownSizes;
        break;
    }
    const bool fileChecked = (event.kind == EventKind::Checked || event.kind == EventKind::Bad) && event.size >= 0;
    if (fileChecked) ++summary_.filesDone;
    sink_.Event(event, summary_);
    if (fileChecked) sink_.Progress(summary_);
}

void Engine::FetchResource(const std::string& url, const std::string& path) {
    const std::unique_ptr<Fetcher> fetcher = platform_.newFetcher();
    const FetchResult result = fetcher->Get(url, path, interrupt_);
    if (!result.ok) throw Error("cannot fetch " + url + ": " + result.error);
}

void Engine::ReadCatalogue(const std::string& temporary) {
    std::string cataloguePath;
    if (FromRoot()) {
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
    ReadCatalogue(temporary);
    if (checklistName_.find_first_of("/\\") != std::string::npos)
        throw Error("the checklist name \"" + checklistName_ + "\" is not a file name");

    const std::string packed = temporary + "/checklist.dim.lzma";
    const std::string checklist = temporary + "/checklist.dim";
    std::string packedSource = packed;
    if (FromRoot()) {
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
    sink_.Started(summary_);

    Walk(checklist);
    summary_.interrupted = interrupt_.load();
    summary_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary_;
}

void Engine::Walk(const std::string& checklist) {
    ChecklistReader reader = ChecklistReader::Stream(checklist, o_.codePage);
    std::vector<std::thread> checkers, repairers;
    const bool repairs = (o_.repair || o_.dryRun) && !o_.verifyServer;
    auto finish = [&] {
        checkQueue_.Close();
        for (std::thread& t : checkers) t.join();
        repairQueue_.Close();
        for (std::thread& t : repairers) t.join();
    };
    try {
        // A thread that does not start ends the run as an error; the ones already running are
        // stopped and joined by the handler below, never left joinable.
        try {
            for (unsigned i = 0; i < jobs_; ++i) checkers.emplace_back([this] { CheckWorker(); });
            for (unsigned i = 0; repairs && i < connections_; ++i) repairers.emplace_back([this] { RepairWorker(); });
        } catch (const std::system_error& e) {
            throw Error(std::string("cannot start a thread: ") + e.what());
        }
        while (!interrupt_ && !reader.AtEnd()) {
            const ChecklistEntry entry = reader.Next();
            Count(&CheckSummary::entries);
            if (entry.sizeText != "0" && !entry.size) throw Error(ConversionErrorText(entry.sizeText));
            const EntryTarget target = ResolveEntry(entry);
            if (target.kind == TargetKind::Refused) {
                Emit({EventKind::Refused, entry.path, "outside the game folder", "", -1, -1});
                continue;
            }
            if (target.kind == TargetKind::GameRoot || target.kind == TargetKind::Folder) {
                Count(&CheckSummary::folders);
                // The game folder itself is there: the check runs in it.
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
            checkQueue_.Push(FileJob{entry.path, target.path, *entry.size, entry.crcText});
        }
    } catch (...) {
        abort_ = true;
        finish();
        throw;
    }
    finish();
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

void Engine::CheckWorker() {
    std::vector<char> buffer(kReadBlock);
    while (const std::optional<FileJob> job = checkQueue_.Pop()) {
        if (Halted()) continue;  // drained, so that the reader never waits on a full queue
        try {
            if (o_.verifyServer)
                VerifyFile(*job);
            else
                CheckFile(*job, buffer);
        } catch (const Stopped&) {
        } catch (const std::exception& e) {
            Emit({EventKind::Bad, job->path, e.what(), "", job->size, -1});
        }
    }
}

void Engine::CheckFile(const FileJob& job, std::vector<char>& buffer) {
    const std::string place = EntryPlace(o_.gameDir, job.placePath);
    const char* reason = nullptr;
    uint64_t bytes = 0;
    if (!FileExists(place)) {
        reason = "missing";
    } else if (FileSize64(place) != job.size) {
        reason = "size";
    } else {
        const std::optional<uint32_t> crc = FileCrc(place, interrupt_, buffer, bytes);
        if (interrupt_ || abort_) return;
        if (!crc) reason = "unreadable";
        else if (Crc32Text(*crc) != job.crcText) reason = "crc";
    }
    {
        std::lock_guard lock(mutex_);
        summary_.bytesChecked += bytes;
    }
    if (!reason) {
        Emit({EventKind::Checked, job.path, "", "", job.size, -1});
        return;
    }
    Emit({EventKind::Bad, job.path, reason, "", job.size, -1});
    if (o_.repair || o_.dryRun) repairQueue_.Push(job);
}

void Engine::VerifyFile(const FileJob& job) {
    const std::string source = FileSource(job.path);
    if (!FileExists(source)) {
        Emit({EventKind::Bad, job.path, "missing on the server", source, job.size, -1});
        return;
    }
    uint32_t reg = 0xFFFFFFFFu;
    uint64_t size = 0;
    const bool decoded = DecodeLzmaFile(source, [&](const void* data, size_t n) {
        if (interrupt_ || abort_) throw Stopped{};
        reg = Crc32Update(reg, data, n);
        size += n;
    });
    {
        std::lock_guard lock(mutex_);
        summary_.bytesChecked += size;
    }
    const char* reason = nullptr;
    if (!decoded) reason = "does not unpack";
    else if (size != static_cast<uint64_t>(job.size)) reason = "unpacks to another size";
    else if (Crc32Text(reg ^ 0xFFFFFFFFu) != job.crcText) reason = "unpacks to another CRC-32";
    Emit({reason ? EventKind::Bad : EventKind::Checked, job.path, reason ? reason : "", source, job.size,
          FileSize64(source)});
}

void Engine::RepairWorker() {
    std::unique_ptr<Fetcher> fetcher;
    if (!FromRoot()) fetcher = platform_.newFetcher();
    while (const std::optional<FileJob> job = repairQueue_.Pop()) {
        if (Halted()) continue;
        try {
            RepairFile(*job, fetcher.get());
        } catch (const std::exception& e) {
            Emit({EventKind::RepairFailed, job->path, e.what(), "", job->size, -1});
        }
    }
}

void Engine::RepairFile(const FileJob& job, Fetcher* fetcher) {
    const std::string source = FileSource(job.path);
    if (o_.dryRun) {
        int64_t bytes = -1;
        if (!fetcher) {
            bytes = FileSize64(source);
            if (bytes < 0) {
                Emit({EventKind::RepairFailed, job.path, "missing on the server", source, job.size, -1});
                return;
            }
        } else {
            const FetchResult head = fetcher->Head(source);
            if (head.status != 200) {
                Emit({EventKind::RepairFailed, job.path, head.error, source, job.size, -1});
                return;
            }
            bytes = head.length;
        }
        Emit({EventKind::WouldFetch, job.path, "", source, job.size, bytes});
        return;
    }

    const std::string place = EntryPlace(o_.gameDir, job.placePath);
    std::string input = source;
    int64_t bytes = FileSize64(source);
    if (fetcher) {
        input = DownloadTargetPath(place);
        const FetchResult got = fetcher->Get(source, input, interrupt_);
        if (!got.ok) {
            if (!interrupt_) Emit({EventKind::RepairFailed, job.path, got.error, source, job.size, -1});
            return;
        }
        bytes = FileSize64(input);
    } else if (bytes < 0) {
        Emit({EventKind::RepairFailed, job.path, "missing on the server", source, job.size, -1});
        return;
    }

    // The new content is checked against the list before it takes the file's place, so that a
    // server file that does not match never replaces anything.
    std::string failure = "does not unpack";
    std::vector<char> buffer(kReadBlock);
    const auto unpack = [&](const std::string& in, const std::string& out) {
        if (!TLZMAAlone().Main(in, out, "d")) return false;
        uint64_t read = 0;
        const std::optional<uint32_t> crc = FileCrc(out, interrupt_, buffer, read);
        if (!crc) {
            failure = "interrupted";
            return false;
        }
        if (read != static_cast<uint64_t>(job.size) || Crc32Text(*crc) != job.crcText) {
            failure = "the server's file unpacks to another size or CRC-32";
            return false;
        }
        if (!platform_.makeNormal) return true;
        platform_.makeNormal(place);
        return true;
    };
    const auto replace = [&](const std::string& from, const std::string& to) {
        if (platform_.replaceFile(from, to)) return true;
        failure = "cannot replace the file";
        return false;
    };
    const bool done = UnpackIntoPlace(input, place, unpack, replace, &RemoveFile);
    if (fetcher) RemoveFile(input);
    if (done)
        Emit({EventKind::Repaired, job.path, "", source, job.size, bytes});
    else if (!interrupt_)
        Emit({EventKind::RepairFailed, job.path, failure, source, job.size, -1});
}

}  // namespace

CheckSummary RunCheck(const CheckOptions& options, const CheckPlatform& platform, CheckSink& sink,
                      const std::atomic<bool>& stop) {
    Engine engine(options, platform, sink, stop);
    return engine.Run();
}

}  // namespace orv::check
