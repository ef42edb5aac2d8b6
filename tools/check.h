// "orvanta-tool check": a game folder checked against a published build without the launcher's
// window, and repaired on request, for scripts that keep many machines in line, operators checking
// a mirror and CI. It walks the build's checklist with the launcher's own entry rules
// (entry_rules.h, ResolveEntry), checks files on every core and fetches damaged ones
// over several keep-alive connections. The checklist is streamed and no per-file result is kept,
// so memory does not grow with the build. With a publisher key, nothing the server sends is used
// before a statement signed by that key vouches for it (check_trust.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game_profile.h"
#include "launcher/base/codepage.h"
#include "launcher/net/fetcher.h"
#include "launcher/net/rate_limit.h"
#include "launcher/platform/ecdsa_p256.h"

namespace orv::check {

using orv::FetchResult;
using orv::FetchStep;
using orv::Fetcher;
using orv::FetchProgress;
using orv::PartFetcher;
using orv::RateLimiter;

struct CheckOptions {
    // Exactly one source: an update server's base address ("/" appended when missing), or the
    // folder a web server serves at that address.
    std::string server;
    std::string serverRoot;
    // The address the catalogue's download addresses were published for: one below it is read from
    // the source instead (a mirror or a copy of the server folder). Default: the build's server.
    std::string serverBase = UpdateServerBase;
    std::string gameDir;
    std::string gameCode = GameCode;
    std::string gameName;  // UTF-8; found in the catalogue by name
    int gameNumber = 0;    // 0: by name, or the first game
    std::string buildName;
    int buildNumber = 0;  // 0: by name, or the first build
    CodePage codePage = CodePage::Windows1251;  // of the checklist and the catalogue's texts
    bool repair = false;
    bool dryRun = false;        // say what a repair would fetch; write nothing
    bool verifyServer = false;  // check the server folder's files instead of a game folder
    // A folder that already holds the build (a master PC's share, a USB copy): a file that differs
    // is copied from there when the copy has the listed size and CRC-32 (and SHA-256, keyed), and
    // fetched otherwise. Empty: everything is fetched.
    std::string sourceDir;
    // A large file that differs is built from the chunks of a build published with them (and its
    // copy's own), fetching only the chunks it lacks; false: every file is fetched whole.
    bool chunks = true;
    bool json = false;
    unsigned jobs = 0;         // checking threads; 0: one per core
    unsigned connections = 0;  // download connections; 0: DefaultConnections
    // The publisher key the server's content must be signed with: the build's own
    // (UpdatePublicKey) unless --public-key overrides it. Nothing: an unkeyed check, where size and
    // CRC-32 decide alone and no statement is read.
    std::optional<EcdsaPublicKey> publicKey;
    uint64_t minCatalogueVersion = 0;  // keyed: a catalogue statement below this is refused
    // The cap on the download rate over every connection of the run, in bytes per second; 0: none.
    uint64_t rateLimit = 0;
    // How long a connection waits for an answer or more of a body before it gives the try up.
    uint32_t receiveTimeLimitMs = kReceiveTimeLimitMs;
};

inline constexpr unsigned DefaultConnections = 4;

// Whether a download path (what a catalogue's download address adds to the server base) stays below
// the base: names separated by "/" or "\", none empty and none of dots and blanks only, also once
// percent-decoded as a web server decodes it. One that climbs ("../outside") would be read from
// beside the server root, or fetched from above the mirror's base.
bool IsDownloadPathBelowBase(std::string_view path);

// Names outside ASCII, blanks and the characters a URL reserves, percent-encoded as UTF-8 (what
// WinInet sends for the launcher); `from` leaves the start (the catalogue's address) as it stands.
std::string EncodeUrlTail(const std::string& url, size_t from);

// Fills `options` from the command-line words after "check"; the text of the first problem, or
// nothing when they are complete and agree.
std::optional<std::string> ParseCheckArguments(const std::vector<std::string>& args, CheckOptions& options);

// The usage text of the options, one per line, indented by two blanks.
extern const char* const CheckUsage;

enum class EventKind {
    Checked,       // a file or folder matches
    Bad,           // differs: missing, other size, other CRC-32, not a folder
    Repaired,      // put in line
    RepairFailed,  // could not be put in line (reason given)
    Refused,       // the entry points outside the game folder: left alone
    WouldFetch,    // dry run: what a repair would download
    WouldCopy,     // dry run: what a repair would copy from the source folder
};

const char* EventName(EventKind kind);

struct CheckEvent {
    EventKind kind = EventKind::Checked;
    std::string path;    // the checklist's path, UTF-8
    std::string reason;  // Bad and RepairFailed
    std::string url;     // WouldFetch, Repaired and RepairFailed: where the file comes from
    int64_t size = -1;   // the listed size (files)
    int64_t bytes = -1;  // compressed bytes fetched or to fetch; -1 when unknown
    bool copied = false; // Repaired: from the source folder (`url` is the file there)
    // Repaired, RepairFailed: a large file for which the chunk path was tried, and how it went:
    // built from chunks (with what was reused and fetched), or why the whole file was fetched.
    bool chunkTried = false;
    bool fromChunks = false;
    std::string chunkFallback{};
    uint64_t chunkBytesReused = 0;
    uint64_t chunkBytesFetched = 0;
    uint64_t chunksFetched = 0;
};

struct CheckSummary {
    std::string game;   // UTF-8 names as the catalogue gives them
    std::string build;
    int gameNumber = 0;
    int buildNumber = 0;
    std::string checklist;
    std::string source;   // the checklist's address or file
    int64_t listed = 0;   // file entries the catalogue counts ("kolf"), for progress
    uint64_t entries = 0;
    uint64_t folders = 0;
    uint64_t files = 0;
    uint64_t filesDone = 0;   // file entries checked so far (progress)
    uint64_t checked = 0;     // matched
    uint64_t bad = 0;         // differed
    uint64_t repaired = 0;
    uint64_t failed = 0;      // repairs that failed
    uint64_t refused = 0;
    uint64_t bytesChecked = 0;
    uint64_t bytesFetched = 0;     // compressed, downloaded or read by repairs
    uint64_t bytesToFetch = 0;     // dry run: compressed bytes a repair would fetch
    uint64_t unknownSizes = 0;     // dry run: files whose compressed size the server did not give
    std::string sourceDir;         // --source-dir, as given
    bool dryRun = false;
    uint64_t copied = 0;           // repaired from the source folder (dry run: would be)
    uint64_t bytesCopied = 0;      // their bytes
    uint64_t toFetch = 0;          // dry run: files a repair would download
    uint64_t fromChunks = 0;       // repaired from chunks
    uint64_t chunkFallbacks = 0;   // large files fetched whole after the chunk path failed
    uint64_t chunkBytesReused = 0; // taken from files of the game folder
    uint64_t chunkBytesFetched = 0;  // packed chunk bytes downloaded (also by fallen-back tries)
    uint64_t chunksFetched = 0;
    bool interrupted = false;
    double seconds = 0;
};

// What a finished run means for a script: 0 the folder (or server) matches, 1 differences remain
// (also after a dry run, and for refused entries), 130 interrupted. Errors that end the run early
// are exit status 2 and never reach a summary.
int ExitStatus(const CheckSummary& summary);
inline constexpr int ExitMatches = 0;
inline constexpr int ExitDifferences = 1;
inline constexpr int ExitError = 2;
inline constexpr int ExitInterrupted = 130;

// ---- The platform under the run (check_platform_posix.cpp with libcurl, check_platform_win.cpp
//      with WinInet).

// What every connection of one run works under.
struct ConnectionLimits {
    std::shared_ptr<RateLimiter> rate;  // one for all the run's connections; none: no cap
    uint32_t connectMs = kConnectTimeLimitMs;
    uint32_t receiveMs = kReceiveTimeLimitMs;
};

struct CheckPlatform {
    // One connection's client, made on the thread that uses it: the run makes it resume broken
    // downloads and try again (resuming_fetcher.h).
    std::function<std::unique_ptr<PartFetcher>(const ConnectionLimits& limits)> newPartFetcher;
    // A whole-file client used as it is, without retries; when set it is taken instead of
    // newPartFetcher (test doubles, and a platform without a client of single requests).
    std::function<std::unique_ptr<Fetcher>()> newFetcher;
    // `from` in the place of `to` in one step; false when refused (`to` unchanged).
    std::function<bool(const std::string& from, const std::string& to)> replaceFile;
    // One level; an existing folder or a missing parent is ignored.
    std::function<void(const std::string& path)> createFolder;
    // Clears read-only and the like before a file is replaced (nothing to do on POSIX).
    std::function<void(const std::string& path)> makeNormal;
    // A folder for the run's own files (the checklist), outside the game folder.
    std::function<std::string()> temporaryFolder;
};

CheckPlatform SystemCheckPlatform();

// Sets `flag` on an interrupt (Ctrl-C, SIGINT, SIGTERM, a closed console) instead of ending the
// process, for as long as the process runs, so that the run can leave no half-written file.
void StopOnInterrupt(std::atomic<bool>& flag);
// Whether standard error is a terminal (the progress bar is drawn there only then).
bool StderrIsTerminal();

// Receives every event and the progress, one call at a time.
class CheckSink {
public:
    virtual ~CheckSink() = default;
    virtual void Started(const CheckSummary& summary) = 0;  // names and counts known so far
    virtual void Event(const CheckEvent& event, const CheckSummary& counts) = 0;
    virtual void Progress(const CheckSummary& counts) = 0;  // after each file entry
    virtual void Finished(const CheckSummary& summary, int exitStatus) = 0;
};

// The run. Raises Error (exit status 2) when it cannot start: the server or the folder cannot be
// read, the catalogue has no such game or build, the checklist does not download or unpack, or a
// size line is not a number. `stop` (set by an interrupt) ends it soon, with every file either
// old or new and no temporary file left behind.
CheckSummary RunCheck(const CheckOptions& options, const CheckPlatform& platform, CheckSink& sink,
                      const std::atomic<bool>& stop);

// The console output: human lines (or JSON lines) on stdout, a progress bar on stderr when it is a
// terminal.
std::unique_ptr<CheckSink> NewConsoleSink(bool json, bool progressBar);

// One event or the summary as the JSON line --json prints (without its line end).
std::string EventJson(const CheckEvent& event);
std::string SummaryJson(const CheckSummary& summary, int exitStatus);
// A text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

}  // namespace orv::check
