// Stand-in for the Steam-emulator loader: it records how it was started and the profile it would
// read, then ends with exit code 0. It starts no game.
//
// The profile is "rev.ini" in the working folder; when that folder has none, the one beside the
// executable (the shell starts the loader in the caller's current folder, which need not be the
// game folder).
//
// revLoader.log, one record per run (format in fake_support.h):
//   === revLoader ===
//   pid: <process id>
//   command line: <the whole command line>
//   folder: <working folder>
//   rev.ini from: working folder | own folder | missing
//   rev.ini path: <path of the copy, empty when missing>
//   rev.ini bytes: <N>
//   <the N bytes of rev.ini, unchanged>
//   === end ===
#include "fake_support.h"

int main() {
    using namespace orv::fake;
    Record record("revLoader");
    const std::pair<const char*, std::string> places[] = {
        {"working folder", CurrentFolder() + "\\rev.ini"},
        {"own folder", ExeFolder() + "\\rev.ini"},
    };
    std::string from = "missing", path, bytes;
    for (const auto& [where, candidate] : places) {
        if (ReadWholeFile(candidate, bytes)) {
            from = where;
            path = candidate;
            break;
        }
    }
    if (path.empty()) bytes.clear();
    record.Field("rev.ini from", from);
    record.Field("rev.ini path", path);
    record.Bytes("rev.ini", bytes);
    return record.AppendTo("revLoader.log") ? 0 : 1;
}
