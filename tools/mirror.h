// "orvanta-tool mirror": a published update server, or the chosen games and builds of it, copied
// into a folder that any static web server then serves at the server's own paths. Each run fetches
// only what changed, decided from the checklists and a state file in the folder rather than by
// asking the server; every game file is unpacked and checked against its listed size and CRC-32
// (and SHA-256 when known) before it takes its place; the catalogue and checklists go in last, so
// a run that fails or is interrupted leaves the mirror as usable as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/integrity/chunk_index.h"
#include "tools/check.h"

namespace orv::mirror {

using check::CheckPlatform;

struct MirrorOptions {
    std::string server;                          // the origin's base address, ending in "/"
    std::string to;                              // the mirror folder
    std::string serverBase;                      // what the catalogue's addresses were published for
    std::string gameCode = GameCode;
    std::string gameName;                        // UTF-8; empty and gameNumber 0: every game
    int gameNumber = 0;
    std::string buildName;                       // empty and buildNumber 0: every build
    int buildNumber = 0;
    CodePage codePage = CodePage::Windows1251;
    unsigned jobs = 0;                           // files fetched at once; 0: DefaultJobs
    uint64_t rateLimit = 0;
    uint32_t receiveTimeLimitMs = kReceiveTimeLimitMs;
    std::optional<EcdsaPublicKey> publicKey;
    bool dryRun = false;
    bool json = false;
};

inline constexpr unsigned DefaultJobs = 4;

std::optional<std::string> ParseMirrorArguments(const std::vector<std::string>& args, MirrorOptions& options);
extern const char* const MirrorUsage;

// ---- The state file: what the mirror wrote, so that a later run knows a file without reading it.

inline constexpr const char* kStateFileName = ".orvanta-mirror";
// Where a file is fetched to before it takes its place; never served (the nginx site denies it).
inline constexpr const char* kPartSuffix = ".orvanta-part";
// The staging folder of the small files a run puts in place last.
inline constexpr const char* kStagingFolder = ".orvanta-mirror.staging";
// Bounds on what a hostile server (or a damaged state file) can make a run hold.
inline constexpr size_t kMostMirrorFiles = 2'000'000;
inline constexpr size_t kMostStateLine = 4 * 32767 + 256;

struct MirrorRecord {
    // The checklist the file belongs to, or "" for the server's small resources (catalogue, keep
    // list, release): what decides whether it left the server.
    std::string owner;
    int64_t packedSize = -1;
    int64_t mtime = 0;          // the file's modification time as the file system counts it
    int64_t size = -1;          // what it unpacks to; -1 for a file that is not unpacked
    std::string crcText;
    std::string sha256;         // lower-case hex, or empty when not known
};

using MirrorState = std::map<std::string, MirrorRecord>;  // by "/"-separated path below the folder

std::string WriteState(const MirrorState& state);
// Lines that do not parse, name a path that would leave the folder, or are longer than
// kMostStateLine are dropped (their files are then verified by unpacking); a file of more than
// `most` records raises Error.
MirrorState ReadState(std::string_view text, size_t most = kMostMirrorFiles);

// Whether a "/"-separated path below the mirror folder is one the mirror may write or remove.
bool IsMirrorPath(std::string_view path);

// A file of a checklist as the origin lists it.
struct ListedFile {
    int64_t size = 0;
    std::string crcText;
    std::string sha256;  // empty when the build has no hash list
};

// What is on disk at the path: nothing, or its packed size and modification time.
struct DiskFile {
    bool exists = false;
    int64_t size = -1;
    int64_t mtime = 0;
};

enum class Decision {
    Keep,    // the record vouches for the file on disk and matches the listing
    Verify,  // present, but nothing vouches for it: unpack it to see
    Fetch,   // missing, or the record says it holds other content
};

Decision Decide(const MirrorRecord* record, const DiskFile& disk, const ListedFile& listed);

// The path below the mirror folder of a build's file: its download address less the server base,
// then the entry's path; nothing when the address lies outside the base or the path climbs out.
std::optional<std::string> MirrorFilePath(const std::string& downloadAddress, const std::string& serverBase,
                                          const std::string& entryPath);

// ---- The chunk store (chunk_index.h): chunks under their digest at the server base, shared by
// every build, each named by one or more builds' chunk indexes.

// Whether a path below the mirror folder is a chunk of the store: "chunks/ab/ab...(64 hex).lzma".
bool IsChunkStorePath(std::string_view path);

// A chunk present with the indexed packed size and a record of the same digest and size is kept
// unread: its name is its content. Missing, or of another packed size: fetched. Else unpacked.
Decision DecideChunk(const MirrorRecord* record, const DiskFile& disk, const IndexedChunk& chunk);

// ---- The order of what is put in place last.

struct BuildOutcome {
    std::string checklist;
    bool filesComplete = false;  // every file of the build verified and in place
};

// The staged small files to place, in order: each complete build's checklist files, then (only
// when nothing failed) the keep list, the release and the catalogue with its statement last.
struct PlacementPlan {
    std::vector<std::string> checklists;  // of complete builds
    bool finish = false;                  // keep list, release, catalogue
};
PlacementPlan PlanPlacement(const std::vector<BuildOutcome>& builds, bool anyFailed, bool interrupted);

// ---- The run.

enum class MirrorEventKind { Fetched, Kept, WouldFetch, Removed, WouldRemove, Failed };
const char* MirrorEventName(MirrorEventKind kind);

struct MirrorEvent {
    MirrorEventKind kind = MirrorEventKind::Fetched;
    std::string path;    // below the mirror folder
    std::string reason;  // Failed
    int64_t bytes = -1;  // compressed bytes fetched or to fetch; -1 unknown
};

struct MirrorSummary {
    std::string source;
    uint64_t builds = 0;
    uint64_t files = 0;
    uint64_t fetched = 0;
    uint64_t kept = 0;
    uint64_t verified = 0;  // kept after unpacking (no record vouched for them)
    uint64_t failed = 0;
    uint64_t skipped = 0;   // builds left out (an address outside the base)
    uint64_t removed = 0;
    uint64_t bytesFetched = 0;
    uint64_t toFetch = 0;   // dry run
    uint64_t bytesToFetch = 0;
    uint64_t unknownSizes = 0;
    // The chunk store: counted apart from the files, one event per chunk would drown them.
    uint64_t chunkIndexes = 0;  // builds published with chunks
    uint64_t chunks = 0;        // distinct chunks their indexes name
    uint64_t chunksFetched = 0;
    uint64_t chunkBytesFetched = 0;
    uint64_t chunksKept = 0;
    uint64_t chunksRemoved = 0;
    uint64_t chunksToFetch = 0;  // dry run, packed bytes from the index
    uint64_t chunkBytesToFetch = 0;
    bool catalogueWritten = false;
    bool interrupted = false;
    double seconds = 0;
};

int MirrorExitStatus(const MirrorSummary& summary);

class MirrorSink {
public:
    virtual ~MirrorSink() = default;
    virtual void Started(const MirrorSummary& summary) = 0;
    virtual void Event(const MirrorEvent& event, const MirrorSummary& counts) = 0;
    virtual void Finished(const MirrorSummary& summary, int exitStatus) = 0;
};

std::unique_ptr<MirrorSink> NewMirrorConsoleSink(bool json, bool progressBar);
std::string MirrorEventJson(const MirrorEvent& event);
std::string MirrorSummaryJson(const MirrorSummary& summary, int exitStatus);

// Raises Error (exit status 2) when it cannot start: the catalogue does not come, the folder
// cannot be made, the chosen game or build is not there.
MirrorSummary RunMirror(const MirrorOptions& options, const CheckPlatform& platform, MirrorSink& sink,
                        const std::atomic<bool>& stop);

}  // namespace orv::mirror
