// Ending running programs by executable name.
#pragma once

#include <string>

namespace orv {

// Ends every running process whose executable name matches `name` (see ProcessNameMatches), with
// exit code 0. The result is that of the last termination attempt: non-zero when that process was
// ended, 0 when it could not be opened or ended, and 0 when nothing matched or the process list
// could not be read. Processes of other users or of higher privilege are skipped silently. The
// caller is not spared: when it matches, it is ended after all the others.
int KillProcessByName(const std::string& name);

}  // namespace orv
