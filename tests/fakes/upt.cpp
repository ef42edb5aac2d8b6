// Stand-in for the update installer: it records that it ran in "upt.log" beside itself and ends
// with exit code 0. It installs nothing.
//
// upt.log, one record per run (format in fake_support.h):
//   === upt ===
//   pid: <process id>
//   command line: <the whole command line>
//   folder: <working folder>
//   === end ===
#include "fake_support.h"

int main() { return orv::fake::Record("upt").AppendTo("upt.log") ? 0 : 1; }
