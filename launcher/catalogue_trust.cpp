#include "launcher/catalogue_trust.h"

#include <exception>
#include <optional>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/catalogue_reader.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"

namespace orv {
namespace {

constexpr const char* kCatalogueName = "inf.ini";
constexpr const char* kStatementSuffix = ".sig";
constexpr const char* kDownloadSuffix = ".download";

TrustResult Refused(TrustFailure failure, std::string detail) { return TrustResult{failure, std::move(detail)}; }

void RemoveDownloads() noexcept {
    try {
        RemoveFile(DownloadedCataloguePath());
        RemoveFile(DownloadedCatalogueStatementPath());
    } catch (...) {
    }
}

TrustResult Verify(const std::string& publisherKeyHex, const SignedCatalogueServices& services, Statement& statement) {
    if (!services.downloadStatement ||
        !services.downloadStatement(CatalogueStatementUrl(), DownloadedCatalogueStatementPath(), kStatementMaxBytes))
        return Refused(TrustFailure::Missing, "the catalogue's statement did not download");
    const std::string text = ReadFileBytes(DownloadedCatalogueStatementPath());
    if (text.size() > kStatementMaxBytes) return Refused(TrustFailure::Malformed, "the statement is too large");
    // A key that does not decode trusts nothing: the launcher was built to check, so it does not
    // fall back to following an unsigned catalogue.
    const std::optional<EcdsaPublicKey> key = PublisherKeyFromHex(publisherKeyHex);
    if (!key) return Refused(TrustFailure::NotSigned, "the launcher's publisher key is malformed");
    StatementExpectation expected;
    expected.kind = StatementKind::Catalogue;
    expected.game = GameCode;
    expected.name = kCatalogueName;
    expected.minVersion = LauncherConfig.CatalogueVersion;
    expected.now = services.now ? services.now() : 0;
    TrustResult result = VerifyStatement(text, *key, expected, &statement);
    if (!result) return result;
    return CheckCoveredDigest(statement, Sha256OfFile(DownloadedCataloguePath()));
}

}  // namespace

std::string CatalogueStatementUrl() { return CatalogueUrl() + kStatementSuffix; }

std::string LocalCatalogueStatementPath() { return LocalCataloguePath() + kStatementSuffix; }

std::string DownloadedCataloguePath() { return LocalCataloguePath() + kDownloadSuffix; }

std::string DownloadedCatalogueStatementPath() { return LocalCatalogueStatementPath() + kDownloadSuffix; }

std::optional<TrustResult> UpdateSignedCatalogue(const std::string& publisherKeyHex,
                                                 const SignedCatalogueServices& services) {
    // What an earlier run left when it ended between download and replace is never taken.
    RemoveDownloads();
    try {
        // As without a key, a catalogue that does not come leaves the local copy, which was taken
        // only once it verified; nothing the server said is followed.
        if (!services.download || !services.download(CatalogueUrl(), DownloadedCataloguePath())) {
            RemoveDownloads();
            return std::nullopt;
        }
        Statement statement;
        const TrustResult result = Verify(publisherKeyHex, services, statement);
        if (!result) {
            RemoveDownloads();
            return result;
        }
        // The version is kept before the files move: a crash in between leaves the old catalogue,
        // which the next run replaces again, but never a lower version allowed.
        // Only into a settings file that exists: creating one would make the next start no first
        // run, and a first run takes the player's values from "rev.ini". There the version waits in
        // LauncherConfig for the first save.
        if (statement.version > LauncherConfig.CatalogueVersion) {
            LauncherConfig.CatalogueVersion = statement.version;
            if (FileExists(LauncherSettingsPath()))
                WriteLauncherSetting(settings_keys::LauncherSection, settings_keys::CatalogueVersion,
                                     std::to_string(statement.version));
        }
        // The statement first: should the second move fail, the catalogue beside it is the older
        // one, whose builds the newer pins refuse rather than let through.
        RenameFile(DownloadedCatalogueStatementPath(), LocalCatalogueStatementPath(), ExistingTarget::Replace);
        RenameFile(DownloadedCataloguePath(), LocalCataloguePath(), ExistingTarget::Replace);
        return result;
    } catch (...) {
        RemoveDownloads();
        throw;
    }
}

}  // namespace orv
