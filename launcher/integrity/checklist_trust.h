// What a launcher built with a publisher key holds a build's checklist to before it reads a line
// of it: the local catalogue's signed statement pins the version of the checklist's statement,
// that statement names the SHA-256 of the compressed checklist and of its hash list, and the hash
// list gives, entry by entry, the SHA-256 every repaired file must unpack to. A checklist that
// fails any of these is not walked at all, so nothing in the game folder changes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/integrity/checklist.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/statement.h"

namespace orv {

// The files of a signed build beside the ones they vouch for: on the server and, while a run
// holds them, in the game folder.
std::string CatalogueStatementFileName();                            // "inf.ini.sig"
std::string ChecklistStatementFileName(std::string_view checklist);  // checklist + ".dim.sig"
std::string HashListFileName(std::string_view checklist);            // checklist + ".dim.sha256"

// The largest hash list a checklist statement of `entries` entries admits: one line more than it
// counts, so that a list with a line too many is read far enough to be refused for it.
uint64_t HashListLimit(uint64_t entries);

// The file's bytes when it holds at most `limit` of them; nothing when it holds more. Raises
// EOSError when it cannot be opened or read.
std::optional<std::string> ReadBoundedFile(const std::string& path, size_t limit);

// Verifies the game folder's catalogue statement against its catalogue and gives the version it
// pins for the checklist `checklist` (`pin`).
TrustResult CatalogueChecklistPin(const std::string& catalogue, const std::string& statementFile,
                                  const EcdsaPublicKey& key, std::string_view game, int64_t now,
                                  std::string_view checklist, uint64_t& pin);

// Verifies a downloaded checklist statement: its signature, its subject, the pinned version and its
// expiry. `statement` receives it when good; only then does its entry count bound the hash list.
TrustResult VerifyChecklistStatement(const std::string& statementFile, const EcdsaPublicKey& key,
                                     std::string_view game, std::string_view checklist, uint64_t pin, int64_t now,
                                     Statement& statement);
// The compressed checklist and the hash list against what a verified statement names.
TrustResult CheckChecklistFiles(const Statement& statement, const std::string& compressedChecklist,
                                const std::string& hashList);

// One checklist entry against its line of the hash list (nothing: the list ended or broke).
TrustResult MatchHashLine(const ChecklistEntry& entry, const std::optional<HashListEntry>& line, uint64_t index);

// Walks the unpacked checklist and the hash list in step, as the run will: a line for every entry
// with the entry's size, and as many of both as the statement counts.
TrustResult CheckHashListInStep(ChecklistReader checklist, HashListReader hashes, uint64_t entries);

}  // namespace orv
