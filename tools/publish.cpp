#include "tools/publish.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>
#include <thread>

#include "launcher/base/errors.h"
#include "launcher/platform/utf8.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/keep_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"
#include "tools/publish_chunks.h"

namespace orv::publish {
namespace fs = std::filesystem;

// ---- Paths: the tool speaks UTF-8, the file system its own encoding.

fs::path ToFsPath(const std::string& utf8) {
#ifdef _WIN32
    const std::u16string wide = Utf8ToUtf16(utf8);
    return fs::path(std::wstring(wide.begin(), wide.end()));
#else
    return fs::path(utf8);
#endif
}

std::string FromFsPath(const fs::path& path) {
#ifdef _WIN32
    const std::wstring wide = path.wstring();
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
#else
    return path.string();
#endif
}

fs::path BelowFolder(const fs::path& dir, std::string_view relative) {
    fs::path result = dir;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = std::min(relative.find('/', start), relative.size());
        result /= ToFsPath(std::string(relative.substr(start, slash - start)));
        start = slash + 1;
    }
    return result;
}

namespace {

using Clock = std::chrono::steady_clock;

// Files in progress get this suffix until they are complete, so that the server never serves half
// of one under its real name.
constexpr const char* kPartSuffix = ".publishing";

std::string Backslashed(std::string text) {
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// The checklist's form of a relative path: "\" before it, "\" between its names.
std::string ListedPath(const std::string& relative) {
    std::string listed(1, '\\');
    listed += Backslashed(relative);
    return listed;
}

bool IsValidUtf8(const std::string& text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

std::u16string FoldCase(const std::string& utf8) { return FoldLetterCase(utf8); }

// Segments of server paths and addresses: they go into URLs as they are, so only characters that
// need no escaping there.
bool IsPlainUrlText(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.' || c == '~';
    });
}

void CheckServerPath(std::string_view what, std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, slash - start);
        if (!IsPlainUrlText(segment) || segment == "." || segment == "..")
            throw Error(std::string(what) + " \"" + std::string(path) +
                        "\" must be names of letters, digits and - _ . ~ separated by \"/\", with no \".\" or \"..\"");
        start = slash + 1;
    }
}

std::string Encode(std::string_view what, const std::string& text, CodePage page) {
    const CodePageText encoded = Utf8ToAnsi(text, page);
    if (!encoded.lossless)
        throw Error(std::string(what) + " \"" + text + "\" cannot be written in code page " +
                    std::to_string(CodePageNumber(page)) + ": it has no character \"" +
                    Utf8CharacterAt(text, encoded.firstFailure) + "\"");
    return encoded.text;
}

// Where the launcher will look for a build file's ".lzma", below the server root.
fs::path GameFilePlace(const fs::path& root, const std::string& downloadPath, const std::string& relative) {
    return BelowFolder(root, GameFileUrl(downloadPath, ListedPath(relative)));
}

// ---- The build as found on disk.

struct BuildFile {
    std::string relative;  // "/"-separated, UTF-8
    fs::path source;
    uint64_t size = 0;
    fs::file_time_type modified;
    uint32_t crc = 0;
    Sha256Digest sha256{};  // only when signing or chunked
    bool packedNow = false;  // compressed by this run
    uint64_t packed = 0;     // size of its ".lzma"
    bool chunked = false;    // cut into the chunk store
    std::vector<IndexedChunk> chunks;
};

struct Build {
    std::vector<std::string> folders;  // "/"-separated, UTF-8
    std::vector<BuildFile> files;
};

Build Walk(const fs::path& root, CodePage page) {
    if (!fs::is_directory(root)) throw Error("The build folder " + FromFsPath(root) + " does not exist");
    Build build;
    std::map<std::u16string, std::string> folded;  // letter-case-free names seen, for clashes
    fs::recursive_directory_iterator it(root, fs::directory_options::none), end;
    for (; it != end; ++it) {
        const fs::directory_entry& entry = *it;
        std::string relative;
        for (const fs::path& part : entry.path().lexically_relative(root)) {
            const std::string name = FromFsPath(part);
            if (!IsValidUtf8(name)) throw Error("The name of " + FromFsPath(entry.path()) + " is not UTF-8 text");
            if (name.find('\\') != std::string::npos)
                throw Error("The name of " + FromFsPath(entry.path()) +
                            " holds a backslash, a folder separator on Windows");
            if (!relative.empty()) relative += '/';
            relative += name;
        }
        if (!IsSafeRelativeEntryPath(ListedPath(relative)))
            throw Error("\"" + relative +
                        "\" cannot be published: Windows would not keep that name inside the game folder");
        Encode("The file name", relative, page);
        const auto [clash, added] = folded.emplace(FoldCase(relative), relative);
        if (!added)
            throw Error("\"" + relative + "\" and \"" + clash->second +
                        "\" differ only in letter case: a Windows game folder holds only one of them");

        const fs::file_status status = entry.symlink_status();
        if (fs::is_symlink(status))
            throw Error("\"" + relative + "\" is a symbolic link: publish the file or folder it points to instead");
        if (fs::is_directory(status)) {
            build.folders.push_back(relative);
        } else if (fs::is_regular_file(status)) {
            BuildFile file;
            file.relative = relative;
            file.source = entry.path();
            file.size = fs::file_size(entry.path());
            file.modified = fs::last_write_time(entry.path());
            build.files.push_back(std::move(file));
        } else {
            throw Error("\"" + relative + "\" is neither a file nor a folder");
        }
    }
    std::sort(build.folders.begin(), build.folders.end());
    std::sort(build.files.begin(), build.files.end(),
              [](const BuildFile& a, const BuildFile& b) { return a.relative < b.relative; });
    return build;
}

// ---- The manifest: what each ".lzma" of the download folder was made from.

struct ManifestEntry {
    uint64_t size = 0;
    uint32_t crc = 0;
    uint64_t packed = 0;
};
using Manifest = std::map<std::string, ManifestEntry>;

Manifest LoadManifest(const fs::path& path) {
    Manifest manifest;
    if (!fs::exists(path)) return manifest;
    const nlohmann::json document = nlohmann::json::parse(ReadFileBytes(FromFsPath(path)), nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("files") ||
        !document["files"].is_object())
        return manifest;  // unreadable: every file is compressed again
    for (const auto& [name, value] : document["files"].items()) {
        if (!value.is_object() || !value.value("size", nlohmann::json()).is_number_unsigned() ||
            !value.value("crc", nlohmann::json()).is_number_unsigned() ||
            !value.value("packed", nlohmann::json()).is_number_unsigned())
            continue;
        // The names decide which files a later run deletes: only plain relative names count.
        if (!IsSafeRelativeEntryPath(ListedPath(name)) || name.find('\\') != std::string::npos) continue;
        manifest[name] = {value["size"].get<uint64_t>(), value["crc"].get<uint32_t>(), value["packed"].get<uint64_t>()};
    }
    return manifest;
}

void SaveManifest(const fs::path& path, const Manifest& manifest) {
    nlohmann::ordered_json files = nlohmann::ordered_json::object();
    for (const auto& [name, entry] : manifest)
        files[name] = {{"size", entry.size}, {"crc", entry.crc}, {"packed", entry.packed}};
    const nlohmann::ordered_json document = {{"version", 1}, {"files", files}};
    WriteFileReplacing(FromFsPath(path), document.dump(1, '\t', false) + "\n");
}

// ---- Compressing.

struct Sum {
    uint32_t crc;
    uint64_t bytes;
    Sha256Digest sha256;
};

// The SHA-256 and the chunks come from the same pass as the CRC-32, so signing and cutting read
// no file twice, and the chunks are those of the bytes the checklist's CRC-32 describes.
Sum SumFile(const fs::path& path, bool hash, ChunkCutter* cutter) {
    File file = File::OpenRead(FromFsPath(path));
    std::vector<char> buffer(size_t{1} << 20);
    std::optional<Sha256> sha;
    if (hash) sha.emplace();
    uint32_t reg = 0xFFFFFFFFu;
    uint64_t total = 0;
    for (;;) {
        const size_t got = file.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        reg = Crc32Update(reg, buffer.data(), got);
        if (sha) sha->Update(buffer.data(), got);
        if (cutter) cutter->Feed(buffer.data(), got);
        total += got;
    }
    if (cutter) cutter->Finish();
    return {reg ^ 0xFFFFFFFFu, total, sha ? sha->Finish() : Sha256Digest{}};
}

// Replaces `target` with `part`, which is complete.
void Commit(const fs::path& part, const fs::path& target) {
    std::error_code ec;
    fs::rename(part, target, ec);
    if (ec) {
        fs::remove(part, ec);
        throw Error("Cannot put " + FromFsPath(target) + " in place: " + ec.message());
    }
}


// What the workers share: the next file to take, the first error, the files finished.
struct Work {
    std::vector<BuildFile>* files = nullptr;
    const Manifest* manifest = nullptr;
    fs::path root;
    std::string downloadPath;
    bool hash = false;
    ChunkStoreWriter* store = nullptr;  // none: no chunks
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    std::condition_variable changed;
    std::exception_ptr error;
    std::vector<size_t> finished;  // indices not yet reported
    size_t running = 0;
};

void ProcessFile(Work& work, BuildFile& file) {
    // Unchanged files are cut as well: the index lists every large file, and the store may lack
    // their chunks (a build published before with --no-chunks, or a store moved aside).
    const bool chunked = work.store != nullptr && file.size >= kChunkedFileMinSize;
    file.chunks.clear();
    std::optional<ChunkCutter> cutter;
    if (chunked)
        cutter.emplace([&](const ChunkPiece& piece, const uint8_t* bytes) {
            file.chunks.push_back({piece.sha256, piece.size, work.store->Put(piece, bytes), piece.offset});
        });
    const Sum sum = SumFile(file.source, work.hash || chunked, cutter ? &*cutter : nullptr);
    if (sum.bytes != file.size)
        throw Error(FromFsPath(file.source) + " changed or could not be read while it was being published");
    file.crc = sum.crc;
    file.sha256 = sum.sha256;
    file.chunked = chunked;
    if (file.size == 0) return;  // the launcher makes empty files itself and never fetches them

    const fs::path target = GameFilePlace(work.root, work.downloadPath, file.relative);
    const auto known = work.manifest->find(file.relative);
    std::error_code ec;
    const uintmax_t existing = fs::file_size(target, ec);
    if (!ec && known != work.manifest->end() && known->second.size == file.size && known->second.crc == file.crc &&
        known->second.packed == existing) {
        file.packed = existing;
        return;
    }
    CompressFile(file.source, target);
    // A file written to while it was packed would not match the checksum listed for it.
    if (fs::file_size(file.source) != file.size || fs::last_write_time(file.source) != file.modified)
        throw Error(FromFsPath(file.source) + " changed while it was being published");
    file.packed = fs::file_size(target);
    file.packedNow = true;
}

void Worker(Work& work) {
    for (;;) {
        const size_t index = work.next.fetch_add(1);
        if (index >= work.files->size() || work.failed) break;
        try {
            ProcessFile(work, (*work.files)[index]);
        } catch (const std::exception& e) {
            // The platform's messages do not say which file they are about.
            std::lock_guard<std::mutex> guard(work.lock);
            if (!work.error)
                work.error = std::make_exception_ptr(Error((*work.files)[index].relative + ": " + e.what()));
            work.failed = true;
            break;
        }
        std::lock_guard<std::mutex> guard(work.lock);
        work.finished.push_back(index);
        work.changed.notify_one();
    }
    std::lock_guard<std::mutex> guard(work.lock);
    --work.running;
    work.changed.notify_one();
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

void PackFiles(Build& build, const Manifest& manifest, const fs::path& root, const std::string& downloadPath,
               unsigned jobs, bool hash, ChunkStoreWriter* store, const ProgressSink& progress,
               const fs::path& manifestPath) {
    Work work;
    work.hash = hash;
    work.store = store;
    work.files = &build.files;
    work.manifest = &manifest;
    work.root = root;
    work.downloadPath = downloadPath;
    const unsigned threads = std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(build.files.size())));
    work.running = threads;
    std::vector<std::thread> pool;
    // However this ends, the workers are told to stop and are waited for: also when one of them does
    // not start, so that no thread is left joinable.
    struct Joiner {
        Work& work;
        std::vector<std::thread>& pool;
        ~Joiner() {
            work.failed = true;
            for (std::thread& t : pool)
                if (t.joinable()) t.join();
        }
    } joiner{work, pool};
    try {
        for (unsigned i = 0; i < threads; ++i) pool.emplace_back(Worker, std::ref(work));
    } catch (const std::system_error& e) {
        throw Error(std::string("cannot start a thread: ") + e.what());
    }

    uint64_t total = 0;
    for (const BuildFile& f : build.files) total += f.size;
    size_t done = 0;
    uint64_t doneBytes = 0;
    Manifest progressManifest = manifest;
    auto lastReport = Clock::now();
    auto lastSave = Clock::now();
    std::unique_lock<std::mutex> guard(work.lock);
    while (work.running > 0 || !work.finished.empty()) {
        work.changed.wait_for(guard, std::chrono::seconds(2),
                              [&] { return !work.finished.empty() || work.running == 0; });
        std::vector<size_t> finished;
        finished.swap(work.finished);
        guard.unlock();
        bool packedSome = false;
        for (const size_t index : finished) {
            const BuildFile& f = build.files[index];
            ++done;
            doneBytes += f.size;
            if (f.size > 0) progressManifest[f.relative] = {f.size, f.crc, f.packed};
            if (!f.packedNow) continue;
            packedSome = true;
            std::string line = "[";
            line.append(std::to_string(done)).append("/").append(std::to_string(build.files.size())).append("] ");
            line.append(f.relative).append(" (").append(std::to_string(f.size)).append(" -> ");
            line.append(std::to_string(f.packed)).append(" bytes)");
            progress(line);
            lastReport = Clock::now();
        }
        if (Clock::now() - lastReport >= std::chrono::seconds(5)) {
            progress("checked " + std::to_string(done) + " of " + std::to_string(build.files.size()) + " files, " +
                     Megabytes(doneBytes) + " of " + Megabytes(total));
            lastReport = Clock::now();
        }
        // Now and then the manifest records what is done, so that an interrupted run resumes.
        if (packedSome && Clock::now() - lastSave >= std::chrono::seconds(30)) {
            SaveManifest(manifestPath, progressManifest);
            lastSave = Clock::now();
        }
        guard.lock();
    }
    guard.unlock();
    for (std::thread& t : pool) t.join();
    std::lock_guard<std::mutex> errorGuard(work.lock);
    if (work.error) std::rethrow_exception(work.error);
}

// ---- The files the launcher reads.

// Writes `bytes` compressed at `target` unless it holds them already; true when it wrote.
bool PutCompressedText(const fs::path& target, const std::string& bytes) {
    const fs::path plain = fs::path(target).replace_extension() += kPartSuffix;  // "x.dim.lzma" -> "x.dim.publishing"
    if (fs::exists(target)) {
        const fs::path unpacked = fs::path(plain) += ".old";
        bool same = false;
        try {
            same = TLZMAAlone().Main(FromFsPath(target), FromFsPath(unpacked), "d") && ReadFileBytes(FromFsPath(unpacked)) == bytes;
        } catch (const Error&) {
            same = false;  // unreadable: replaced below
        }
        std::error_code ec;
        fs::remove(unpacked, ec);
        if (same) return false;
    }
    fs::create_directories(target.parent_path());
    WriteFileReplacing(FromFsPath(plain), bytes);
    try {
        CompressFile(plain, target);
    } catch (...) {
        std::error_code ec;
        fs::remove(plain, ec);
        throw;
    }
    std::error_code ec;
    fs::remove(plain, ec);
    return true;
}

// Writes `bytes` at `target` unless it holds them already; true when it wrote.
bool PutFile(const fs::path& target, const std::string& bytes) {
    if (fs::exists(target) && ReadFileBytes(FromFsPath(target)) == bytes) return false;
    fs::create_directories(target.parent_path());
    WriteFileReplacing(FromFsPath(target), bytes);
    return true;
}

std::string KeepListBytes(const Build& build, KeepListMode mode, const fs::path& target, CodePage page) {
    std::set<std::string> files, dirs;
    if (mode == KeepListMode::Merge && fs::exists(target)) {
        KeepList old;
        try {
            old = ReadKeepList(ReadFileBytes(FromFsPath(target)), page);
        } catch (const Error& e) {
            throw Error("Cannot merge with the keep list " + FromFsPath(target) + ": " + e.what());
        }
        files.insert(old.Files.begin(), old.Files.end());
        dirs.insert(old.Dirs.begin(), old.Dirs.end());
    }
    for (const BuildFile& f : build.files) files.insert(Backslashed(f.relative));
    for (const std::string& d : build.folders) dirs.insert(Backslashed(d));
    return WriteKeepList({{files.begin(), files.end()}, {dirs.begin(), dirs.end()}});
}

// Deletes the ".lzma" files of an earlier publish whose source has gone, and folders left empty.
size_t RemoveStale(const Manifest& old, const Build& build, const fs::path& root, const std::string& downloadPath) {
    const fs::path downloadFolder = BelowFolder(root, downloadPath);
    std::set<std::string> current;
    for (const BuildFile& f : build.files)
        if (f.size > 0) current.insert(f.relative);
    size_t removed = 0;
    for (const auto& [name, entry] : old) {
        if (current.count(name)) continue;
        const fs::path target = GameFilePlace(root, downloadPath, name);
        std::error_code ec;
        if (fs::remove(target, ec)) ++removed;
        for (fs::path dir = target.parent_path(); dir != downloadFolder && dir.has_relative_path();
             dir = dir.parent_path()) {
            if (!fs::is_empty(dir, ec) || ec || !fs::remove(dir, ec)) break;
        }
    }
    return removed;
}

struct Places {
    std::string downloadPath;
    std::string downloadUrl;
};

Places ResolveDownloadPlace(const PublishOptions& o) {
    if (o.serverBase.empty() || o.serverBase.back() != '/')
        throw Error("The server base \"" + o.serverBase + "\" must end with \"/\"");
    Places places;
    std::string url = o.downloadUrl;
    while (!url.empty() && url.back() == '/') url.pop_back();
    std::string path = o.downloadPath;
    while (!path.empty() && path.back() == '/') path.pop_back();
    if (url.empty() && path.empty()) throw Error("Give --download-path or --download-url");
    if (!url.empty()) {
        if (const std::optional<std::string> derived = DownloadPathOf(url, o.serverBase)) {
            if (!path.empty() && path != *derived)
                throw Error("--download-url " + url + " lies at " + *derived + " below the server base, not at " +
                            path);
            path = *derived;
        } else if (path.empty()) {
            throw Error("--download-url " + url + " is not below the server base " + o.serverBase +
                        ": give --download-path too, for the folder below the server root that it serves");
        }
    } else {
        url = DownloadAddress(path, o.serverBase);
    }
    CheckServerPath("The download path", path);
    places.downloadPath = path;
    places.downloadUrl = url;
    return places;
}

bool SameOrInside(const fs::path& inner, const fs::path& outer) {
    const fs::path a = fs::weakly_canonical(inner), b = fs::weakly_canonical(outer);
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty()) continue;  // a trailing separator
        if (ai == a.end() || *ai != *bi) return false;
    }
    return true;
}

// The hash list in the checklist's own order (it adds folders and sorts), then its statement.
uint64_t SignPublishedChecklist(const StatementSigner& signer, const Build& build, const std::string& checklistBytes,
                                const PublishOptions& o, const fs::path& root) {
    std::map<std::string, FileDigest> digests;  // by the checklist's path
    for (const BuildFile& f : build.files) digests[ListedPath(f.relative)] = {f.sha256, f.size};
    ChecklistReader reader(checklistBytes, AnsiTextDecoder(o.codePage));
    const uint64_t entries =
        WriteHashList(BelowFolder(root, HashListPath(o.checklistName, o.gameCode)), reader, [&](const ChecklistEntry& e) {
            const auto it = digests.find(e.path);
            if (it == digests.end()) throw Error("The checklist lists " + e.path + ", which is not in the build");
            return it->second;
        });
    return SignChecklist(signer, root, o.gameCode, o.checklistName, entries);
}

// The index of the chunked files, or none (and an earlier one gone) when there are none.
void PlaceBuildChunkIndex(Build& build, const std::string& checklistBytes, const PublishOptions& o,
                          const fs::path& root, const ChunkStoreWriter* store, PublishSummary& summary) {
    std::vector<ChunkedFile> chunked;
    for (BuildFile& f : build.files) {
        if (!f.chunked) continue;
        summary.chunks += f.chunks.size();
        chunked.push_back({ListedPath(f.relative), f.size, f.sha256, std::move(f.chunks)});
    }
    summary.chunkedFiles = chunked.size();
    std::optional<std::string> text;
    if (!chunked.empty()) {
        std::vector<const ChunkedFile*> files;
        for (const ChunkedFile& f : chunked) files.push_back(&f);
        text = ChunkIndexText(BuildChunkIndex(checklistBytes, o.codePage, files));
    }
    const bool changed = PlaceChunkIndex(BelowFolder(root, ChunkIndexPath(o.checklistName, o.gameCode)), text);
    (text ? summary.chunkIndexWritten : summary.chunkIndexRemoved) = changed;
    if (store) {
        const ChunkStoreTally tally = store->Tally();
        summary.chunksWritten = tally.written;
        summary.chunksPresent = tally.present;
        summary.chunkStoreGrewBy = tally.grewBy;
    }
}

}  // namespace

void CompressFile(const fs::path& source, const fs::path& target) {
    fs::create_directories(target.parent_path());
    const fs::path part = fs::path(target) += kPartSuffix;
    bool done = false;
    try {
        done = TLZMAAlone().Main(FromFsPath(source), FromFsPath(part), "e");
    } catch (...) {
        std::error_code ec;
        fs::remove(part, ec);
        throw;
    }
    if (!done) {
        std::error_code ec;
        fs::remove(part, ec);
        throw Error("Cannot compress " + FromFsPath(source));
    }
    Commit(part, target);
}

PublishSummary Publish(const PublishOptions& o, const ProgressSink& progress) {
    const auto start = Clock::now();
    PublishSummary summary;

    // Everything that can be refused is refused before anything is written.
    CheckServerPath("The game code", o.gameCode);
    if (o.gameCode.find('/') != std::string::npos) throw Error("The game code \"" + o.gameCode + "\" names one folder");
    if (!IsPlainUrlText(o.checklistName) || o.checklistName.front() == '.')
        throw Error("The checklist name \"" + o.checklistName +
                    "\" must be letters, digits and - _ . ~ (it is part of a file name and an address)");
    const Places places = ResolveDownloadPlace(o);
    summary.downloadUrl = places.downloadUrl;
    const CodePage page = o.codePage;
    CatalogueBuild entry;
    entry.gameName = Encode("The game name", o.gameName, page);
    entry.buildName = Encode("The build name", o.buildName, page);
    entry.checklistName = o.checklistName;
    entry.downloadAddress = Encode("The download address", places.downloadUrl, page);
    entry.gameNumber = o.gameNumber;
    entry.buildNumber = o.buildNumber;
    const std::optional<std::string> appName =
        o.appName ? std::optional<std::string>(Encode("The application name", *o.appName, page)) : std::nullopt;

    const fs::path root = ToFsPath(o.serverRoot);
    const fs::path buildDir = ToFsPath(o.buildDir);
    const fs::path downloadFolder = BelowFolder(root, places.downloadPath);
    const fs::path catalogueFile = BelowFolder(root, CataloguePath(o.gameCode));
    const fs::path checklistFile = BelowFolder(root, ChecklistPath(o.checklistName, o.gameCode));
    const fs::path keepListFile = BelowFolder(root, KeepListPath(o.gameCode));
    const fs::path manifestFile = downloadFolder / ManifestFileName;
    // Either inside the other would publish the server's files as part of the build, or serve the
    // build's raw files next to their compressed copies.
    if (SameOrInside(root, buildDir) || SameOrInside(buildDir, root))
        throw Error("The build folder and the server root must lie apart: neither may hold the other");

    progress("reading " + o.buildDir);
    Build build = Walk(buildDir, page);
    summary.files = build.files.size();
    summary.folders = build.folders.size();
    for (const BuildFile& f : build.files) summary.bytes += f.size;
    if (build.files.empty() && build.folders.empty()) throw Error("The build folder " + o.buildDir + " is empty");

    // A game file must not take the place of a resource of the server.
    std::map<std::u16string, std::string> reserved;
    for (const std::string& path :
         {CataloguePath(o.gameCode), ChecklistPath(o.checklistName, o.gameCode), KeepListPath(o.gameCode),
          UpdateDescriptionPath(o.gameCode), UpdateInstallerPath(o.gameCode),
          ChunkIndexPath(o.checklistName, o.gameCode)})
        reserved[FoldCase(path)] = path;
    for (const BuildFile& f : build.files) {
        const auto clash = reserved.find(FoldCase(GameFileUrl(places.downloadPath, ListedPath(f.relative))));
        if (clash != reserved.end())
            throw Error("\"" + f.relative + "\" would be published as " + clash->second +
                        ", which the server uses for something else: choose another download path");
    }

    // The chunk store is every build's: game files inside it could take a chunk's name.
    const std::string anyChunk = ChunkPath(std::string(64, '0'));
    const std::string storeFolder = anyChunk.substr(0, anyChunk.find('/') + 1);
    if (o.chunks && FoldCase(places.downloadPath + "/").starts_with(FoldCase(storeFolder)))
        throw Error("The download path " + places.downloadPath + " lies inside the chunk store " + storeFolder +
                    ": choose another download path");

    // The catalogue and the keep list are prepared now, so that a catalogue or keep list that cannot
    // be updated stops the run before the long part.
    entry.fileCount = std::to_string(build.files.size());
    Catalogue catalogue = Catalogue::Load(FromFsPath(catalogueFile));
    summary.place = catalogue.PutBuild(entry);
    if (appName) catalogue.SetAppName(summary.place.game, *appName);
    if (o.baseVersion || o.buildVersion) {
        const std::string app = catalogue.AppName(summary.place.game, o.gameCode).bytes;
        catalogue.SetServerVersion(app, o.baseVersion, o.buildVersion);
    }
    std::optional<std::string> keepList;
    if (o.keepList != KeepListMode::Leave) keepList = KeepListBytes(build, o.keepList, keepListFile, page);

    // A key that cannot sign, or another checklist of the catalogue that no statement covers yet,
    // stops the run here too.
    std::optional<StatementSigner> signer;
    if (o.signing.Enabled()) {
        signer.emplace(o.signing);
        CataloguePins(catalogue, o.codePage, root, o.gameCode, o.checklistName);
    }

    const Manifest manifest = LoadManifest(manifestFile);
    const unsigned jobs = o.jobs != 0 ? o.jobs : std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    fs::create_directories(downloadFolder);
    std::optional<ChunkStoreWriter> store;
    if (o.chunks) store.emplace(root);
    PackFiles(build, manifest, root, places.downloadPath, jobs, o.signing.Enabled(), store ? &*store : nullptr,
              progress, manifestFile);

    Manifest published;
    for (const BuildFile& f : build.files) {
        if (f.size > 0) published[f.relative] = {f.size, f.crc, f.packed};
        if (f.packedNow) {
            ++summary.compressed;
            summary.compressedBytes += f.size;
            summary.packedBytes += f.packed;
        } else if (f.size > 0) {
            ++summary.unchanged;
        }
    }
    SaveManifest(manifestFile, published);

    // The files first, then what points at them: a launcher that fetches meanwhile finds either the
    // old checklist or a new one whose files are all in place.
    std::vector<ChecklistItem> items;
    for (const std::string& d : build.folders) items.push_back({Backslashed(d), true, 0, 0});
    for (const BuildFile& f : build.files) items.push_back({Backslashed(f.relative), false, f.size, f.crc});
    const std::string checklistBytes = WriteChecklist(items, page);
    // The chunk index before the checklist: every chunk it names is in the store by now.
    PlaceBuildChunkIndex(build, checklistBytes, o, root, store ? &*store : nullptr, summary);
    summary.checklistWritten = PutCompressedText(checklistFile, checklistBytes);
    if (signer) summary.checklistStatement = SignPublishedChecklist(*signer, build, checklistBytes, o, root);
    summary.catalogueWritten = PutFile(catalogueFile, catalogue.Bytes());
    if (signer) summary.catalogueStatement = SignCatalogue(*signer, root, o.gameCode, o.codePage);
    if (keepList) {
        summary.keepListWritten = PutFile(keepListFile, *keepList);
        // Signed even when unchanged, so that its statement's expiry moves on with the others'.
        if (signer) summary.keepListStatement = SignKeepList(*signer, root, o.gameCode);
    }

    summary.removed = RemoveStale(manifest, build, root, places.downloadPath);
    summary.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return summary;
}

}  // namespace orv::publish
