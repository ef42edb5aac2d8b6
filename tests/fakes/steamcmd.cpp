// Stand-in for the Steam console client: prints a scripted sequence of output to its standard
// output and standard error as raw bytes, pausing where the script says, and ends with the
// script's exit code. It records each start in "steamcmd.log" beside itself before printing.
//
// The script: the file named by the environment variable ORVANTA_FAKE_STEAMCMD_SCRIPT, otherwise
// "steamcmd.script" beside the executable, otherwise a built-in sequence that looks like an
// install of application 740 (for the demo). A named script that cannot be read ends the program
// with exit code 2 and a message on standard error.
//
// Script lines (the script's own line ends may be LF or CR LF; the last line needs none):
//   # comment, or an empty line     ignored
//   <end>[@<ms>] <text>             writes <text> and the line end <end>, then pauses <ms>
//   sleep <ms>                      pauses without writing
//   hang                            waits until the program is ended from outside
//   exit <code>                     ends at once with <code> (decimal, 0 to 4294967295)
// <end> is "crlf", "lf", "cr" or "none" (no line end: an unfinished line); with the prefix "err-"
// ("err-lf") the bytes go to standard error instead. Exactly one blank separates the keyword from
// the text, which runs to the end of the script line and may be empty; in it "\\", "\r", "\n",
// "\t", "\0" and "\xHH" stand for a backslash, CR, LF, TAB, NUL and the byte HH. Every other byte
// is written as it stands. Each line is written with one unbuffered write, so a reader sees it at
// once. Without an "exit" line the program ends with 0 after the last line. A line that follows
// none of these forms ends the program with exit code 2 and a message on standard error.
//
// steamcmd.log, one record per start (format in fake_support.h):
//   === steamcmd ===
//   pid: <process id>
//   command line: <the whole command line>
//   folder: <working folder>
//   script: <path of the script> | built-in
//   === end ===
#include <cstdlib>
#include <string>
#include <string_view>

#include "fake_support.h"

namespace {

using namespace orv::fake;

constexpr const char* kBuiltInScript =
    "crlf Redirecting stderr to 'logs\\\\stderr.txt'\n"
    "crlf@200 [  0%] Checking for available updates...\n"
    "crlf@200 [----] Verifying installation...\n"
    "crlf Steam Console Client (c) Valve Corporation - version 1700000000\n"
    "crlf -- type 'quit' to exit --\n"
    "crlf@300 Loading Steam API...OK\n"
    "crlf \n"
    "crlf@300 Connecting anonymously to Steam Public...OK\n"
    "crlf@200 Waiting for client config...OK\n"
    "crlf@200 Waiting for user info...OK\n"
    "cr@300  Update state (0x5) verifying install, progress: 12.50 (1000 / 8000)\n"
    "cr@300  Update state (0x5) verifying install, progress: 50.00 (4000 / 8000)\n"
    "cr@300  Update state (0x5) verifying install, progress: 87.50 (7000 / 8000)\n"
    "crlf@200  Update state (0x5) verifying install, progress: 100.00 (8000 / 8000)\n"
    "crlf Success! App '740' fully installed.\n"
    "exit 0\n";

void WriteAll(HANDLE handle, const std::string& bytes) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;  // the reader went away; the script goes on as the real tool would
        done += written;
    }
}

[[noreturn]] void Fail(const std::string& message) {
    WriteAll(::GetStdHandle(STD_ERROR_HANDLE), "steamcmd (fake): " + message + "\r\n");
    ::ExitProcess(2);
}

bool ParseNumber(std::string_view text, unsigned long long limit, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > limit) return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case '\\': bytes += '\\'; break;
            case 'r': bytes += '\r'; break;
            case 'n': bytes += '\n'; break;
            case 't': bytes += '\t'; break;
            case '0': bytes += '\0'; break;
            case 'x': {
                const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) return false;
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

// Runs one script line; false when the line follows none of the forms.
bool RunLine(std::string_view line) {
    if (line.empty() || line.front() == '#') return true;
    const size_t blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    const std::string_view rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    unsigned long long number = 0;
    if (word == "sleep") {
        if (!ParseNumber(rest, 0x7FFFFFFF, number)) return false;
        ::Sleep(static_cast<DWORD>(number));
        return true;
    }
    if (word == "hang") {
        if (blank != std::string_view::npos) return false;
        for (;;) ::Sleep(INFINITE);
    }
    if (word == "exit") {
        if (!ParseNumber(rest, 0xFFFFFFFF, number)) return false;
        ::ExitProcess(static_cast<UINT>(number));
    }

    std::string_view end = word;
    DWORD pause = 0;
    if (const size_t at = end.find('@'); at != std::string_view::npos) {
        if (!ParseNumber(end.substr(at + 1), 0x7FFFFFFF, number)) return false;
        pause = static_cast<DWORD>(number);
        end = end.substr(0, at);
    }
    DWORD stream = STD_OUTPUT_HANDLE;
    if (end.substr(0, 4) == "err-") {
        stream = STD_ERROR_HANDLE;
        end = end.substr(4);
    }
    std::string bytes;
    if (!Unescape(rest, bytes)) return false;
    if (end == "crlf")
        bytes += "\r\n";
    else if (end == "lf")
        bytes += '\n';
    else if (end == "cr")
        bytes += '\r';
    else if (end != "none")
        return false;
    WriteAll(::GetStdHandle(stream), bytes);
    if (pause) ::Sleep(pause);
    return true;
}

}  // namespace

int main() {
    Record record("steamcmd");
    std::string script, scriptPath;
    if (const wchar_t* named = ::_wgetenv(L"ORVANTA_FAKE_STEAMCMD_SCRIPT"); named && *named) {
        scriptPath = orv::Narrow(named);
    } else if (const std::string beside = ExeFolder() + "\\steamcmd.script"; ReadWholeFile(beside, script)) {
        scriptPath = beside;
    }
    record.Field("script", scriptPath.empty() ? "built-in" : scriptPath);
    record.AppendTo("steamcmd.log");

    if (scriptPath.empty())
        script = kBuiltInScript;
    else if (!ReadWholeFile(scriptPath, script))
        Fail("cannot read the script " + scriptPath);

    size_t number = 0;
    for (size_t start = 0; start < script.size();) {
        size_t stop = script.find('\n', start);
        if (stop == std::string::npos) stop = script.size();
        std::string_view line(script.data() + start, stop - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number;
        if (!RunLine(line)) Fail("script line " + std::to_string(number) + " is not understood");
        start = stop + 1;
    }
    return 0;
}
