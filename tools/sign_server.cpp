#include "tools/sign_server.h"

#include <filesystem>
#include <map>
#include <random>

#include "launcher/base/errors.h"
#include "launcher/catalogue.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "tools/check.h"
#include "tools/positive_number.h"
#include "tools/publish.h"

namespace orv::publish {
namespace fs = std::filesystem;

const char* const SignServerUsage =
    "  --server-root ROOT      the folder a web server serves at the server base\n"
    "  --signing-key KEY.pem   PEM EC P-256 private key; again for each further key\n"
    "  --expires-days N        how long the signatures hold (default: 30)\n"
    "  --server-base URL       the address the catalogue was published for (default: the build's)\n"
    "  --game-code CODE        the game's folder below ROOT (default: the build's game code)\n"
    "  --codepage 1251|1252|866  the code page of the checklists (1251)\n";

namespace {

// A folder of its own for unpacked files, gone when the run ends however it ends.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("orvanta-sign-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return FromFsPath(path_ / name); }

private:
    fs::path path_;
};

void Unpack(const std::string& packed, const std::string& unpacked) {
    bool done = false;
    try {
        done = TLZMAAlone().Main(packed, unpacked, "d");
    } catch (const std::exception&) {
        done = false;
    }
    if (!done) throw Error(packed + " does not unpack");
}

class Signing {
public:
    Signing(const SignServerOptions& o, const std::function<void(const std::string&)>& progress)
        : o_(o), progress_(progress), signer_(o.signing) {}

    std::vector<SignedStatement> Run();

private:
    std::string RootFile(const std::string& relative) const { return o_.serverRoot + "/" + relative; }
    SignedStatement Checklist(const Catalogue& catalogue, const std::string& name);
    bool HashListFits(const std::string& name, uint64_t entries) const;
    uint64_t ComputeHashList(const Catalogue& catalogue, const std::string& name, const std::string& unpacked);
    std::string FileBase(const Catalogue& catalogue, const std::string& name) const;

    const SignServerOptions& o_;
    const std::function<void(const std::string&)>& progress_;
    StatementSigner signer_;
    ScratchFolder scratch_;
};

std::vector<SignedStatement> Signing::Run() {
    const std::string cataloguePath = RootFile(CataloguePath(o_.gameCode));
    if (!FileExists(cataloguePath)) throw Error("no catalogue at " + cataloguePath);
    const Catalogue catalogue = Catalogue::Load(cataloguePath);
    const fs::path root = ToFsPath(o_.serverRoot);
    std::vector<SignedStatement> done;
    for (const std::string& name : CatalogueChecklists(catalogue, o_.codePage)) done.push_back(Checklist(catalogue, name));

    const std::string installer = RootFile(UpdateInstallerPath(o_.gameCode));
    if (FileExists(installer)) {
        const std::string unpacked = scratch_.File("upt.exe");
        Unpack(installer, unpacked);
        const FileDigest digest = Sha256OfFile(unpacked);
        RemoveFile(unpacked);
        done.push_back({InstallerStatementPath(o_.gameCode), SignInstaller(signer_, root, o_.gameCode, digest)});
        progress_("signed " + done.back().path + " version " + std::to_string(done.back().version));
    }
    if (FileExists(RootFile(KeepListPath(o_.gameCode)))) {
        done.push_back({KeepListStatementPath(o_.gameCode), SignKeepList(signer_, root, o_.gameCode)});
        progress_("signed " + done.back().path + " version " + std::to_string(done.back().version));
    }
    done.push_back({CatalogueStatementPath(o_.gameCode), SignCatalogue(signer_, root, o_.gameCode, o_.codePage)});
    progress_("signed " + done.back().path + " version " + std::to_string(done.back().version));
    return done;
}

SignedStatement Signing::Checklist(const Catalogue& catalogue, const std::string& name) {
    const std::string packed = RootFile(ChecklistPath(name, o_.gameCode));
    if (!FileExists(packed)) throw Error("the catalogue names the checklist " + name + ", but " + packed + " is missing");
    const std::string unpacked = scratch_.File("checklist.dim");
    Unpack(packed, unpacked);
    uint64_t entries = 0;
    {
        ChecklistReader reader = ChecklistReader::Stream(unpacked, AnsiTextDecoder(o_.codePage));
        while (!reader.AtEnd()) {
            reader.Next();
            ++entries;
        }
    }
    SignedStatement result;
    result.path = ChecklistStatementPath(name, o_.gameCode);
    if (!HashListFits(name, entries)) {
        progress_(name + ": computing the hash list from the server's files");
        entries = ComputeHashList(catalogue, name, unpacked);
        result.hashListComputed = true;
    }
    RemoveFile(unpacked);
    result.version = SignChecklist(signer_, ToFsPath(o_.serverRoot), o_.gameCode, name, entries);
    progress_("signed " + result.path + " version " + std::to_string(result.version) +
              (result.hashListComputed ? " (hash list computed)" : ""));
    return result;
}

// The hash list is reused only when it has a line for every entry and the last statement covers
// both it and the present checklist: a build published again without a key may have changed files
// while keeping their number.
bool Signing::HashListFits(const std::string& name, uint64_t entries) const {
    const std::string list = RootFile(HashListPath(name, o_.gameCode));
    const std::string statementFile = RootFile(ChecklistStatementPath(name, o_.gameCode));
    if (!FileExists(list) || !FileExists(statementFile)) return false;
    try {
        if (ProbeFile(statementFile).size > static_cast<int64_t>(kStatementMaxBytes)) return false;
        const std::optional<Statement> last = ParseStatement(ReadFileBytes(statementFile));
        if (!last || last->kind != StatementKind::Checklist || last->entries != entries) return false;
        const FileDigest packed = Sha256OfFile(RootFile(ChecklistPath(name, o_.gameCode)));
        const FileDigest hashes = Sha256OfFile(list);
        if (packed.sha256 != last->sha256 || packed.size != last->size || hashes.sha256 != last->hashesSha256 ||
            hashes.size != last->hashesSize)
            return false;
        HashListReader reader = HashListReader::Open(list);
        uint64_t lines = 0;
        while (reader.Next()) ++lines;
        return !reader.Failed() && lines == entries;
    } catch (const Error&) {
        return false;  // unreadable: made again
    }
}

// Where the checklist's files lie below the root: the download address of the first build that
// names it, below the server base.
std::string Signing::FileBase(const Catalogue& catalogue, const std::string& name) const {
    for (int game = 1; game <= catalogue.GameCount(); ++game) {
        for (int build = 1; build <= catalogue.BuildCount(game); ++build) {
            const CatalogueText checklist = catalogue.ChecklistName(game, build);
            if (!checklist.stored || checklist.bytes != name) continue;
            const CatalogueText address = catalogue.DownloadAddress(game, build);
            if (!address.stored)
                throw Error("build " + std::to_string(build) + " of game " + std::to_string(game) +
                            " has no download address in the catalogue");
            const std::string decoded = address.Decoded(o_.codePage);
            const std::optional<std::string> below = DownloadPathOf(decoded, o_.serverBase);
            if (!below)
                throw Error("the download address " + decoded + " does not lie below " + o_.serverBase +
                            ": give the address the catalogue was published for with --server-base");
            if (!check::IsDownloadPathBelowBase(*below))
                throw Error("the download address " + decoded + " leaves " + o_.serverBase + " and the server root");
            return *below;
        }
    }
    throw Error("no build of the catalogue names the checklist " + name);
}

uint64_t Signing::ComputeHashList(const Catalogue& catalogue, const std::string& name, const std::string& unpacked) {
    const std::string fileBase = FileBase(catalogue, name);
    const std::string file = scratch_.File("file");
    ChecklistReader reader = ChecklistReader::Stream(unpacked, AnsiTextDecoder(o_.codePage));
    return WriteHashList(
        ToFsPath(o_.serverRoot) / ToFsPath(HashListPath(name, o_.gameCode)), reader, [&](const ChecklistEntry& e) {
            if (!e.pathDecoded || !IsSafeRelativeEntryPath(e.path))
                throw Error("the checklist " + name + " lists " + e.path + ", which is no path in a game folder");
            Unpack(RootFile(GameFileUrl(fileBase, e.path)), file);
            const FileDigest digest = Sha256OfFile(file);
            RemoveFile(file);
            if (digest.size != static_cast<uint64_t>(*e.size))
                throw Error(e.path + " unpacks to " + std::to_string(digest.size) + " bytes, the checklist " + name +
                            " lists " + e.sizeText);
            return digest;
        });
}

}  // namespace

std::vector<SignedStatement> SignServer(const SignServerOptions& options,
                                        const std::function<void(const std::string& line)>& progress) {
    if (!options.signing.Enabled()) throw Error("sign needs --signing-key");
    return Signing(options, progress).Run();
}

std::optional<std::string> ParseSignServerArguments(const std::vector<std::string>& words, SignServerOptions& o) {
    std::vector<std::string> args = words;
    if (std::optional<std::string> problem = TakeSigningArguments(args, o.signing)) return problem;
    std::map<std::string, std::string> given;
    // Every option takes a value: the words go in pairs.
    for (size_t i = 0; i < args.size(); i += 2) {
        if (!args[i].starts_with("--")) return "unexpected argument \"" + args[i] + "\"";
        if (i + 1 >= args.size()) return args[i] + " needs a value";
        if (!given.emplace(args[i], args[i + 1]).second) return args[i] + " is given twice";
    }
    const auto take = [&](const char* name, std::string& field) {
        const auto it = given.find(name);
        if (it == given.end()) return false;
        field = it->second;
        given.erase(it);
        return true;
    };
    take("--server-root", o.serverRoot);
    const bool baseGiven = take("--server-base", o.serverBase);
    take("--game-code", o.gameCode);
    std::string page;
    if (take("--codepage", page)) {
        int number = 0;
        const std::optional<CodePage> parsed = ParsePositive(page, number) ? CodePageFromNumber(number) : std::nullopt;
        if (!parsed) return "--codepage takes 1251, 1252 or 866, not \"" + page + "\"";
        o.codePage = *parsed;
    }
    if (!given.empty()) return "unknown option " + given.begin()->first;
    if (o.serverRoot.empty()) return std::string("missing --server-root");
    if (o.signing.keys.empty()) return std::string("missing --signing-key");
    if (baseGiven) {
        if (!IsWebAddress(o.serverBase)) return "--server-base takes an http:// or https:// address";
        if (!o.serverBase.ends_with("/")) o.serverBase += "/";
    }
    if (o.gameCode.empty() || o.gameCode.find_first_of("/\\") != std::string::npos)
        return "--game-code takes a folder name";
    return std::nullopt;
}

}  // namespace orv::publish
