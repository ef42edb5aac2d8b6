// The check-and-repair run (CheckAllFiles) without the window: fetch the selected build's
// checklist, walk it entry by entry, create folders and empty files, and download and unpack every
// file whose size or CRC-32 differs from the list. Progress goes to the main window's status and
// counters lines, its two bars and its two progress images.
//
// The window and the platform come in as an interface and as functions, so the run's order, its
// texts and its failure rules can be tested anywhere; check_run_platform_win.h supplies the Win32
// services and the main window (main_window/check_win.cpp) the view.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "game_profile.h"
#include "launcher/base/codepage.h"
#include "launcher/config/launcher_identity.h"
#include "launcher/integrity/check_engine.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/checklist_fetch.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/net/retry_board.h"
#include "launcher/platform/folder_tree.h"

namespace orv {

// Both progress images are this wide when full.
inline constexpr int CheckProgressFullWidth = 417;
// A path of this many characters or more is shown by its end only.
inline constexpr size_t StatusPathLimit = 35;
// The refusal message names at most this many entries, each by at most this many bytes.
inline constexpr size_t RefusedPathsShown = 10;
inline constexpr size_t RefusedPathShownBytes = 300;

// ---- Texts of the status and counters lines, in `language` (0 Russian, otherwise English).

// Whether the status line shows only the end of `path` (and refreshes the counters first).
bool IsLongStatusPath(std::string_view path);
// "Проверяется файл: " + path, or "Checks file: " + `lowered` (the path in lower case); for a long
// path "...", then its last 36 characters as they stand.
std::string CheckingFileText(std::string_view path, std::string_view lowered, int language);
// The path as the status line shows it after its prefix.
std::string ShownStatusPath(std::string_view path, std::string_view lowered, int language);
// The status line while a download waits to try again, `secondsLeft` before the next try:
// "Connection lost, retrying (2 of 5) in 4 s: " + `shownPath`.
std::string RetryingText(const RetryNotice& notice, int secondsLeft, std::string_view shownPath, int language);

enum class CountersMoment {
    BeforeLongPath,  // before a long path is checked
    AfterFile,       // after a download and after each file
    AtEnd,           // once the checklist has been walked
};
// The counters line: its wording for the moment, then total text / entries / downloads.
std::string CountersText(CountersMoment moment, std::string_view totalText, int entries, int downloaded,
                         int language);

// The overall image's width: 417 / total × checked, cut to whole pixels and not limited to 417
// (a catalogue that counts fewer files than its checklist lists makes it wider). Without a
// positive total the image stays full.
int OverallProgressWidth(int32_t total, int checked);

// Lower case for the status line where the platform gives none: ASCII, Latin-1 and Cyrillic.
std::string LowerCaseText(std::string_view utf8);

// The refusal message for checklist entries that point outside the game folder.
std::string RefusedPathsText(const std::vector<std::string>& paths, int language);

// ---- The run.

// What the run shows and asks of the main window.
class CheckRunView {
public:
    virtual ~CheckRunView() = default;
    virtual void SetStatus(const std::string& text) = 0;    // Label4
    virtual void SetCounters(const std::string& text) = 0;  // lbl2
    // pb2, the overall counter: position 0 and the given maximum.
    virtual void ResetOverall(int max) = 0;
    virtual int OverallPosition() const = 0;
    virtual void SetOverallPosition(int position) = 0;
    // Image9.
    virtual void SetOverallWidth(int pixels) = 0;
    // pb1's maximum for the next file.
    virtual void SetFileMax(int max) = 0;
    // pb1 to its maximum and Image3 full.
    virtual void FillFileProgress() = 0;
    // Show the window and bring it to the front.
    virtual void BringToFront() = 0;
    // The player is told the server cannot be reached: the launcher is to end once the run is over.
    virtual void RequestClose() = 0;
    // The stop procedure (stops): StopFlag 1, wait for a running worker, save, window idle.
    virtual void Stop() = 0;
};

// Whether a file whose attributes GetFileAttributesW reports as `attributes` still has any to clear
// before its attributes are normal: every one counts (not content indexed, temporary, offline, ...
// as much as read-only, hidden and system), and setting them to normal clears them all, archive
// included. Archive alone does not call for it: Windows sets it on every file written, so
// nearly every file has it; it is the backup programs' mark that a file changed, which clearing it
// on every check would take from them, and Wine reports it on every file and never clears it, so
// each run would pay a call per file. A file without any is reported as FILE_ATTRIBUTE_NORMAL.
bool HasAttributesToClear(uint32_t attributes);

// The per-file bar (pb1) and image (Image3) as the run's downloads drive them.
struct FileProgressTarget {
    std::function<void(int)> setBarMax;
    std::function<int()> barMax;
    std::function<void(int)> setBarPosition;
    std::function<int()> barPosition;
    std::function<void(int)> setImageWidth;
    std::function<int()> imageWidth;
    // Called when a download has ended, so that what the display held back is shown; may be unset.
    std::function<void()> flush;
};

// The platform services of the run. Paths are UTF-8, joined with "\". The per-file work (probe,
// CRC-32, what a cut-off run left, download and unpack) is the check engine's, on threads of its
// own, through `engine`; everything else is called on the run's thread.
struct CheckRunPlatform {
    std::string serverBase = UpdateServerBase;
    // The build's publisher key (128 hex digits). Empty: an unkeyed build, which fetches and checks
    // nothing signed; a key that does not decode refuses every checklist.
    std::string publisherKey = UpdatePublicKey;
    AnsiCodec catalogueCodec;   // the catalogue's texts
    AnsiTextDecoder checklistPage = CodePage::Windows1252;
    std::function<void(const std::string& folder)> setCurrentFolder;
    // The checklist: false when the server cannot be reached or the body breaks off.
    std::function<bool(const std::string& url, const std::string& path)> downloadFile;
    // A signed build's statement and hash list, with the checklist's client and time limits: false
    // as well once the body grows past `maxBytes` (nothing is left at `path` then). Unset:
    // downloadFile, and the size is judged afterwards.
    std::function<bool(const std::string& url, const std::string& path, uint64_t maxBytes)> downloadBounded;
    // The connection of those downloads when they are to be made on a worker (FetchForRun), the
    // window kept alive and Stop obeyed meanwhile; a stop there ends the run as a stop. Unset:
    // downloadFile and downloadBounded on the run's thread.
    NewRetryingFetcher checklistFetcher;
    // Where the engine's connections leave their retry notices: the status line tells of the one
    // of the file the run waits for. May be unset.
    std::shared_ptr<RetryBoard> retries;
    // Seconds since 1970 UTC, against which statements expire; unset: the system clock.
    std::function<int64_t()> now;
    // The checklist's unpacking on the calling thread; false for data that does not unpack, raises
    // for files that cannot be opened or created.
    std::function<bool(const std::string& input, const std::string& output)> unpackChecklist;
    // The engine's services: one connection per download thread (game files are saved whatever the
    // answer's status), the folder listing for leftovers, removing files.
    EnginePlatform engine;
    unsigned checkers = 0;  // checking threads; 0: one per core
    // The platform's text of a code a download failed with.
    std::function<std::string(uint32_t code)> fetchErrorMessage;
    FileProgressTarget fileProgress;
    // Puts `from` in the place of `to` in one step; false when the platform refuses (the old file
    // then stays as it was).
    std::function<bool(const std::string& from, const std::string& to)> replaceFile;
    // Clears read-only and the like; a failure is left to the next step that needs the file.
    std::function<void(const std::string& path)> makeNormal;
    std::function<void(const std::string& path)> createEmptyFile;  // raises
    // One level; an existing folder or a missing parent is ignored.
    std::function<void(const std::string& path)> createFolder;
    std::function<bool(const std::string& path)> removeFile;
    // The unpacked checklist, a block at a time; raises EOSError. Unset: ChecklistReader::Stream.
    std::function<ChecklistReader(const std::string& path, const AnsiTextDecoder& decode)> openChecklist;
    std::function<std::string(const std::string& text)> lowerCase;
    // The form in which the engine is given a file's place (long paths); unset: as it stands.
    std::function<std::string(const std::string& path)> filePath;
    // Times `work` under `name` (the waits for the engine); unset: runs it.
    std::function<void(const char* name, const std::function<void()>& work)> timed;
};

// The platform services that are the same everywhere (files.h, file_helpers.h, crc32.h and the
// LZMA instance on the calling thread); the rest is left unset.
CheckRunPlatform PortableCheckRunPlatform();

// The same services, each handing its paths on in the extended-length form where a path needs it
// (long_path.h): a file whose place is short enough may still have a download or a temporary name
// beside it that is not.
CheckRunPlatform WithExtendedLengthPaths(CheckRunPlatform platform);

struct CheckRunRequest {
    int gamePosition = 1;   // 1-based, in the catalogue's games
    int buildPosition = 1;  // 1-based, in that game's builds
    std::string addressKeyPrefix = "adrskach";
};

struct CheckRunResult {
    bool completed = false;  // walked to the end without a stop: the success message was shown
    bool versionRecorded = false;
    int checked = 0;      // file entries finished
    int downloaded = 0;   // downloads that returned true
    size_t partialsKept = 0;  // partial downloads the engine left for the next run
    std::vector<std::string> refusedPaths;  // entries that point outside the game folder
};

// The run for the catalogue's game and build, in GameFolder. The caller has set StopFlag to 0 and
// the window to its checking state. Messages go through the message-box seam, in UiLanguage.
// Raises what ends a run early: a checklist that cannot be opened, a size or count that is not a
// decimal integer (ConversionErrorText), a server that cannot be reached while repairing, an
// empty file that cannot be created.
CheckRunResult RunCheck(const CheckRunRequest& request, CheckRunView& view, const CheckRunPlatform& platform);

}  // namespace orv
