#include "launcher/play.h"

#include <exception>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/catalogue.h"
#include "launcher/catalogue_reader.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/game_config.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/checklist.h"

namespace orv {

bool IsSafeLoaderPath(std::string_view run) {
    // The checklist's rule, less its folder entries: the shell would open a folder in a window.
    if (run.ends_with("\\.") || run.ends_with("/.")) return false;
    return IsSafeRelativeEntryPath(run);
}

LoaderLocation CatalogueLoader(int game, const AnsiCodec& codec) {
    const CatalogueText run = Catalogue::Load(LocalCataloguePath()).LoaderPath(game);
    LoaderLocation location;
    location.run = run.stored ? codec.toUtf8(run.bytes) : run.bytes;
    if (IsSafeLoaderPath(location.run)) location.path = GameFolder + location.run;
    return location;
}

std::optional<PlayRefusal> CheckPlayerValues(std::string_view nickname, std::string_view clanTag) {
    // Bytes, not characters: the game's own buffers are counted in bytes, so 16 Cyrillic letters
    // (32 bytes) are too many.
    if (nickname.size() > static_cast<size_t>(NicknameMaxBytes))
        return PlayRefusal{FormatText(Tr(TextId::NicknameTooLong), std::to_string(NicknameMaxBytes)),
                           PlayFocus::Unchanged};
    if (clanTag.size() > static_cast<size_t>(ClanTagMaxBytes))
        return PlayRefusal{FormatText(Tr(TextId::ClanTagTooLong), std::to_string(ClanTagMaxBytes)),
                           PlayFocus::ClanTag};
    if (nickname == DefaultNickname) return PlayRefusal{Tr(TextId::ChangeNickname), PlayFocus::Nickname};
    return std::nullopt;
}

PlayResult Play(int selectedGame, const PlayActions& actions, const AnsiCodec& codec) {
    if (const std::optional<PlayRefusal> refusal =
            CheckPlayerValues(LauncherConfig.GamePlayerName, LauncherConfig.GameClanTag)) {
        ShowMessage(refusal->message);
        return {PlayOutcome::Refused, refusal->focus};
    }
    try {
        // The loader is looked at before anything is saved, so that a refused loader leaves
        // everything as the other refusals do.
        const LoaderLocation loader = CatalogueLoader(selectedGame + 1, codec);
        if (!loader.path) {
            ShowMessage(FormatText(Tr(TextId::UnsafeLoaderPath), loader.run));
            return {PlayOutcome::Refused, PlayFocus::Unchanged};
        }
        SaveLauncherSettings();
        SaveEmulatorProfile();
        WriteConfigNickname();
        actions.startLoader(*loader.path);
    } catch (const std::exception& error) {
        ShowErrorBox(error.what());
        return {PlayOutcome::Failed, PlayFocus::Unchanged};
    }
    actions.closeMainWindow();
    return {PlayOutcome::Started, PlayFocus::Unchanged};
}

void EditNicknameChange(const std::string& text) { LauncherConfig.GamePlayerName = text; }

void EditClanTagChange(const std::string& text) { LauncherConfig.GameClanTag = text; }

}  // namespace orv
