#include "launcher/net/processes_win.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "launcher/net/process_name.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

// The whole process list, or nothing when it cannot be read.
std::vector<ProcessEntry> RunningProcesses() {
    std::vector<ProcessEntry> entries;
    ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return entries;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        // The name field is fixed-size; never read past it even if the platform left it unterminated.
        const size_t length = ::wcsnlen(entry.szExeFile, sizeof(entry.szExeFile) / sizeof(entry.szExeFile[0]));
        entries.push_back({entry.th32ProcessID, std::u16string(entry.szExeFile, entry.szExeFile + length)});
    }
    return entries;
}

BOOL Terminate(DWORD id) {
    ScopedHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
    if (!process) return FALSE;
    return ::TerminateProcess(process.Get(), 0);
}

}  // namespace

int KillProcessByName(const std::string& name) {
    const std::wstring wide = Wide(name);
    const std::u16string target(wide.begin(), wide.end());
    int result = 0;
    for (uint32_t id : ProcessesToEnd(RunningProcesses(), target, ::GetCurrentProcessId())) result = Terminate(id);
    return result;
}

}  // namespace orv
