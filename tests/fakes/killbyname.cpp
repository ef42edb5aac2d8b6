// Test helper, not an outside program of the launcher: runs KillProcessByName in a process of its
// own, so that tests can watch a caller that matches the name it ends.
//
//   killbyname.exe wait                 waits until it is ended from outside (a bystander)
//   killbyname.exe kill <name> [<go>]   calls KillProcessByName(<name>), once the file <go> exists
//                                       when one is named (waiting at most 30 s); if still alive
//                                       afterwards it ends with 100 + the result, so exit code 0
//                                       means it ended itself
// Waiting for <go> lets a test start the caller before the processes it is to end, which puts
// the caller first in the process list. Anything else ends with exit code 2. It writes no log.
#include "fake_support.h"

#include <shellapi.h>

#include <string>

#include "launcher/net/processes_win.h"
#include "launcher/platform/scoped_win.h"

int main() {
    int argc = 0;
    const orv::ScopedLocal<wchar_t**> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    if (!argv) return 2;
    const std::wstring mode = argc > 1 ? argv.Get()[1] : L"";
    if (mode == L"wait" && argc == 2)
        for (;;) ::Sleep(INFINITE);
    if (mode != L"kill" || (argc != 3 && argc != 4)) return 2;
    if (argc == 4)
        for (int waited = 0; ::GetFileAttributesW(argv.Get()[3]) == INVALID_FILE_ATTRIBUTES; waited += 10) {
            if (waited >= 30000) return 3;
            ::Sleep(10);
        }
    return 100 + orv::KillProcessByName(orv::Narrow(argv.Get()[2]));
}
