// The catalogue of a launcher built with a publisher key. Such a launcher follows nothing in
// "inf.ini" that the key did not sign: the server's copy is downloaded beside the local one with
// its statement "inf.ini.sig", checked against the key, and only then takes the local copy's place.
// A refused catalogue leaves the local copy (verified on an earlier run) as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "launcher/integrity/statement.h"

namespace orv {

// The server's catalogue statement: the catalogue's address followed by ".sig".
std::string CatalogueStatementUrl();
// GameFolder + "\inf.ini.sig": the statement of the local catalogue.
std::string LocalCatalogueStatementPath();
// Where the server's copies wait while they are checked.
std::string DownloadedCataloguePath();
std::string DownloadedCatalogueStatementPath();

struct SignedCatalogueServices {
    // The catalogue's body to `path`; false when it did not come whole.
    std::function<bool(const std::string& url, const std::string& path)> download;
    // A statement to `path`; false when it did not come whole or is longer than `maxBytes`.
    std::function<bool(const std::string& url, const std::string& path, size_t maxBytes)> downloadStatement;
    // Seconds since 1970 UTC.
    std::function<int64_t()> now;
};

// Downloads the server's catalogue and its statement and checks them against the publisher key
// `publisherKeyHex` (kind catalogue, GameCode, "inf.ini", a version no lower than
// LauncherConfig.CatalogueVersion, not expired, the catalogue's SHA-256 and size). Accepted: a
// higher version is stored in LauncherConfig and at once in an existing settings file, so that a
// rollback is refused after a crash too, and then the statement and the catalogue replace the local
// ones. Refused: the downloads are deleted and nothing local changes. Nothing when the catalogue
// itself did not download (the local copy stays, as without a key). Raises EOSError or Error only
// for a local file that cannot be read, written or replaced (the downloads are deleted then too).
std::optional<TrustResult> UpdateSignedCatalogue(const std::string& publisherKeyHex,
                                                 const SignedCatalogueServices& services);

}  // namespace orv
