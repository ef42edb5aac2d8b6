#include "launcher/integrity/chunk_assembly.h"
#include "launcher/net/fetch_rules.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/integrity/chunk_reader.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

// How often the writer looks at the stop flag while it waits for a fetched chunk.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);
// Fetched chunks in memory per connection, waiting for the writer or being fetched.
constexpr size_t kChunksPerConnection = 2;
// The ".lzma" header: properties byte, dictionary size, unpacked size.
constexpr size_t kLzmaHeaderBytes = 13;

enum class From : uint8_t { Old, Holder, Earlier, Fetched };

// Where one chunk of the target comes from.
struct Plan {
    From from = From::Fetched;
    uint32_t holder = 0;  // into the holders' paths
    uint64_t offset = 0;  // in the old file, the holder or the output; for Fetched the task's number
};

struct Failed {
    ChunkFailure failure;
    std::string detail;
};

// Raised by the decoder's sink: the chunk unpacks to more than it may.
struct TooLong {};

// The state the writer and the fetching threads share.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> halt{false};
    size_t nextTask = 0;   // the next task a fetching thread takes
    size_t consumed = 0;   // tasks the writer has taken
    size_t window = 1;
    std::map<size_t, std::string> ready;  // fetched chunks by task
    std::optional<Failed> failed;
    uint64_t bytesFetched = 0;
    uint64_t chunksFetched = 0;

    void Fail(ChunkFailure failure, std::string detail) {
        {
            std::lock_guard lock(mutex);
            if (!failed) failed = Failed{failure, std::move(detail)};
        }
        halt = true;
        changed.notify_all();
    }
};

std::string ChunkName(const IndexedChunk& chunk) { return DigestHex(chunk.sha256); }

// The unpacked size a chunk's ".lzma" declares, or nothing for a header that declares none.
std::optional<uint64_t> DeclaredSize(const std::string& path) {
    File in = File::OpenRead(path);
    unsigned char header[kLzmaHeaderBytes];
    size_t got = 0;
    while (got < sizeof header) {
        const size_t n = in.ReadOrRaise(header + got, sizeof header - got);
        if (n == 0) return std::nullopt;
        got += n;
    }
    uint64_t size = 0;
    for (size_t i = kLzmaHeaderBytes; i-- > 5;) size = (size << 8) | header[i];
    return size;
}

// One chunk from the store into `bytes`, proved; None or why not.
ChunkFailure FetchOne(Fetcher& fetcher, const IndexedChunk& chunk, const std::string& storeBase, const std::string& temp,
                      Shared& shared, std::string& bytes, std::string& detail) {
    const std::string url = ChunkUrl(ChunkName(chunk), storeBase);
    bool tooLarge = false;
    const FetchProgress progress = [&](int64_t written, const std::string& lengthText) {
        // A body larger than any chunk's ends the whole assembly: the server is not to be trusted
        // with the rest either.
        if (BodyBeyond(written, lengthText, kChunkPackedMaxSize)) {
            tooLarge = true;
            shared.halt = true;
        }
    };
    const FetchResult result = fetcher.Get(url, temp, shared.halt, progress);
    struct RemoveTemp {
        const std::string& path;
        ~RemoveTemp() {
            if (FileExists(path)) RemoveFile(path);
        }
    } removeTemp{temp};
    const auto count = [&](int64_t got) {
        std::lock_guard lock(shared.mutex);
        shared.bytesFetched += static_cast<uint64_t>(std::max<int64_t>(got, 0));
    };
    count(result.received);
    if (tooLarge) {
        detail = "chunk " + ChunkName(chunk) + " is larger than " + std::to_string(kChunkPackedMaxSize) + " bytes";
        return ChunkFailure::NotDecodable;
    }
    if (result.status == 404) {
        detail = "chunk " + ChunkName(chunk) + " is not on the server";
        return ChunkFailure::Missing;
    }
    if (result.stopped || shared.halt) return ChunkFailure::Stopped;
    if (!result.ok) {
        detail = "chunk " + ChunkName(chunk) + ": " + result.error;
        return ChunkFailure::Fetch;
    }
    // A client that saves every answer's body leaves an error page here as a success.
    if (result.status != 200) {
        detail = "chunk " + ChunkName(chunk) + ": HTTP status " + std::to_string(result.status);
        return ChunkFailure::Fetch;
    }
    const int64_t packed = FileSize64(temp);
    if (packed < 0 || static_cast<uint64_t>(packed) > kChunkPackedMaxSize) {
        detail = "chunk " + ChunkName(chunk) + " is larger than " + std::to_string(kChunkPackedMaxSize) + " bytes";
        return ChunkFailure::NotDecodable;
    }
    // A client that does not count what came over the network: the body is what came.
    if (result.received <= 0) count(packed);
    // The header's size bounds the decoder's window, so a hostile header costs no more memory
    // than the chunk.
    if (DeclaredSize(temp) != std::optional<uint64_t>(chunk.size)) {
        detail = "chunk " + ChunkName(chunk) + " does not declare its listed size";
        return ChunkFailure::NotDecodable;
    }
    bytes.clear();
    bytes.reserve(chunk.size);
    bool decoded = false;
    try {
        decoded = DecodeLzmaFile(temp, [&](const void* data, size_t size) {
            if (bytes.size() + size > chunk.size) throw TooLong{};
            bytes.append(static_cast<const char*>(data), size);
        });
    } catch (const TooLong&) {
        detail = "chunk " + ChunkName(chunk) + " unpacks to more than its size";
        return ChunkFailure::OtherBytes;
    }
    if (!decoded) {
        detail = "chunk " + ChunkName(chunk) + " does not unpack";
        return ChunkFailure::NotDecodable;
    }
    if (bytes.size() != chunk.size || Sha256Of(bytes) != chunk.sha256) {
        detail = "chunk " + ChunkName(chunk) + " holds other bytes than its digest";
        return ChunkFailure::OtherBytes;
    }
    return ChunkFailure::None;
}

void FetchLoop(const ChunkAssemblyRequest& request, std::span<const IndexedChunk> chunks,
               const std::vector<size_t>& tasks, unsigned number, Shared& shared) {
    const std::string temp = request.fetchStem + std::to_string(number);
    try {
        std::unique_ptr<Fetcher> fetcher = request.newFetcher();
        for (;;) {
            size_t task = 0;
            {
                std::unique_lock lock(shared.mutex);
                shared.changed.wait(lock, [&] {
                    return shared.halt || shared.nextTask >= tasks.size() ||
                           shared.nextTask < shared.consumed + shared.window;
                });
                if (shared.halt || shared.nextTask >= tasks.size()) break;
                task = shared.nextTask++;
            }
            std::string bytes, detail;
            const ChunkFailure failure = FetchOne(*fetcher, chunks[tasks[task]], request.storeBase, temp, shared, bytes, detail);
            if (failure == ChunkFailure::Stopped) break;
            if (failure != ChunkFailure::None) {
                shared.Fail(failure, std::move(detail));
                break;
            }
            {
                std::lock_guard lock(shared.mutex);
                shared.ready.emplace(task, std::move(bytes));
                ++shared.chunksFetched;
            }
            shared.changed.notify_all();
        }
    } catch (const std::exception& e) {
        shared.Fail(ChunkFailure::FileError, e.what());
    } catch (...) {
        shared.Fail(ChunkFailure::FileError, "a chunk could not be fetched");
    }
    try {
        if (FileExists(temp)) RemoveFile(temp);
    } catch (...) {
        // The next run removes what is left beside the file.
    }
}

// The fetching threads end before the call returns, however it returns.
struct Crew {
    Shared& shared;
    std::vector<std::thread> threads;
    ~Crew() {
        shared.halt = true;
        shared.changed.notify_all();
        for (std::thread& t : threads) t.join();
    }
};

class Assembly {
public:
    Assembly(const ChunkAssemblyRequest& request, const std::atomic<bool>& stop)
        : r_(request), stop_(stop), chunks_(request.index->ChunksOf(*request.file)) {}

    ChunkAssemblyResult Run();

private:
    void CutOld();
    void PlanChunks();
    // Whether a listed file holds the chunk at its listed offset.
    std::optional<uint32_t> ProvenHolder(const IndexedChunk& chunk);
    // The next fetched chunk from the threads, in order.
    std::string TakeFetched(size_t task);
    // Everything up to the kept output; the fetching threads have ended when it returns.
    ChunkAssemblyResult Build();

    const ChunkAssemblyRequest& r_;
    const std::atomic<bool>& stop_;
    std::span<const IndexedChunk> chunks_;
    // Digests the target needs, and where the old file holds each (absent: not found there).
    std::map<Sha256Digest, std::optional<uint64_t>> inOld_;
    std::vector<Plan> plan_;
    std::vector<size_t> tasks_;  // chunks to fetch, in order
    std::vector<std::string> holders_;
    uint64_t reused_ = 0;
    Shared shared_;
};

void Assembly::CutOld() {
    for (const IndexedChunk& chunk : chunks_) inOld_.emplace(chunk.sha256, std::nullopt);
    if (!FileExists(r_.place)) return;
    try {
        CutFile(r_.place, stop_, [&](const ChunkPiece& piece, const uint8_t*) {
            const auto found = inOld_.find(piece.sha256);
            if (found != inOld_.end() && !found->second) found->second = piece.offset;
        });
    } catch (const std::exception&) {
        // An old file that cannot be read gives nothing: every chunk is fetched.
        for (auto& [digest, offset] : inOld_) offset.reset();
    }
}

std::optional<uint32_t> Assembly::ProvenHolder(const IndexedChunk& chunk) {
    if (!r_.placeOf) return std::nullopt;
    std::string bytes(chunk.size, '\0');
    for (const ChunkIndex::Holder& holder : r_.index->Holders(chunk.sha256)) {
        if (holder.entry == r_.file->entry || holder.size != chunk.size) continue;
        const std::string path = r_.placeOf(holder.entry);
        if (path.empty()) continue;
        try {
            ChunkReader reader = ChunkReader::Open(path);
            if (reader.ReadAt(holder.offset, bytes.data(), bytes.size()) != bytes.size()) continue;
        } catch (const std::exception&) {
            continue;
        }
        if (Sha256Of(bytes) != chunk.sha256) continue;
        const auto known = std::find(holders_.begin(), holders_.end(), path);
        const size_t index = static_cast<size_t>(known - holders_.begin());
        if (known == holders_.end()) holders_.push_back(path);
        plan_.back().offset = holder.offset;
        return static_cast<uint32_t>(index);
    }
    return std::nullopt;
}

void Assembly::PlanChunks() {
    std::map<Sha256Digest, uint64_t> earlier;  // first place in the output of each digest
    plan_.reserve(chunks_.size());
    for (const IndexedChunk& chunk : chunks_) {
        if (stop_) return;
        plan_.emplace_back();
        Plan& plan = plan_.back();
        const std::optional<uint64_t> old = inOld_[chunk.sha256];
        const auto seen = earlier.find(chunk.sha256);
        if (old) {
            plan.from = From::Old;
            plan.offset = *old;
        } else if (seen != earlier.end()) {
            plan.from = From::Earlier;
            plan.offset = seen->second;
        } else if (const std::optional<uint32_t> holder = ProvenHolder(chunk)) {
            plan.from = From::Holder;
            plan.holder = *holder;
        } else {
            plan.from = From::Fetched;
            plan.offset = tasks_.size();
            tasks_.push_back(static_cast<size_t>(&chunk - chunks_.data()));
        }
        earlier.emplace(chunk.sha256, chunk.offset);
    }
}

std::string Assembly::TakeFetched(size_t task) {
    std::unique_lock lock(shared_.mutex);
    for (;;) {
        const auto found = shared_.ready.find(task);
        if (found != shared_.ready.end()) {
            std::string bytes = std::move(found->second);
            shared_.ready.erase(found);
            ++shared_.consumed;
            shared_.changed.notify_all();
            return bytes;
        }
        if (shared_.failed) throw Failed(*shared_.failed);
        if (stop_) {
            shared_.halt = true;
            shared_.changed.notify_all();
            throw Failed{ChunkFailure::Stopped, "stopped"};
        }
        shared_.changed.wait_for(lock, kWaitSlice);
    }
}

ChunkAssemblyResult Assembly::Run() {
    ChunkAssemblyResult result = Build();
    std::lock_guard lock(shared_.mutex);
    result.bytesFetched = shared_.bytesFetched;
    result.chunksFetched = shared_.chunksFetched;
    result.bytesReused = reused_;
    return result;
}

ChunkAssemblyResult Assembly::Build() {
    const auto fail = [](ChunkFailure failure, std::string detail) {
        ChunkAssemblyResult result;
        result.failure = failure;
        result.detail = std::move(detail);
        return result;
    };
    if (r_.file->size != static_cast<uint64_t>(r_.size))
        return fail(ChunkFailure::OtherContent, "the chunk index lists another size");
    CutOld();
    if (stop_) return fail(ChunkFailure::Stopped, "stopped");
    PlanChunks();
    if (stop_) return fail(ChunkFailure::Stopped, "stopped");

    Crew crew{shared_, {}};
    if (!tasks_.empty()) {
        if (!r_.newFetcher) return fail(ChunkFailure::Fetch, "no connection to fetch chunks with");
        const unsigned connections =
            static_cast<unsigned>(std::clamp<size_t>(std::min(r_.connections, kMostChunkConnections), 1, tasks_.size()));
        shared_.window = connections * kChunksPerConnection;
        try {
            for (unsigned i = 0; i < connections; ++i)
                crew.threads.emplace_back(FetchLoop, std::cref(r_), chunks_, std::cref(tasks_), i + 1, std::ref(shared_));
        } catch (const std::system_error& e) {
            return fail(ChunkFailure::FileError, std::string("cannot start a thread: ") + e.what());
        }
    }

    try {
        PendingFile out(r_.output);
        std::optional<ChunkReader> old;
        Sha256 whole;
        uint32_t crc = 0xFFFFFFFFu;
        uint64_t written = 0;
        std::string bytes;
        for (size_t i = 0; i < chunks_.size(); ++i) {
            if (stop_) return fail(ChunkFailure::Stopped, "stopped");
            const IndexedChunk& chunk = chunks_[i];
            const Plan& plan = plan_[i];
            if (plan.from == From::Fetched) {
                bytes = TakeFetched(static_cast<size_t>(plan.offset));
            } else {
                bytes.resize(chunk.size);
                size_t got = 0;
                if (plan.from == From::Old) {
                    if (!old) old.emplace(ChunkReader::Open(r_.place));
                    got = old->ReadAt(plan.offset, bytes.data(), bytes.size());
                } else {
                    // Opened for this chunk only: a replace of that file by another thread waits
                    // for no more than one read.
                    ChunkReader reader =
                        ChunkReader::Open(plan.from == From::Holder ? holders_[plan.holder] : r_.output);
                    got = reader.ReadAt(plan.offset, bytes.data(), bytes.size());
                }
                if (got != bytes.size()) return fail(ChunkFailure::OtherContent, "a file of the game folder changed meanwhile");
                reused_ += got;
            }
            out.Write(bytes.data(), bytes.size());
            whole.Update(bytes.data(), bytes.size());
            crc = Crc32Update(crc, bytes.data(), bytes.size());
            written += bytes.size();
            if (r_.progress) r_.progress(written);
        }
        const Sha256Digest digest = whole.Finish();
        if (written != static_cast<uint64_t>(r_.size) || Crc32Text(crc ^ 0xFFFFFFFFu) != r_.crcText)
            return fail(ChunkFailure::OtherContent, "the chunks make another size or CRC-32 than listed");
        if (digest != r_.file->sha256 || (r_.sha256 && digest != *r_.sha256))
            return fail(ChunkFailure::OtherContent, "the chunks make another SHA-256 than listed");
        out.Keep();
    } catch (const Failed& failed) {
        return fail(failed.failure, failed.detail);
    } catch (const std::exception& e) {
        return fail(ChunkFailure::FileError, e.what());
    }
    return fail(ChunkFailure::None, "");
}

}  // namespace

const char* ChunkFailureReason(ChunkFailure failure) {
    switch (failure) {
    case ChunkFailure::None: return "";
    case ChunkFailure::Missing: return "chunk missing";
    case ChunkFailure::OtherBytes: return "chunk with other bytes";
    case ChunkFailure::NotDecodable: return "chunk does not unpack";
    case ChunkFailure::Fetch: return "chunk not fetched";
    case ChunkFailure::OtherContent: return "chunks make other content";
    case ChunkFailure::FileError: return "file error";
    case ChunkFailure::Stopped: return "stopped";
    }
    return "?";
}

ChunkAssemblyResult AssembleFromChunks(const ChunkAssemblyRequest& request, const std::atomic<bool>& stop) {
    if (!request.index || !request.file) return ChunkAssemblyResult{ChunkFailure::OtherContent, "no chunk index", 0, 0, 0};
    Assembly assembly(request, stop);
    return assembly.Run();
}

}  // namespace orv
