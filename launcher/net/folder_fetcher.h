// A Fetcher over a server folder on this machine: an address below the server base is the file at
// the same path below the folder, answered as a static web server answers (200 with the body, 404
// without a file there). For a check run against a published folder (orvanta-tool check
// --server-root), whose chunk store is read where it lies.
#pragma once

#include <memory>
#include <string>

#include "launcher/net/fetcher.h"

namespace orv {

// `base` ends with "/"; an address that does not start with it, or whose path climbs out of the
// folder, is answered 404 as well.
std::unique_ptr<Fetcher> NewFolderFetcher(std::string folder, std::string base);

}  // namespace orv
