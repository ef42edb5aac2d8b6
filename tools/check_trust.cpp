// The statements of a keyed check: each is read whole only once its size is known to be within
// bounds, verified under the pinned key, and only then is the file it covers read, no larger than
// the statement says.
#include "tools/check_trust.h"
#include "launcher/net/fetch_rules.h"

#include <charconv>
#include <fstream>
#include <iterator>

#include "launcher/base/errors.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "tools/publish.h"

namespace orv::check {
namespace {

const char* FailureWord(TrustFailure failure) {
    switch (failure) {
    case TrustFailure::None: return "good";
    case TrustFailure::Missing: return "missing";
    case TrustFailure::Malformed: return "malformed";
    case TrustFailure::NotSigned: return "not signed";
    case TrustFailure::WrongSubject: return "of another game, kind or file";
    case TrustFailure::Rollback: return "an old version";
    case TrustFailure::Expired: return "expired";
    case TrustFailure::WrongContent: return "another content";
    }
    return "refused";
}

std::string ReadSmallFile(const std::string& path, uint64_t most) {
    std::ifstream in(publish::ToFsPath(path), std::ios::binary);
    if (!in) throw Error("cannot read " + path);
    std::string text;
    text.resize(static_cast<size_t>(most) + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > most) throw Error(path + " is larger than " + std::to_string(most) + " bytes: refused");
    return text;
}

Statement Verified(const ServerFileSource& source, const std::string& relative, const std::string& temporary,
                   const EcdsaPublicKey& key, const StatementExpectation& expected) {
    std::string path;
    try {
        path = source(relative, temporary, kStatementMaxBytes);
    } catch (const Error& e) {
        throw Error("the statement " + relative + " is missing, so the server is not signed by the publisher (" +
                    e.what() + ")");
    }
    Statement statement;
    const TrustResult result = VerifyStatement(ReadSmallFile(path, kStatementMaxBytes), key, expected, &statement);
    if (!result)
        throw Error("the statement " + relative + " is refused (" + FailureWord(result.failure) + "): " + result.detail);
    return statement;
}

void CheckCovered(const Statement& statement, const std::string& path, const std::string& relative) {
    const TrustResult result = CheckCoveredDigest(statement, Sha256OfFile(path));
    if (!result) throw Error(relative + " is not what its signed statement names: " + result.detail);
}

}  // namespace

std::string StatementPath(const std::string& game, const std::string& coveredName) {
    return game + "/" + coveredName + ".sig";
}

std::string HashListPath(const std::string& game, const std::string& checklist) {
    return game + "/" + checklist + ".dim.sha256";
}

Statement TrustedCatalogue(const ServerFileSource& source, const TrustAnchor& anchor, const std::string& temporary,
                           std::string& catalogue) {
    StatementExpectation expected;
    expected.kind = StatementKind::Catalogue;
    expected.game = anchor.game;
    expected.name = "inf.ini";
    expected.minVersion = anchor.minCatalogueVersion;
    expected.now = anchor.now;
    const Statement statement =
        Verified(source, StatementPath(anchor.game, "inf.ini"), temporary + "/inf.ini.sig", anchor.key, expected);
    const std::string relative = CataloguePath(anchor.game);
    catalogue = source(relative, temporary + "/inf.ini", statement.size);
    CheckCovered(statement, catalogue, relative);
    return statement;
}

uint64_t PinnedVersion(const Statement& catalogue, const std::string& checklist) {
    for (const StatementPin& pin : catalogue.pins)
        if (pin.checklist == checklist) return pin.version;
    throw Error("the catalogue's statement pins no version of the checklist \"" + checklist + "\"");
}

TrustedChecklist TrustChecklist(const ServerFileSource& source, const TrustAnchor& anchor, const std::string& checklist,
                                uint64_t pinned, const std::string& temporary) {
    StatementExpectation expected;
    expected.kind = StatementKind::Checklist;
    expected.game = anchor.game;
    expected.name = checklist;
    expected.exactVersion = pinned;
    expected.now = anchor.now;
    const std::string statementPath = StatementPath(anchor.game, checklist + ".dim");
    TrustedChecklist trusted;
    trusted.statement = Verified(source, statementPath, temporary + "/checklist.dim.sig", anchor.key, expected);
    const Statement& s = trusted.statement;
    // Signed or not, a list that could not be walked in bounded time and space is refused before a
    // byte of it is fetched.
    if (s.entries > kMostSignedEntries || s.hashesSize > s.entries * kHashListLineBytes)
        throw Error("the statement " + statementPath + " names a hash list of " + std::to_string(s.hashesSize) +
                    " bytes for " + std::to_string(s.entries) + " entries: refused");

    const std::string packed = ChecklistPath(checklist, anchor.game);
    trusted.packed = source(packed, temporary + "/checklist.dim.lzma", s.size);
    CheckCovered(s, trusted.packed, packed);

    const std::string hashes = HashListPath(anchor.game, checklist);
    trusted.hashList = source(hashes, temporary + "/checklist.dim.sha256", s.hashesSize);
    Statement hashCover = s;
    hashCover.sha256 = s.hashesSha256;
    hashCover.size = s.hashesSize;
    CheckCovered(hashCover, trusted.hashList, hashes);
    return trusted;
}

bool VerifyServerInstaller(const std::string& serverRoot, const TrustAnchor& anchor) {
    const std::string statementRelative = StatementPath(anchor.game, "upt.exe");
    const std::string statementPath = serverRoot + "/" + statementRelative;
    const std::string installer = serverRoot + "/" + UpdateInstallerPath(anchor.game);
    const bool hasStatement = FileExists(statementPath), hasInstaller = FileExists(installer);
    if (!hasStatement && !hasInstaller) return false;
    if (!hasStatement) throw Error("the installer " + installer + " has no statement " + statementRelative);
    if (!hasInstaller) throw Error("the statement " + statementRelative + " covers no installer at " + installer);
    StatementExpectation expected;
    expected.kind = StatementKind::Installer;
    expected.game = anchor.game;
    expected.name = "upt.exe";
    expected.now = anchor.now;
    // The folder's own file, bounded as a fetched one would be.
    const ServerFileSource inFolder = [&](const std::string&, const std::string&, uint64_t most) {
        if (static_cast<uint64_t>(FileSize64(statementPath)) > most)
            throw Error(statementPath + " is larger than " + std::to_string(most) + " bytes: refused");
        return statementPath;
    };
    const Statement statement = Verified(inFolder, statementRelative, std::string(), anchor.key, expected);
    Sha256 hash;
    FileDigest unpacked;
    const bool decoded = DecodeLzmaFile(installer, [&](const void* data, size_t size) {
        hash.Update(data, size);
        unpacked.size += size;
    });
    if (!decoded) throw Error("the installer " + installer + " does not unpack");
    unpacked.sha256 = hash.Finish();
    const TrustResult result = CheckCoveredDigest(statement, unpacked);
    if (!result) throw Error("the installer " + installer + " is not what its signed statement names: " + result.detail);
    return true;
}

void FetchBounded(Fetcher& fetcher, const std::string& url, const std::string& path, uint64_t most,
                  const std::atomic<bool>& interrupt) {
    std::atomic<bool> stop{false};
    bool tooLarge = false;
    const FetchProgress progress = [&](int64_t written, const std::string& lengthText) {
        if (BodyBeyond(written, lengthText, most)) tooLarge = true;
        if (tooLarge || interrupt) stop = true;
    };
    const FetchResult result = fetcher.Get(url, path, stop, progress);
    if (!tooLarge && result.ok && static_cast<uint64_t>(FileSize64(path)) > most) tooLarge = true;
    if (tooLarge) {
        if (FileExists(path)) RemoveFile(path);
        throw Error(url + " is larger than " + std::to_string(most) + " bytes: refused");
    }
    if (!result.ok) throw Error("cannot fetch " + url + ": " + result.error);
}

std::optional<EcdsaPublicKey> PublicKeyArgument(const std::string& hex) {
    if (std::optional<EcdsaPublicKey> key = PublisherKeyFromHex(hex)) return key;
    std::ifstream in(publish::ToFsPath(hex), std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(1024, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::nullopt;
    const size_t last = text.find_last_not_of(" \t\r\n");
    return PublisherKeyFromHex(std::string_view(text).substr(first, last - first + 1));
}

}  // namespace orv::check
