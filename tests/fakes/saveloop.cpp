// Test helper, not an outside program of the launcher: saves one of the files the launcher
// rewrites, so that a test can terminate it in the middle of a save.
//
//   saveloop.exe <folder> <index> prepare   lays the file out in <folder> (the game folder)
//   saveloop.exe <folder> <index> <count>   saves <count> times, contents 1, 0, 1, ... (the last
//                                           is 1 for an odd count); 0 saves until terminated and
//                                           creates <folder>\saveloop.started after the first save
// The marker tells the test that the loop runs without the test opening the saved file, which
// would make the next save's replace fail as Windows refuses to move over an open file.
//
// <index> picks the file from tests/support/saved_files.h. Exit code 0 when done, 1 when a save
// failed, 2 for a bad command line.
#include "fake_support.h"

#include <shellapi.h>

#include <string>

#include "launcher/base/app_state.h"
#include "launcher/integrity/check_run_platform_win.h"
#include "launcher/platform/files.h"
#include "tests/support/saved_files.h"

int main() {
    int argc = 0;
    const orv::ScopedLocal<wchar_t**> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    if (!argv || argc != 4) return 2;
    orv::GameFolder = orv::Narrow(argv.Get()[1]);
    const size_t index = static_cast<size_t>(_wtoi(argv.Get()[2]));
    const std::wstring mode = argv.Get()[3];
    // The repair moves the part file as the launcher's own check run does.
    const auto files = orv::test::SavedFiles(orv::SystemCheckRunPlatform({}).replaceFile);
    if (index >= files.size()) return 2;
    try {
        if (mode == L"prepare") {
            files[index].prepare();
            return 0;
        }
        const long count = _wtol(mode.c_str());
        for (long i = 1; count == 0 || i <= count; ++i) {
            files[index].save(static_cast<int>(i & 1));
            if (count == 0 && i == 1) orv::WriteNewFile(orv::GameFolder + "\\saveloop.started", "");
        }
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}
