// What the fake outside programs share: where they lie, how they were started, and appending one
// record to a log beside their own executable.
//
// Record format, common to every fake (UTF-8, CR LF line ends, one record per run, appended):
//
//   === <program> ===
//   <key>: <value>
//   ...
//   === end ===
//
// A value runs to the end of its line. A field whose key ends in " bytes" holds a byte count N
// instead: exactly N raw bytes follow the line, then CR LF; the field's value is those bytes and its
// key is the part before " bytes" (so "rev.ini bytes: 5" then "a=1\r\n" gives "rev.ini" = "a=1\r\n").
// Every record starts with "pid", "command line" (as the program received it) and "folder" (its
// working folder).
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv::fake {

inline std::string ExePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

inline std::string FolderOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

inline std::string ExeFolder() { return FolderOf(ExePath()); }

inline std::string CommandLine() { return Narrow(::GetCommandLineW()); }

inline std::string CurrentFolder() {
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(n, L'\0');
    const DWORD got = ::GetCurrentDirectoryW(n, folder.data());
    folder.resize(got < n ? got : 0);
    return Narrow(folder);
}

// The whole file, or nothing when it cannot be read.
inline bool ReadWholeFile(const std::string& path, std::string& bytes) {
    ScopedFileHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    bytes.clear();
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    return true;
}

class Record {
public:
    explicit Record(const std::string& program) {
        text_ = "=== " + program + " ===\r\n";
        Field("pid", std::to_string(::GetCurrentProcessId()));
        Field("command line", CommandLine());
        Field("folder", CurrentFolder());
    }
    void Field(const std::string& key, const std::string& value) { text_ += key + ": " + value + "\r\n"; }
    void Bytes(const std::string& key, const std::string& bytes) {
        text_ += key + " bytes: " + std::to_string(bytes.size()) + "\r\n" + bytes + "\r\n";
    }
    // Appends the record to `logName` beside the executable in one write, so that two copies of a
    // fake running at once never interleave their records.
    bool AppendTo(const std::string& logName) const {
        const std::string text = text_ + "=== end ===\r\n";
        ScopedFileHandle file(::CreateFileW(Wide(ExeFolder() + "\\" + logName).c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        return ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    }

private:
    std::string text_;
};

}  // namespace orv::fake
