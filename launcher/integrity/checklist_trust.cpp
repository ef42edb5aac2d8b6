#include "launcher/integrity/checklist_trust.h"

#include <limits>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

TrustResult Failed(TrustFailure failure, std::string detail) { return TrustResult{failure, std::move(detail)}; }

// The statement in a file of the game folder; a missing file is Missing, a huge one Malformed, and
// neither is read further than one byte past the limit.
TrustResult ReadStatementFile(const std::string& path, const std::string& shownName, std::string& text) {
    if (!FileExists(path)) return Failed(TrustFailure::Missing, shownName + " is missing");
    std::optional<std::string> bytes;
    try {
        bytes = ReadBoundedFile(path, kStatementMaxBytes);
    } catch (const Error& e) {
        return Failed(TrustFailure::Missing, shownName + ": " + e.what());
    }
    if (!bytes) return Failed(TrustFailure::Malformed, shownName + " is larger than a statement can be");
    text = std::move(*bytes);
    return {};
}

TrustResult DigestOf(const std::string& path, const std::string& shownName, FileDigest& digest) {
    try {
        digest = Sha256OfFile(path);
    } catch (const Error& e) {
        return Failed(TrustFailure::Missing, shownName + ": " + e.what());
    }
    return {};
}

TrustResult Named(TrustResult result, const std::string& shownName) {
    if (!result) result.detail = shownName + ": " + result.detail;
    return result;
}

}  // namespace

std::string CatalogueStatementFileName() { return "inf.ini.sig"; }
std::string ChecklistStatementFileName(std::string_view checklist) { return std::string(checklist) + ".dim.sig"; }
std::string HashListFileName(std::string_view checklist) { return std::string(checklist) + ".dim.sha256"; }

uint64_t HashListLimit(uint64_t entries) {
    constexpr uint64_t kMostLines = std::numeric_limits<uint64_t>::max() / kHashListLineBytes - 1;
    return (entries < kMostLines ? entries + 1 : kMostLines + 1) * kHashListLineBytes;
}

std::optional<std::string> ReadBoundedFile(const std::string& path, size_t limit) {
    File file = File::OpenRead(path);
    std::string bytes;
    std::vector<char> block(64 * 1024);
    for (;;) {
        const size_t got = file.ReadOrRaise(block.data(), block.size());
        if (got == 0) return bytes;
        if (got > limit - bytes.size()) return std::nullopt;
        bytes.append(block.data(), got);
    }
}

TrustResult CatalogueChecklistPin(const std::string& catalogue, const std::string& statementFile,
                                  const EcdsaPublicKey& key, std::string_view game, int64_t now,
                                  std::string_view checklist, uint64_t& pin) {
    const std::string shown = CatalogueStatementFileName();
    std::string text;
    if (TrustResult read = ReadStatementFile(statementFile, shown, text); !read) return read;
    StatementExpectation expected;
    expected.kind = StatementKind::Catalogue;
    expected.game = std::string(game);
    expected.name = "inf.ini";
    expected.now = now;
    Statement statement;
    if (TrustResult verified = VerifyStatement(text, key, expected, &statement); !verified)
        return Named(verified, shown);
    FileDigest digest;
    if (TrustResult hashed = DigestOf(catalogue, "inf.ini", digest); !hashed) return hashed;
    if (TrustResult covered = CheckCoveredDigest(statement, digest); !covered) return Named(covered, "inf.ini");
    for (const StatementPin& p : statement.pins) {
        if (p.checklist != checklist) continue;
        pin = p.version;
        return {};
    }
    return Failed(TrustFailure::WrongSubject, shown + " pins no checklist " + std::string(checklist));
}

TrustResult VerifyChecklistStatement(const std::string& statementFile, const EcdsaPublicKey& key,
                                     std::string_view game, std::string_view checklist, uint64_t pin, int64_t now,
                                     Statement& statement) {
    const std::string shown = ChecklistStatementFileName(checklist);
    std::string text;
    if (TrustResult read = ReadStatementFile(statementFile, shown, text); !read) return read;
    StatementExpectation expected;
    expected.kind = StatementKind::Checklist;
    expected.game = std::string(game);
    expected.name = std::string(checklist);
    expected.exactVersion = pin;
    expected.now = now;
    if (TrustResult verified = VerifyStatement(text, key, expected, &statement); !verified)
        return Named(verified, shown);
    return {};
}

TrustResult CheckChecklistFiles(const Statement& statement, const std::string& compressedChecklist,
                                const std::string& hashList) {
    const std::string& checklist = statement.name;
    const std::string shownChecklist = checklist + ".dim.lzma";
    FileDigest digest;
    if (TrustResult hashed = DigestOf(compressedChecklist, shownChecklist, digest); !hashed) return hashed;
    if (TrustResult covered = CheckCoveredDigest(statement, digest); !covered) return Named(covered, shownChecklist);

    const std::string shownList = HashListFileName(checklist);
    FileDigest listDigest;
    if (TrustResult hashed = DigestOf(hashList, shownList, listDigest); !hashed) return hashed;
    if (listDigest.size != statement.hashesSize)
        return Failed(TrustFailure::WrongContent, shownList + " has " + std::to_string(listDigest.size) +
                                                      " bytes, the statement names " +
                                                      std::to_string(statement.hashesSize));
    if (listDigest.sha256 != statement.hashesSha256)
        return Failed(TrustFailure::WrongContent, shownList + " does not have the SHA-256 the statement names");
    return {};
}

TrustResult MatchHashLine(const ChecklistEntry& entry, const std::optional<HashListEntry>& line, uint64_t index) {
    const std::string where = "entry " + std::to_string(index + 1);
    if (!line) return Failed(TrustFailure::Malformed, "the hash list has no valid line for " + where);
    // A size that is no number is reported by the run as it is for any build; only a number that
    // differs is the list's fault.
    if (entry.size && static_cast<uint64_t>(static_cast<int64_t>(*entry.size)) != line->size)
        return Failed(TrustFailure::WrongContent, "the hash list gives another size for " + where);
    return {};
}

TrustResult CheckHashListInStep(ChecklistReader checklist, HashListReader hashes, uint64_t entries) {
    uint64_t count = 0;
    while (!checklist.AtEnd()) {
        const ChecklistEntry entry = checklist.Next();
        if (count == entries)
            return Failed(TrustFailure::WrongContent, "the checklist has more entries than the statement counts");
        if (TrustResult matched = MatchHashLine(entry, hashes.Next(), count); !matched) return matched;
        ++count;
    }
    if (count != entries)
        return Failed(TrustFailure::WrongContent, "the checklist has " + std::to_string(count) +
                                                      " entries, the statement counts " + std::to_string(entries));
    if (!hashes.AtEnd()) return Failed(TrustFailure::Malformed, "the hash list has more lines than the checklist");
    return {};
}

}  // namespace orv
