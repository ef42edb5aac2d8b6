#include "tools/publish_launcher.h"

#include <charconv>
#include <filesystem>
#include <map>

#include <nlohmann/json.hpp>

#include "launcher/base/errors.h"
#include "launcher/catalogue.h"
#include "launcher/config/ini_file.h"
#include "launcher/integrity/crc32.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"
#include "tools/publish.h"
#include "tools/release_signing.h"

namespace orv::publish {
namespace fs = std::filesystem;

const char* const LauncherReleaseUsage =
    "  --executable FILE       the built launcher\n"
    "  --server-root ROOT      the folder a web server serves at the server base\n"
    "  --version TEXT          the release's version; launchers of any other version update\n"
    "  --installer FILE        the update installer, published as <game code>/upt.exe.lzma\n"
    "  --type 0|1|2            how launchers update: 0 the manual page, 1 the installer, 2 directly\n"
    "  --manual-url URL        the page for a manual update\n"
    "  --show-notification N   bit set of the kinds announced first (bit 0 manual, 1 installer, 2 direct)\n"
    "  --allow-cancel N        bit set of the announcements the player may decline\n"
    "  --server-base URL       the address ROOT is served at (default: the build's update server)\n"
    "  --game-code CODE        the game's folder below ROOT (default: the build's game code)\n"
    "  --signing-key FILE      PEM EC P-256 private key: version.txt gets the executable's \"Signature\",\n"
    "                          which launchers built with its public key require (native tool only);\n"
    "                          the installer's and the catalogue's statements are signed too, also by\n"
    "                          each further --signing-key (the executable by the first)\n"
    "  --expires-days N        how long the statements' signatures hold (default: 30)\n";

namespace {

// The catalogue's checklist names are decoded for their pins as publish writes them by default; a
// release has no code page option of its own.
constexpr CodePage kCatalogueCodePage = CodePage::Windows1251;

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<std::string> LauncherReleaseProblem(const LauncherReleaseOptions& o) {
    // A launcher told to update by the installer fetches upt.exe.lzma from the server and starts it.
    if (o.typeOfSelfUpdate == 1 && o.installer.empty())
        return std::string("--type 1 makes launchers download and start the update installer: give it with --installer");
    return std::nullopt;
}

LauncherReleaseSummary PublishLauncher(const LauncherReleaseOptions& o) {
    if (o.version.empty()) throw Error("A launcher release needs its version");
    if (const std::optional<std::string> problem = LauncherReleaseProblem(o)) throw Error(*problem);
    if (!FileExists(o.executable)) throw Error("No launcher at " + o.executable);
    if (!o.installer.empty() && !FileExists(o.installer)) throw Error("No installer at " + o.installer);
    const fs::path folder = ToFsPath(o.serverRoot) / ToFsPath(o.gameCode);
    const std::string packedName = FileName(o.executable) + ".lzma";

    const fs::path root = ToFsPath(o.serverRoot);
    const fs::path catalogue = root / ToFsPath(CataloguePath(o.gameCode));
    const std::string catalogueBytes = fs::exists(catalogue) ? ReadFileBytes(FromFsPath(catalogue)) : std::string();

    LauncherReleaseSummary summary;
    std::optional<StatementSigner> signer;
    if (!o.signingKey.empty()) {
        summary.signature = SignFileHex(o.signingKey, o.executable);
        StatementSigning signing;
        signing.keys.push_back(o.signingKey);
        signing.keys.insert(signing.keys.end(), o.moreSigningKeys.begin(), o.moreSigningKeys.end());
        signing.expiresDays = o.expiresDays;
        signer.emplace(signing);
        // The catalogue keeps its builds, so a checklist that no statement covers would stop its
        // signing at the end: it stops the release here instead.
        CataloguePins(Catalogue(catalogueBytes), kCatalogueCodePage, root, o.gameCode);
    }
    CompressFile(ToFsPath(o.executable), folder / ToFsPath(packedName));
    if (!o.installer.empty()) {
        CompressFile(ToFsPath(o.installer), folder / "upt.exe.lzma");
        summary.installerWritten = true;
        if (signer) summary.installerStatement = SignInstaller(*signer, root, o.gameCode, Sha256OfFile(o.installer));
    }
    const std::string packedPath = FromFsPath(folder / ToFsPath(packedName));
    summary.packedBytes = static_cast<uint64_t>(fs::file_size(folder / ToFsPath(packedName)));
    summary.downloadUrl = o.serverBase + o.gameCode + "/" + packedName;
    summary.fileCrc32 = std::to_string(FileCrc32(o.executable));
    nlohmann::ordered_json description = {
        {"DownloadURL", summary.downloadUrl},
        {"LzmaFileSize", summary.packedBytes},
        {"LzmaFileCRC32", std::to_string(FileCrc32(packedPath))},
        {"FileCRC32", summary.fileCrc32},
    };
    if (!summary.signature.empty()) description["Signature"] = summary.signature;
    WriteFileReplacing(FromFsPath(folder / "version.txt"), description.dump(1, '\t') + "\r\n");

    // Last: the catalogue is what tells launchers that a release is there.
    // A server without a catalogue yet gets one holding just these values.
    IniDocument document(catalogueBytes);
    document.Set("osn", "ver", o.version);
    if (o.typeOfSelfUpdate) document.Set("selfupdate", "typeofselfupdate", std::to_string(*o.typeOfSelfUpdate));
    if (o.manualUpdateUrl) document.Set("selfupdate", "urlformanualupdate", *o.manualUpdateUrl);
    if (o.showNotification)
        document.Set("selfupdate", "shownotificationselfupdate", std::to_string(*o.showNotification));
    if (o.allowCancel) document.Set("selfupdate", "allowcancelselfupdate", std::to_string(*o.allowCancel));
    fs::create_directories(catalogue.parent_path());
    WriteFileReplacing(FromFsPath(catalogue), document.Bytes());
    if (signer) summary.catalogueStatement = SignCatalogue(*signer, root, o.gameCode, kCatalogueCodePage);
    return summary;
}

std::optional<std::string> ParseLauncherReleaseArguments(const std::vector<std::string>& words,
                                                         LauncherReleaseOptions& o) {
    const auto number = [](const std::string& text, std::optional<int32_t>& out) {
        int32_t value = 0;
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        if (ec != std::errc() || ptr != end || text.empty()) return false;
        out = value;
        return true;
    };
    std::vector<std::string> args = words;
    StatementSigning signing;
    if (std::optional<std::string> problem = TakeSigningArguments(args, signing)) return problem;
    if (!signing.keys.empty()) {
        o.signingKey = signing.keys.front();
        o.moreSigningKeys.assign(signing.keys.begin() + 1, signing.keys.end());
        o.expiresDays = signing.expiresDays;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) return name + " needs a value";
        const std::string& value = args[++i];
        if (name == "--executable") o.executable = value;
        else if (name == "--installer") o.installer = value;
        else if (name == "--server-root") o.serverRoot = value;
        else if (name == "--server-base") o.serverBase = value;
        else if (name == "--game-code") o.gameCode = value;
        else if (name == "--version") o.version = value;
        else if (name == "--manual-url") o.manualUpdateUrl = value;
        else if (name == "--type") {
            if (!number(value, o.typeOfSelfUpdate)) return "--type takes a whole number";
        } else if (name == "--show-notification") {
            if (!number(value, o.showNotification)) return "--show-notification takes a whole number";
        } else if (name == "--allow-cancel") {
            if (!number(value, o.allowCancel)) return "--allow-cancel takes a whole number";
        } else {
            return "unknown option " + name;
        }
    }
    if (o.executable.empty()) return std::string("--executable is missing");
    if (o.serverRoot.empty()) return std::string("--server-root is missing");
    if (o.version.empty()) return std::string("--version is missing");
    if (o.serverBase.empty() || o.serverBase.back() != '/') return std::string("--server-base must end with /");
    return LauncherReleaseProblem(o);
}

}  // namespace orv::publish
