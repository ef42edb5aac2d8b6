#include "launcher/integrity/check_run_platform_win.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "launcher/integrity/unpack_workers_win.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/net/download_win.h"
#include "launcher/net/game_file_fetcher_win.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {

TThread* CheckThread = nullptr;

namespace {

std::string LowerCase(const std::string& text) {
    std::wstring wide = Wide(text);
    if (!wide.empty()) ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return Narrow(wide);
}

}  // namespace

CheckRunPlatform SystemCheckRunPlatform(FileProgressTarget progress) {
    CheckRunPlatform platform = PortableCheckRunPlatform();
    platform.catalogueCodec = SystemAnsiCodec();
    platform.checklistPage = SystemAnsiTextDecoder();
    platform.setCurrentFolder = [](const std::string& folder) { ::SetCurrentDirectoryW(Wide(folder).c_str()); };
    platform.downloadFile = &DownloadFile;
    platform.downloadBounded = &DownloadBoundedFile;
    platform.fileProgress = std::move(progress);
    UseRunNetwork(platform, RunNetworkLimits{});
    platform.fetchErrorMessage = &DownloadErrorMessage;
    // The engine's threads work while the window must answer within a few milliseconds: below the
    // GUI thread's priority, the scheduler runs the GUI thread first whenever it has a message
    // ("Scheduling Priorities": a ready thread of higher priority preempts one of lower). Wine leaves
    // the priorities of its threads to the Unix scheduler, where this changes nothing.
    platform.engine.onThreadStart = [] { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); };
    auto unpacker = std::make_shared<ReusedUnpackWorker>();
    platform.replaceFile = [unpacker](const std::string& from, const std::string& to) {
        return !unpacker->Replace(from, to, &CheckThread).Failed;
    };
    platform.makeNormal = [](const std::string& path) {
        // Every attribute goes, not only what stands in the way of replacing the file; a file that
        // already has none is left alone, which spares a round of opening and closing it.
        const std::wstring wide = Wide(path);
        if (!HasAttributesToClear(::GetFileAttributesW(wide.c_str()))) return;
        // A file that stays read-only is refused by the step that writes it, with its own report.
        ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    };
    platform.createFolder = [](const std::string& path) { ::CreateDirectoryW(Wide(path).c_str(), nullptr); };
    platform.lowerCase = &LowerCase;
    return platform;
}

void UseRunNetwork(CheckRunPlatform& platform, const RunNetworkLimits& limits) {
    auto board = std::make_shared<RetryBoard>();
    platform.retries = board;
    // Each download thread of the engine makes its own, and keeps it for the run: the connection to
    // the update server stays open from one file to the next.
    platform.engine.newFetcher = [limits, board] {
        return NewGameFileFetcher(limits, [board](const RetryNotice& notice) { board->Post(notice); });
    };
    platform.checklistFetcher = [limits](RetryNotify notify) { return NewChecklistFetcher(limits, std::move(notify)); };
}

}  // namespace orv
