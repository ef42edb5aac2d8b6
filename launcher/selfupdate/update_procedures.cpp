#include "launcher/selfupdate/update_procedures.h"

#include <exception>
#include <optional>

#include "launcher/base/errors.h"
#include "launcher/integrity/statement.h"
#include "launcher/net/server_paths.h"
#include "launcher/selfupdate/update_description.h"

namespace orv {
namespace {

SelfUpdateOutcome Failed(std::string what) { return SelfUpdateOutcome{false, std::move(what)}; }

// Whatever a step raises ends the update as a failure, never as an error box over a window that has
// no button to close it.
template <typename Steps>
SelfUpdateOutcome Guarded(Steps&& steps) {
    try {
        return steps();
    } catch (...) {
        return Failed(DescribeException(std::current_exception()).Message);
    }
}

// Deletes a file if it is there, ignoring failures.
void DeleteQuietly(SelfUpdatePlatform& platform, const std::string& path) noexcept {
    try {
        if (platform.Exists(path)) platform.Delete(path);
    } catch (...) {
    }
}

// Puts the previous executable back under the running one's name. Whatever took the name in the
// meantime would make the move fail, so it goes first.
void MoveOldBack(SelfUpdatePlatform& platform, const std::string& exePath, const std::string& oldPath) noexcept {
    try {
        if (platform.Exists(exePath)) {
            platform.SetNormal(exePath);
            platform.Delete(exePath);
        }
        platform.Move(oldPath, exePath);
    } catch (...) {
    }
}

// Whether the server's installer statement vouches for the unpacked installer. The statement is
// read from a file of its own beside the installer, which goes again whatever it said.
TrustResult InstallerSigned(SelfUpdatePlatform& platform, const SelfUpdateSetup& setup, const std::string& installer) {
    const std::string statementPath = installer + ".sig";
    // One left by an earlier run is never read for this installer's.
    platform.SetNormal(statementPath);
    DeleteQuietly(platform, statementPath);
    if (!platform.DownloadStatement(setup.serverBase + setup.gameCode + "/upt.exe.sig", statementPath,
                                    kStatementMaxBytes))
        return TrustResult{TrustFailure::Missing, "the installer's statement did not download"};
    std::string text;
    try {
        text = platform.ReadFile(statementPath);
    } catch (...) {
        DeleteQuietly(platform, statementPath);
        throw;
    }
    DeleteQuietly(platform, statementPath);
    const std::optional<EcdsaPublicKey> key = PublisherKeyFromHex(setup.publicKey);
    if (!key) return TrustResult{TrustFailure::NotSigned, "the launcher's publisher key is malformed"};
    StatementExpectation expected;
    expected.kind = StatementKind::Installer;
    expected.game = setup.gameCode;
    expected.name = "upt.exe";
    expected.now = platform.Now();
    Statement statement;
    TrustResult result = VerifyStatement(text, *key, expected, &statement);
    if (!result) return result;
    return CheckCoveredDigest(statement, platform.Digest(installer));
}

}  // namespace

SelfUpdateOutcome RunInstallerUpdate(SelfUpdatePlatform& platform, const SelfUpdateSetup& setup) {
    return Guarded([&] {
        const std::string installer = setup.gameFolder + "\\upt.exe";
        const std::string compressed = installer + ".lzma";
        platform.SetNormal(installer);
        platform.SetNormal(compressed);
        platform.ShowStep(SelfUpdateStep::InstallerDownload);
        if (!platform.DownloadUpdateFile(setup.serverBase + setup.gameCode + "/upt.exe.lzma", compressed, 0))
            return Failed("the installer did not download");
        platform.ShowStep(SelfUpdateStep::InstallerUnpack);
        if (!platform.Unpack(compressed, std::string())) return Failed("the installer did not unpack");
        platform.SetNormal(installer);
        if (!setup.publicKey.empty()) {
            TrustResult trust{TrustFailure::Missing, {}};
            try {
                trust = InstallerSigned(platform, setup, installer);
            } catch (...) {
                DeleteQuietly(platform, installer);
                throw;
            }
            if (!trust) {
                // Nothing the key did not vouch for stays where a later start might run it.
                DeleteQuietly(platform, installer);
                return Failed("the installer is not signed with the launcher's key: " + trust.detail);
            }
        }
        platform.StartInstaller(installer);
        return SelfUpdateOutcome{true, {}};
    });
}

SelfUpdateOutcome RunDirectUpdate(SelfUpdatePlatform& platform, const SelfUpdateSetup& setup) {
    const std::string& exePath = setup.exePath;
    const std::string compressed = exePath + ".lzma";
    const std::string fresh = exePath + ".new";
    const std::string old = exePath + ".old";
    const std::string description = setup.gameFolder + "/version.txt";
    bool movedAside = false;
    SelfUpdateOutcome outcome = Guarded([&] {
        platform.ShowStep(SelfUpdateStep::DirectDownload);
        if (!platform.DownloadFile(setup.serverBase + setup.gameCode + "/version.txt", description))
            return Failed("version.txt did not download");
        const std::optional<UpdateDescription> d = ReadUpdateDescription(
            platform.ReadFile(description), [&platform](std::string_view ansi) { return platform.DecodeAnsi(ansi); });
        if (!d) return Failed("version.txt is not a complete update description");
        // The launcher runs what this address gives: a local file or a share is not an update server.
        if (!IsWebAddress(d->DownloadURL)) return Failed("DownloadURL is not an http or https address");

        platform.SetNormal(compressed);
        if (!platform.DownloadUpdateFile(d->DownloadURL, compressed, d->LzmaFileSize))
            return Failed("the new executable did not download");
        platform.ShowStep(SelfUpdateStep::DirectUnpack);
        if (!platform.Unpack(compressed, fresh)) return Failed("the new executable did not unpack");

        platform.SetNormal(fresh);
        if (!platform.Exists(fresh)) return Failed("no new executable after unpacking");
        if (!FileCrc32Matches(platform.FileCrc32(fresh), d->FileCRC32)) return Failed("FileCRC32 differs");
        if (!setup.publicKey.empty() &&
            !(d->Signature && platform.SignatureValid(fresh, *d->Signature, setup.publicKey)))
            return Failed("the new executable is not signed with the launcher's key");

        if (!platform.Hold(fresh)) return Failed("the new executable could not be readied for the swap");
        if (platform.Exists(old)) {
            platform.SetNormal(old);
            if (!platform.Delete(old)) return Failed("the previous .old could not be deleted");
        }
        // Between these two moves no launcher has the name: nothing else happens there, and the
        // second one, of a file already held, has nothing to wait for. A rename rather than a
        // copy also leaves no half-written launcher under the name when it fails.
        if (!platform.Move(exePath, old)) return Failed("the running executable could not be moved aside");
        movedAside = true;
        if (!platform.MoveHeld(exePath)) return Failed("the new executable could not be moved into place");
        movedAside = false;
        return SelfUpdateOutcome{true, {}};
    });
    if (movedAside) MoveOldBack(platform, exePath, old);
    if (outcome.succeeded) {
        DeleteQuietly(platform, compressed);
        DeleteQuietly(platform, fresh);
        DeleteQuietly(platform, description);
    }
    return outcome;
}

}  // namespace orv
