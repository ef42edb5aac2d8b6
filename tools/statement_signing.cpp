#include "tools/statement_signing.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "launcher/base/errors.h"
#include "launcher/integrity/chunk_index.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "tools/positive_number.h"
#include "tools/publish.h"
#include "tools/release_signing.h"

namespace orv::publish {
namespace fs = std::filesystem;

namespace {

FileDigest DigestOf(const fs::path& file, const char* what) {
    try {
        return Sha256OfFile(FromFsPath(file));
    } catch (const Error& e) {
        throw Error(std::string("Cannot read the ") + what + " " + FromFsPath(file) + ": " + e.what());
    }
}

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::optional<std::string> TakeSigningArguments(std::vector<std::string>& args, StatementSigning& signing) {
    std::vector<std::string> rest;
    bool expiryGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        const bool ours = name == "--signing-key" || name == "--expires-days" || name.starts_with("--signing-key=") ||
                          name.starts_with("--expires-days=");
        if (!ours) {
            rest.push_back(name);
            // An option's value may itself begin with "--signing-key": it is not taken apart.
            if (name.starts_with("--") && name.find('=') == std::string::npos && i + 1 < args.size())
                rest.push_back(args[++i]);
            continue;
        }
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return name + " needs a value";
        }
        if (name == "--signing-key") {
            if (value.empty()) return std::string("--signing-key is empty");
            signing.keys.push_back(value);
            continue;
        }
        if (expiryGiven) return std::string("--expires-days is given twice");
        expiryGiven = true;
        if (std::optional<std::string> wrong = CountOptionProblem("--expires-days", value, signing.expiresDays,
                                                                  MostExpiryDays))
            return wrong;
    }
    if (expiryGiven && signing.keys.empty()) return std::string("--expires-days needs --signing-key");
    if (signing.keys.size() > kStatementMaxSignatures)
        return "at most " + std::to_string(kStatementMaxSignatures) + " --signing-key";
    args = std::move(rest);
    return std::nullopt;
}

std::string CatalogueStatementPath(const std::string& gameCode) { return gameCode + "/inf.ini.sig"; }
std::string ChecklistStatementPath(const std::string& checklist, const std::string& gameCode) {
    return gameCode + "/" + checklist + ".dim.sig";
}
std::string HashListPath(const std::string& checklist, const std::string& gameCode) {
    return gameCode + "/" + checklist + ".dim.sha256";
}
std::string InstallerStatementPath(const std::string& gameCode) { return gameCode + "/upt.exe.sig"; }
std::string KeepListStatementPath(const std::string& gameCode) { return KeepListPath(gameCode) + ".sig"; }

StatementSigner::StatementSigner(const StatementSigning& signing) : signing_(signing) {
    if (signing.keys.size() > kStatementMaxSignatures)
        throw Error("A statement holds at most " + std::to_string(kStatementMaxSignatures) + " signatures");
    if (signing.expiresDays < 1 || signing.expiresDays > MostExpiryDays)
        throw Error("Signatures expire after 1 to " + std::to_string(MostExpiryDays) + " days");
    for (const std::string& key : signing.keys) {
        const EcdsaPublicKey publicKey = SigningPublicKey(key);
        if (std::find(publicKeys_.begin(), publicKeys_.end(), publicKey) != publicKeys_.end())
            throw Error(key + ": the same key is given twice");
        publicKeys_.push_back(publicKey);
    }
}

uint64_t StatementSigner::Write(const fs::path& target, Statement statement) const {
    const uint64_t previous = StatementVersion(target);
    if (previous == UINT64_MAX >> 1) throw Error(FromFsPath(target) + " has reached the highest version");
    statement.version = previous + 1;
    statement.expires = Now() + int64_t{signing_.expiresDays} * 24 * 60 * 60;
    statement.signatures.clear();
    std::string text = StatementBody(statement);
    const Sha256Digest body = Sha256Of(text);
    for (size_t i = 0; i < signing_.keys.size(); ++i)
        text += StatementSignatureLine(publicKeys_[i], SignDigest(signing_.keys[i], body));
    if (text.size() > kStatementMaxBytes)
        throw Error(FromFsPath(target) + " would exceed " + std::to_string(kStatementMaxBytes) +
                    " bytes, more than a launcher reads");
    fs::create_directories(target.parent_path());
    // A reader sees the old statement or the new one, never part of one.
    WriteFileReplacing(FromFsPath(target), text);
    return statement.version;
}

uint64_t StatementVersion(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size > kStatementMaxBytes) return 0;
    try {
        const std::optional<Statement> statement = ParseStatement(ReadFileBytes(FromFsPath(file)));
        return statement ? statement->version : 0;
    } catch (const Error&) {
        return 0;
    }
}

std::vector<std::string> CatalogueChecklists(const Catalogue& catalogue, CodePage page) {
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (int game = 1; game <= catalogue.GameCount(); ++game) {
        for (int build = 1; build <= catalogue.BuildCount(game); ++build) {
            const CatalogueText name = catalogue.ChecklistName(game, build);
            if (!name.stored) continue;  // the launcher has no checklist to fetch for it either
            if (name.bytes.empty() || name.bytes.find_first_of(std::string_view("/\\\r\n\0", 5)) != std::string::npos ||
                name.bytes == "." || name.bytes == "..")
                throw Error("Build " + std::to_string(build) + " of game " + std::to_string(game) +
                            " names the checklist \"" + name.bytes + "\", which is not a file name");
            // Statements are UTF-8, as the launcher and the tool compare names once decoded.
            const std::string decoded = name.Decoded(page);
            if (seen.insert(decoded).second) names.push_back(decoded);
        }
    }
    if (names.size() > kStatementMaxPins)
        throw Error("The catalogue names more than " + std::to_string(kStatementMaxPins) + " checklists");
    return names;
}

std::vector<StatementPin> CataloguePins(const Catalogue& catalogue, CodePage page, const fs::path& root,
                                        const std::string& gameCode, const std::string& coming) {
    std::vector<StatementPin> pins;
    for (const std::string& name : CatalogueChecklists(catalogue, page)) {
        if (name == coming) {
            pins.push_back({0, name});
            continue;
        }
        const fs::path file = BelowFolder(root, ChecklistStatementPath(name, gameCode));
        const uint64_t version = StatementVersion(file);
        if (version == 0)
            throw Error("The checklist " + name + " has no signed statement (" + FromFsPath(file) +
                        "): sign the server with orvanta-tool sign first");
        pins.push_back({version, name});
    }
    return pins;
}

uint64_t SignCatalogue(const StatementSigner& signer, const fs::path& root, const std::string& gameCode, CodePage page) {
    const fs::path file = BelowFolder(root, CataloguePath(gameCode));
    Statement s;
    s.kind = StatementKind::Catalogue;
    s.game = gameCode;
    s.name = "inf.ini";
    const FileDigest digest = DigestOf(file, "catalogue");
    s.sha256 = digest.sha256;
    s.size = digest.size;
    s.pins = CataloguePins(Catalogue::Load(FromFsPath(file)), page, root, gameCode);
    return signer.Write(BelowFolder(root, CatalogueStatementPath(gameCode)), std::move(s));
}

uint64_t WriteHashList(const fs::path& target, ChecklistReader& reader,
                       const std::function<FileDigest(const ChecklistEntry& entry)>& fileDigest) {
    const FileDigest none{Sha256Of(""), 0};
    fs::create_directories(target.parent_path());
    const fs::path part = fs::path(target) += ".signing";
    uint64_t entries = 0;
    {
        PendingFile file(FromFsPath(part));
        std::string block;
        const auto flush = [&] {
            file.Write(block.data(), block.size());
            block.clear();
        };
        while (!reader.AtEnd()) {
            const ChecklistEntry entry = reader.Next();
            ++entries;
            if (!entry.complete) throw Error("The checklist ends inside entry " + std::to_string(entries));
            if (!entry.size || *entry.size < 0)
                throw Error("Entry " + std::to_string(entries) + " of the checklist (" + entry.path +
                            "): " + ConversionErrorText(entry.sizeText));
            const FileDigest digest = entry.IsFolder() || entry.IsEmptyFile() ? none : fileDigest(entry);
            block += HashListLine({digest.sha256, digest.size});
            if (block.size() >= 64 * 1024) flush();
        }
        flush();
        file.Keep();
    }
    RenameFile(FromFsPath(part), FromFsPath(target), ExistingTarget::Replace);
    return entries;
}

uint64_t SignChecklist(const StatementSigner& signer, const fs::path& root, const std::string& gameCode,
                       const std::string& checklist, uint64_t entries) {
    Statement s;
    s.kind = StatementKind::Checklist;
    s.game = gameCode;
    s.name = checklist;
    const FileDigest packed = DigestOf(BelowFolder(root, ChecklistPath(checklist, gameCode)), "checklist");
    s.sha256 = packed.sha256;
    s.size = packed.size;
    const FileDigest hashes = DigestOf(BelowFolder(root, HashListPath(checklist, gameCode)), "hash list");
    s.hashesSha256 = hashes.sha256;
    s.hashesSize = hashes.size;
    s.entries = entries;
    // The build's chunk index, when it has one: a keyed launcher uses no index the key did not name.
    const fs::path index = BelowFolder(root, ChunkIndexPath(checklist, gameCode));
    std::error_code ec;
    if (fs::exists(index, ec)) {
        const uintmax_t size = fs::file_size(index, ec);
        if (ec || size > kChunkIndexMaxBytes)
            throw Error("The chunk index " + FromFsPath(index) + " cannot be read or exceeds " +
                        std::to_string(kChunkIndexMaxBytes) + " bytes");
        std::string text;
        try {
            text = ReadFileBytes(FromFsPath(index));
        } catch (const Error& e) {
            throw Error("Cannot read the chunk index " + FromFsPath(index) + ": " + e.what());
        }
        // One read gives both the digest and the parse, so what is signed is what was checked.
        const ChunkIndexRead read = ParseChunkIndex(text);
        if (!read.index)
            throw Error("The chunk index " + FromFsPath(index) + " is not usable (" + read.error +
                        "): publish the build again");
        s.chunksSha256 = Sha256Of(text);
        s.chunksSize = text.size();
    }
    return signer.Write(BelowFolder(root, ChecklistStatementPath(checklist, gameCode)), std::move(s));
}

uint64_t SignInstaller(const StatementSigner& signer, const fs::path& root, const std::string& gameCode,
                       const FileDigest& unpacked) {
    Statement s;
    s.kind = StatementKind::Installer;
    s.game = gameCode;
    s.name = "upt.exe";
    s.sha256 = unpacked.sha256;
    s.size = unpacked.size;
    return signer.Write(BelowFolder(root, InstallerStatementPath(gameCode)), std::move(s));
}

uint64_t SignKeepList(const StatementSigner& signer, const fs::path& root, const std::string& gameCode) {
    Statement s;
    s.kind = StatementKind::KeepList;
    s.game = gameCode;
    s.name = gameCode + "clean.json";
    const FileDigest digest = DigestOf(BelowFolder(root, KeepListPath(gameCode)), "keep list");
    s.sha256 = digest.sha256;
    s.size = digest.size;
    return signer.Write(BelowFolder(root, KeepListStatementPath(gameCode)), std::move(s));
}

}  // namespace orv::publish
