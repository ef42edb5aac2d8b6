// Antivirus scanners and indexers open a file right after it was written, and while they hold it
// Windows refuses to replace, delete or open it. That passes within moments, so the file calls
// that save, repair and swap files try again for a short while before they report the refusal.
// The rule is portable so that its schedule can be tested with a clock of the test's own; the
// Win32 file layer applies it to its calls.
#pragma once

#include <cstdint>
#include <functional>

namespace orv {

// The Windows codes (winerror.h) of refusals that another program's open handle explains.
// A file that DeleteFileW has marked for deletion stays until its last handle closes, and opening
// it meanwhile fails with access denied (DeleteFileW's documentation).
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;

// How long a holder is waited for in all, and the longest single wait.
inline constexpr uint32_t kBusyFileLimitMs = 2000;
inline constexpr uint32_t kBusyFileFirstWaitMs = 10;
inline constexpr uint32_t kBusyFileLongestWaitMs = 250;

// Time as the rule sees it: the system's tick count and sleep, or a test's fake.
class RetryClock {
public:
    virtual ~RetryClock() = default;
    virtual uint64_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

// Whether a refusal with `code` may be another program holding the file. Access denied is also
// what a read-only file or a folder gives, which no wait changes: `attributesRefuse` says the
// file's own attributes explain the refusal.
bool MayBeBusyFile(uint32_t code, bool attributesRefuse);

// Runs `attempt` (0 on success, else the platform's error code) until it succeeds, fails with a
// code that no wait changes, or kBusyFileLimitMs have passed since the first attempt; the waits
// between attempts double from kBusyFileFirstWaitMs up to kBusyFileLongestWaitMs, and the last one
// ends at the limit, where one final attempt is made. `attributesRefuse` (may be empty: they never
// do) is asked only after an access refusal. Returns the last attempt's code. The waits sleep the
// calling thread: a GUI thread's window stops answering for as long.
uint32_t RetryWhileBusy(RetryClock& clock, const std::function<uint32_t()>& attempt,
                        const std::function<bool()>& attributesRefuse);

}  // namespace orv
