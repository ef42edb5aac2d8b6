// What the launcher's downloads share, for the files that make them: the request flags and agent,
// opening a session and a request, WinInet's errors, and the one loop that takes a body in blocks.
// Not for use outside launcher/net.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "launcher/net/progress.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"

namespace orv::download_detail {

// The update server's files must come fresh: neither taken from nor written to the cache, and
// proxies asked not to answer from theirs either.
constexpr DWORD kDownloadFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kDownloadFlags == 0x84000100);

// The block in which bodies are taken, counted from their first byte.
constexpr DWORD kBlockSize = 4096;

// "Updater vtl", the game's code and the launcher's version.
std::string GameAgent();
// The platform's text for `code`: WinInet's own codes (12000 and up) have theirs in wininet.dll.
std::string InternetErrorMessage(DWORD code);
[[noreturn]] void RaiseInternetError(DWORD code);
InternetHandle OpenInternet(const std::string& agent);
InternetHandle OpenUrl(HINTERNET internet, const std::string& url, DWORD flags);

// What a response's headers say about the length of its body, read by the thread that owns the
// request and handed on as values.
struct ResponseLength {
    // The header as it fits the 20-byte buffer of the progress display: nine digits at most.
    std::optional<std::wstring> progressText;
    // The length a whole body has, for telling it from one that broke off: WinInet ends the body
    // quietly when the connection closes early, so the count is all there is to go by.
    std::optional<int64_t> promised;
};
ResponseLength QueryResponseLength(HINTERNET request);

// The length that drives the progress display. A header too long for its buffer counts as absent,
// so the caller's size stays; one that is not a number fails the download (raised).
std::optional<int64_t> ProgressLength(const ResponseLength& length);

// Told the running byte count after each block has been written.
using BlockProgress = std::function<void(int64_t received)>;

// What one read of the body gave: bytes (none at the end of the body), a failed read, or a stop
// that came while the read was still waiting for the network.
struct Chunk {
    const char* data = nullptr;
    DWORD size = 0;
    bool failed = false;
    DWORD code = 0;  // of a failed read
    bool stopped = false;
};
using ChunkSource = std::function<Chunk()>;

// The body of one of the two downloads that show progress, from `source`, in kBlockSize blocks
// with `stop` read and the events pumped once per block; `promised` is the length of a whole body.
// A stop fills the bar and gives false (the caller's file then goes); a body that broke off is told
// to the player and raised, and the error ends the transfer. True for a whole body, which the
// caller keeps. Touches no WinInet handle, so the reads behind `source` may be another thread's.
bool ReceiveWatchedBody(PendingFile& file, int32_t& stop, ProgressBarView& bar, const BlockProgress& progress,
                        const ChunkSource& source, std::optional<int64_t> promised);



}  // namespace orv::download_detail
