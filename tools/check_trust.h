// What a keyed "orvanta-tool check" believes of a server: nothing it reads is used before a
// statement signed by the pinned publisher key names its SHA-256. The catalogue's statement pins
// the version of each checklist's statement, so an old checklist served again is refused, and the
// checklist's statement names its hash list, which gives every file's SHA-256.
//
// The tool keeps no memory between runs: a catalogue statement older than one already seen can
// only be refused with --min-catalogue-version.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "launcher/integrity/statement.h"
#include "launcher/net/fetcher.h"

namespace orv::check {

// The most a hash list may list: a checklist longer than any build, and with a line's longest
// form a bound of ~860 MB that nobody serves by mistake.
inline constexpr uint64_t kMostSignedEntries = 10'000'000;

// Puts the server's file at `relative` (below the server base) on this machine and says where it
// lies: the server folder's own file, or `temporary` once fetched there. Refuses (raises Error) a
// file of more than `most` bytes before more is read; raises Error naming the file when it cannot
// be had.
using ServerFileSource =
    std::function<std::string(const std::string& relative, const std::string& temporary, uint64_t most)>;

struct TrustAnchor {
    EcdsaPublicKey key{};
    std::string game;
    uint64_t minCatalogueVersion = 0;
    int64_t now = 0;  // seconds since 1970 UTC
};

// "<game>/<name>.sig": where the statement covering a server file lies.
std::string StatementPath(const std::string& game, const std::string& coveredName);
// "<game>/<checklist>.dim.sha256".
std::string HashListPath(const std::string& game, const std::string& checklist);

// The catalogue's statement, verified, and the catalogue it covers at `catalogue` (fetched there
// once the statement holds, no larger than it says). Raises Error naming what was refused.
Statement TrustedCatalogue(const ServerFileSource& source, const TrustAnchor& anchor, const std::string& temporary,
                           std::string& catalogue);

// The version the catalogue's statement pins for `checklist`; raises Error when it pins none.
uint64_t PinnedVersion(const Statement& catalogue, const std::string& checklist);

struct TrustedChecklist {
    Statement statement;
    std::string packed;    // "<checklist>.dim.lzma", proved against the statement
    std::string hashList;  // "<checklist>.dim.sha256", proved against the statement
};

// The checklist's statement (exactly the pinned version), the packed checklist and the hash list,
// each proved before the next is read and none larger than the statement allows. Raises Error.
TrustedChecklist TrustChecklist(const ServerFileSource& source, const TrustAnchor& anchor, const std::string& checklist,
                                uint64_t pinned, const std::string& temporary);

// A server folder's installer statement ("upt.exe.sig") against the unpacked "upt.exe.lzma": true
// when they agree, false when the folder has neither; raises Error when one is missing or they
// disagree.
bool VerifyServerInstaller(const std::string& serverRoot, const TrustAnchor& anchor);

// One GET of `url` into `path` that gives up once the answer says or sends more than `most` bytes:
// a hostile server's endless body costs a little more than `most`. Raises Error naming the address.
void FetchBounded(Fetcher& fetcher, const std::string& url, const std::string& path, uint64_t most,
                  const std::atomic<bool>& interrupt);

// `hex`, or the content of the file it names, as a publisher key (blanks and line ends around it
// ignored); nothing when it is neither.
std::optional<EcdsaPublicKey> PublicKeyArgument(const std::string& hex);

}  // namespace orv::check
