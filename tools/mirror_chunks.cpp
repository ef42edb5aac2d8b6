// The chunk side of the mirror. A chunk's name is its SHA-256, so once proved it is never fetched
// again; what a hostile server can do is send other bytes under the name or more bytes than the
// index allows, and both are refused here before the file is renamed into the store.
#include "tools/mirror_chunks.h"

#include "tools/mirror_run.h"

#include "launcher/base/errors.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"

namespace orv::mirror {

ChunkIndex LoadChunkIndex(const std::string& staged, const std::string& checklist, const Statement* statement) {
    const std::string name = checklist + ".dim.chunks";
    if (statement) {
        const FileDigest digest = Sha256OfFile(staged);
        if (!statement->chunksSha256 || digest.sha256 != *statement->chunksSha256 ||
            digest.size != statement->chunksSize)
            throw Error("the chunk index " + name + " is not the one its checklist statement names: refused");
    }
    ChunkIndexRead read = ReadChunkIndex(staged, kChunkIndexMaxBytes);
    if (!read.index) throw Error("the chunk index " + name + " is refused: " + read.error);
    return std::move(*read.index);
}

std::string ProveChunk(const std::string& path, const IndexedChunk& chunk, std::string& crcText,
                       const std::atomic<bool>& stop) {
    struct TooLong {};
    struct Stopped {};
    Sha256 sha;
    uint32_t reg = 0xFFFFFFFFu;
    uint64_t total = 0;
    bool decoded = false;
    try {
        decoded = DecodeLzmaFile(path, [&](const void* data, size_t n) {
            if (stop) throw Stopped{};
            total += n;
            if (total > chunk.size) throw TooLong{};
            sha.Update(data, n);
            reg = Crc32Update(reg, data, n);
        });
    } catch (const Stopped&) {
        return "stopped";
    } catch (const TooLong&) {
        return "unpacks to more than the chunk's size";
    }
    if (!decoded) return "does not unpack";
    if (total != chunk.size) return "unpacks to another size";
    if (sha.Finish() != chunk.sha256) return "unpacks to another SHA-256";
    crcText = Crc32Text(reg ^ 0xFFFFFFFFu);
    return {};
}

std::string FetchChunk(Fetcher& fetcher, const std::string& url, const std::string& part, const IndexedChunk& chunk,
                       std::string& crcText, const std::atomic<bool>& stop) {
    std::atomic<bool> cut{false};
    bool tooLarge = false;
    const FetchResult result = fetcher.Get(url, part, cut, [&](int64_t written, const std::string&) {
        if (written > static_cast<int64_t>(chunk.packedSize)) tooLarge = true;
        if (tooLarge || stop) cut = true;
    });
    const auto drop = [&](std::string why) {
        if (FileExists(part)) RemoveFile(part);
        return why;
    };
    if (tooLarge) return drop("the server sends more than its packed size of " + std::to_string(chunk.packedSize));
    if (stop) return drop("stopped");
    if (!result.ok) return drop(result.error.empty() ? "cannot fetch " + url : result.error);
    if (FileSize64(part) != static_cast<int64_t>(chunk.packedSize))
        return drop("the server's chunk is not of its indexed packed size");
    const std::string wrong = ProveChunk(part, chunk, crcText, stop);
    if (!wrong.empty()) return drop(wrong == "stopped" ? wrong : "the server's chunk " + wrong);
    return {};
}

bool AddIndexedChunks(const std::string& path, std::set<std::string>& into) {
    try {
        const ChunkIndexRead read = ReadChunkIndex(path, kChunkIndexMaxBytes);
        if (!read.index) return false;
        for (const IndexedChunk& chunk : read.index->Chunks()) into.insert(ChunkPath(DigestHex(chunk.sha256)));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---- The run's chunk store.

// Keyed, only an index the checklist's statement names is taken; unkeyed, whatever the server has.
void MirrorRun::StageChunkIndex(Build& build) {
    const std::string relative = ChunkIndexPath(build.checklist, o_.gameCode);
    const std::string staged = build.staging + "/checklist.dim.chunks";
    if (o_.publicKey) {
        if (!build.statement.chunksSha256) return;
        if (build.statement.chunksSize > kChunkIndexMaxBytes)
            throw Error("the checklist statement of " + build.checklist + " names a chunk index of more than " +
                        std::to_string(kChunkIndexMaxBytes) + " bytes: refused");
        const std::unique_ptr<Fetcher> fetcher = NewFetcher(false);
        check::FetchBounded(*fetcher, ServerUrl(relative, o_.server), staged, build.statement.chunksSize, stop_);
    } else if (!FetchSmall(relative, staged, false, kChunkIndexMaxBytes)) {
        return;
    }
    build.chunks = LoadChunkIndex(staged, build.checklist, o_.publicKey ? &build.statement : nullptr);
    std::lock_guard lock(mutex_);
    ++summary_.chunkIndexes;
}

void MirrorRun::SubmitChunks(size_t index) {
    for (const IndexedChunk& chunk : builds_[index].chunks->Chunks()) {
        if (stop_) return;
        std::string path = ChunkPath(DigestHex(chunk.sha256));
        if (wanted_.count(path)) continue;  // another file or build holds it too
        if (wanted_.size() >= kMostMirrorFiles)
            throw Error("the server lists more than " + std::to_string(kMostMirrorFiles) + " files: refused");
        wanted_.insert(path);
        Job job;
        job.build = index;
        job.chunk = true;
        job.indexed = chunk;
        job.url = ServerUrl(path, o_.server);
        {
            std::lock_guard lock(mutex_);
            ++summary_.chunks;
            const auto found = state_.find(path);
            job.decision = DecideChunk(found == state_.end() ? nullptr : &found->second, Probe(Dir(path)), chunk);
            if (job.decision == Decision::Keep) {
                ++summary_.chunksKept;
                continue;
            }
            if (job.decision == Decision::Fetch && o_.dryRun) {
                ++summary_.chunksToFetch;
                summary_.chunkBytesToFetch += chunk.packedSize;
                continue;
            }
        }
        job.path = std::move(path);
        Submit(std::move(job));
    }
}

void MirrorRun::WorkChunk(const Job& job, Fetcher& fetcher) {
    const std::string place = Dir(job.path);
    std::string crcText;
    const auto keep = [&](bool fetched) {
        const DiskFile disk = Probe(place);
        std::lock_guard lock(mutex_);
        Record(job.path, {builds_[job.build].checklist, disk.size, disk.mtime, job.indexed.size, crcText,
                          DigestHex(job.indexed.sha256)});
        if (fetched) {
            ++summary_.chunksFetched;
            summary_.chunkBytesFetched += job.indexed.packedSize;
        } else {
            ++summary_.chunksKept;
        }
        SaveState(false);
    };
    if (job.decision == Decision::Verify) {
        if (ProveChunk(place, job.indexed, crcText, stop_).empty()) return keep(false);
        if (stop_) return;
        if (o_.dryRun) {
            std::lock_guard lock(mutex_);
            ++summary_.chunksToFetch;
            summary_.chunkBytesToFetch += job.indexed.packedSize;
            return;
        }
    }
    CreateDirectories(Dir(ParentOf(job.path)));
    const std::string part = place + kPartSuffix;
    std::string wrong = FetchChunk(fetcher, job.url, part, job.indexed, crcText, stop_);
    if (wrong.empty()) {
        platform_.makeNormal(place);
        if (platform_.replaceFile(part, place)) return keep(true);
        RemoveFile(part);
        wrong = "cannot put the chunk in place";
    }
    if (stop_) return;
    std::lock_guard lock(mutex_);
    failedChunks_.insert(job.path);
    Emit({MirrorEventKind::Failed, job.path, wrong, -1});
}

// A chunk is fetched for the first build that names it; every build naming it waits for it.
void MirrorRun::FailBuildsOfFailedChunks() {
    if (failedChunks_.empty()) return;
    for (Build& build : builds_) {
        if (!build.chunks || build.failed) continue;
        for (const IndexedChunk& chunk : build.chunks->Chunks())
            if (failedChunks_.count(ChunkPath(DigestHex(chunk.sha256)))) {
                build.failed = true;
                break;
            }
    }
}

// A chunk goes only when no index the mirror keeps names it: those of this run's builds (their
// chunks are wanted) and those of builds it keeps without having walked them, read from the
// mirror. One that cannot be read keeps every chunk.
void MirrorRun::AddLeavingChunks(std::vector<std::string>& leaving, const std::vector<std::string>& candidates) {
    const std::set<std::string> going(leaving.begin(), leaving.end());
    std::vector<std::string> kept;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [path, record] : state_)
            if (path.ends_with(".dim.chunks") && !wanted_.count(path) && !going.count(path)) kept.push_back(path);
    }
    std::set<std::string> held;
    for (const std::string& index : kept)
        if (!AddIndexedChunks(Dir(index), held)) return;
    for (const std::string& chunk : candidates)
        if (!held.count(chunk)) leaving.push_back(chunk);
}

}  // namespace orv::mirror
