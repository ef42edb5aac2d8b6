// The Win32 services of the check run: WinInet downloads, the unpack worker, file attributes,
// folders and replacing a file in one move, and the system's ANSI code page.
#pragma once

#include <functional>

#include "launcher/base/thread_win.h"
#include "launcher/integrity/check_run.h"
#include "launcher/net/game_file_fetcher_win.h"

namespace orv {

// The unpack worker of the running check, or nullptr; set only while the run waits for it. The stop
// procedure waits for it to end before it restores the window.
extern TThread* CheckThread;

// Every service of CheckRunPlatform for this machine, the game file downloads showing their
// progress on `progress`. Paths are handed on as they come: the run's caller adds the long-path
// form (WithExtendedLengthPaths) over whatever services it ends up with.
CheckRunPlatform SystemCheckRunPlatform(FileProgressTarget progress);

// The run's connections with these limits and waits (the platform above has the defaults): the
// engine's, which leave their retry notices on a board of the run, and the checklist's.
void UseRunNetwork(CheckRunPlatform& platform, const RunNetworkLimits& limits);

}  // namespace orv
