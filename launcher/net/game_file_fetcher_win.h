// The connection through which the check engine's download thread fetches game files for the
// launcher's run: the download client's agent and flags, every answer's body saved whatever its
// status (an error page then fails to unpack, as the run expects), and the client's time-outs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "launcher/net/fetcher.h"

namespace orv {

std::unique_ptr<Fetcher> NewGameFileFetcher();

// The platform's text for a code a download failed with (WinInet's own codes included).
std::string DownloadErrorMessage(uint32_t code);

}  // namespace orv
