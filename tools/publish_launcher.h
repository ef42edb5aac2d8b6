// Publishing a launcher release onto the update server: the new executable compressed, the update
// description "version.txt" that the direct self-update reads, the update installer "upt.exe.lzma"
// that the installer path fetches, and the catalogue's launcher version and self-update values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "game_profile.h"
#include "tools/statement_signing.h"

namespace orv::publish {

struct LauncherReleaseOptions {
    std::string executable;  // the built launcher
    std::string installer;   // optional: the update installer
    std::string serverRoot;  // the folder served at `serverBase`
    std::string serverBase = UpdateServerBase;
    std::string gameCode = GameCode;
    std::string version;  // the catalogue's "osn"/"ver": launchers of another version update
    std::optional<int32_t> typeOfSelfUpdate, showNotification, allowCancel;
    std::optional<std::string> manualUpdateUrl;
    std::string signingKey;  // optional: PEM P-256 private key that signs the executable
    // With a signing key the installer's and the catalogue's statements are signed too, by it and
    // by these further keys (while keys change).
    std::vector<std::string> moreSigningKeys;
    int expiresDays = DefaultExpiryDays;
};

struct LauncherReleaseSummary {
    std::string downloadUrl;  // of the compressed executable, as version.txt gives it
    uint64_t packedBytes = 0;
    std::string fileCrc32;  // of the executable, as version.txt gives it
    bool installerWritten = false;
    std::string signature;  // "Signature" of version.txt; empty when not signed
    uint64_t installerStatement = 0;  // the versions signed; 0 when not signed
    uint64_t catalogueStatement = 0;
};

// Writes ROOT/<game code>/<executable name>.lzma, upt.exe.lzma (with an installer), version.txt and
// then the catalogue's values, every other catalogue line kept byte for byte: a launcher that looks
// meanwhile finds the old version or a new one whose files are all in place. With a signing key the
// executable is signed before anything is written, so a key that cannot sign leaves the server as
// it was; "upt.exe.sig" follows the installer and "inf.ini.sig" the catalogue. Raises Error.
LauncherReleaseSummary PublishLauncher(const LauncherReleaseOptions& options);

// What makes a release unusable for the launchers it reaches: --type 1 without an installer (they
// would fetch an upt.exe.lzma that is not there). Nothing when it is sound.
std::optional<std::string> LauncherReleaseProblem(const LauncherReleaseOptions& options);

// Fills `options` from the words after "publish-launcher"; the first problem, or nothing.
std::optional<std::string> ParseLauncherReleaseArguments(const std::vector<std::string>& args,
                                                         LauncherReleaseOptions& options);

extern const char* const LauncherReleaseUsage;

}  // namespace orv::publish
