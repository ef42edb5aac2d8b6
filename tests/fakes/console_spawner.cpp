// A console program for the console runner's tests. "console_spawner flood <bytes>" writes <bytes>
// letters x without a line break, in 64 KiB writes, and ends with 0. "console_spawner spawn
// <command line>" starts <command line> with every inheritable handle (so the grandchild keeps
// the standard output pipe open), prints "child <pid>" with CR LF and ends with 0 at once.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void WriteAll(const std::string& bytes) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

// The command line after the first `skip` arguments (blank-separated, no quotes expected).
std::wstring After(const wchar_t* line, int skip) {
    for (int i = 0; i < skip; ++i) {
        while (*line == L' ') ++line;
        if (*line == L'"') {
            ++line;
            while (*line && *line != L'"') ++line;
            if (*line) ++line;
        } else {
            while (*line && *line != L' ') ++line;
        }
    }
    while (*line == L' ') ++line;
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "flood") == 0) {
        unsigned long long left = std::strtoull(argv[2], nullptr, 10);
        const std::string block(65536, 'x');
        while (left > 0) {
            const size_t n = left < block.size() ? static_cast<size_t>(left) : block.size();
            WriteAll(block.substr(0, n));
            left -= n;
        }
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "spawn") == 0) {
        std::wstring command = After(::GetCommandLineW(), 2);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
            return 3;
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        WriteAll("child " + std::to_string(info.dwProcessId) + "\r\n");
        return 0;
    }
    return 2;
}
