// Test helper, not an outside program of the launcher: holds a file open for a while, as an
// antivirus scanner or an indexer does right after the file was written, so that a test meets a
// save, a repair or a swap that finds the file busy.
//
//   fileholder.exe <file> <milliseconds> <event>
//
// Opens <file> for reading, sharing it for reading only (no writing, no deleting or renaming),
// sets the named event <event> once it holds it, keeps it <milliseconds>, then closes it and
// ends. Exit code 0 when done, 1 when the file cannot be opened, 2 for a bad command line or event.
#include "fake_support.h"

#include <shellapi.h>

#include <string>

int main() {
    int argc = 0;
    const orv::ScopedLocal<wchar_t**> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    if (!argv || argc != 4) return 2;
    const wchar_t* const* args = argv.Get();
    const orv::ScopedHandle held(::OpenEventW(EVENT_MODIFY_STATE, FALSE, args[3]));
    if (!held) return 2;
    const orv::ScopedFileHandle file(::CreateFileW(args[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    if (!::SetEvent(held.Get())) return 2;
    ::Sleep(static_cast<DWORD>(_wtol(args[2])));
    return 0;
}
