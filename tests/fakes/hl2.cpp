// Stand-in for the game: it only has to be running, so that the launcher can find and end it by
// name. It records each start in "hl2.log" beside itself and then waits until it is ended from
// outside; it never ends by itself.
//
// hl2.log, one record per start (format in fake_support.h):
//   === hl2 ===
//   pid: <process id>
//   command line: <the whole command line>
//   folder: <working folder>
//   === end ===
#include "fake_support.h"

int main() {
    orv::fake::Record("hl2").AppendTo("hl2.log");
    for (;;) ::Sleep(INFINITE);
}
