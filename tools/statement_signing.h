// Writing the publisher's signed statements (launcher/integrity/statement.h) onto a server root:
// the checklist statement with its hash list, the installer and keep list statements and the
// catalogue statement that pins the checklists. Shared by publish, publish-launcher and sign.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/catalogue.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/statement.h"

namespace orv::publish {

inline constexpr int DefaultExpiryDays = 30;
inline constexpr int MostExpiryDays = 3650;

// The keys that sign and for how long. No keys: nothing is signed and nothing new is written.
struct StatementSigning {
    std::vector<std::string> keys;  // PEM files of P-256 private keys, one signature each
    int expiresDays = DefaultExpiryDays;
    bool Enabled() const { return !keys.empty(); }
};

// Takes "--signing-key" (any number of times) and "--expires-days" out of the command-line words;
// the first problem, or nothing.
std::optional<std::string> TakeSigningArguments(std::vector<std::string>& args, StatementSigning& signing);

// Paths below the server root, "/"-separated.
std::string CatalogueStatementPath(const std::string& gameCode);
std::string ChecklistStatementPath(const std::string& checklist, const std::string& gameCode);
std::string HashListPath(const std::string& checklist, const std::string& gameCode);
std::string InstallerStatementPath(const std::string& gameCode);
std::string KeepListStatementPath(const std::string& gameCode);

// The keys, read once so that a key that cannot sign stops a run before it writes anything.
class StatementSigner {
public:
    // Raises Error for a key that cannot sign, the same key twice or more keys than a statement
    // holds signatures.
    explicit StatementSigner(const StatementSigning& signing);

    // Signs `statement` with a version above the one in `target` (1 when there is none that
    // parses) and the expiry from now, and puts it in place whole. The version it got.
    uint64_t Write(const std::filesystem::path& target, Statement statement) const;

private:
    StatementSigning signing_;
    std::vector<EcdsaPublicKey> publicKeys_;
};

// The version of the statement in `file`; 0 when there is none or it does not parse.
uint64_t StatementVersion(const std::filesystem::path& file);

// The checklists the catalogue names ("nazcek" of every build), each once, in the catalogue's
// order, decoded from `page` to UTF-8. Raises Error for a name that is not a plain file name.
std::vector<std::string> CatalogueChecklists(const Catalogue& catalogue, CodePage page);

// One pin per checklist of the catalogue, at the version of its statement on the server. A
// checklist without a statement is an Error telling the operator to sign the server. `coming` names
// a checklist about to be signed: it is not looked for, and its pin is 0.
std::vector<StatementPin> CataloguePins(const Catalogue& catalogue, CodePage page, const std::filesystem::path& root,
                                        const std::string& gameCode, const std::string& coming = {});

// The statement of the catalogue file as it lies on the server, pinning its checklists. The version
// it got.
uint64_t SignCatalogue(const StatementSigner& signer, const std::filesystem::path& root,
                       const std::string& gameCode, CodePage page);

// Writes the hash list of the checklist that `reader` walks at `target`, through a file beside it
// that takes its place when complete: folders and empty files as no bytes, other files as
// `fileDigest` gives them. The number of entries. Raises Error for an entry cut short or of a size
// that does not convert.
uint64_t WriteHashList(const std::filesystem::path& target, ChecklistReader& reader,
                       const std::function<FileDigest(const ChecklistEntry& entry)>& fileDigest);

// The statement of a checklist whose ".dim.lzma" and hash list lie on the server already; it names
// the build's chunk index too when one lies beside them (an unusable one is an Error).
uint64_t SignChecklist(const StatementSigner& signer, const std::filesystem::path& root, const std::string& gameCode,
                       const std::string& checklist, uint64_t entries);

// The statement of the update installer, from the digest of its unpacked bytes.
uint64_t SignInstaller(const StatementSigner& signer, const std::filesystem::path& root, const std::string& gameCode,
                       const FileDigest& unpacked);

// The statement of the keep list as it lies on the server: a keyed launcher's cleaner deletes
// what it does not name, so it follows no list the key did not sign.
uint64_t SignKeepList(const StatementSigner& signer, const std::filesystem::path& root, const std::string& gameCode);

}  // namespace orv::publish
