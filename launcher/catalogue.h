// The server's catalogue "inf.ini": the games the launcher manages, their builds, where each
// build's checklist and files lie, and the version data of each game. This model reads its keys
// with their defaults for the main window and creates or updates a game's build for the publisher,
// keeping every other line of the file as it was.
//
// The catalogue's texts are 8-bit, in the code page of the machine that reads them; this model
// hands them out as the stored bytes and leaves the decoding to its caller. A missing key gives
// its default instead, which is UTF-8 (only two of them leave ASCII).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "game_profile.h"
#include "launcher/base/codepage.h"
#include "launcher/config/ini_file.h"

namespace orv {

namespace catalogue_defaults {
inline constexpr const char* Name = "No parameter";  // game and build names
inline constexpr const char* NewsAddress = "about:blank";
inline constexpr const char* Unset = "Нет параметра";  // checklist name, download address
inline constexpr const char* FileCount = "0";
inline constexpr const char* Loader = "\\revLoader.exe";
inline constexpr const char* Version = "0";  // server base and build versions
}  // namespace catalogue_defaults

// One text value of the catalogue.
struct CatalogueText {
    std::string bytes;  // as stored (8-bit) when `stored`, else the UTF-8 default
    bool stored = false;

    // UTF-8: the stored bytes decoded with `page`, or the default as it is.
    std::string Decoded(CodePage page) const;
    // The same through a converter to UTF-8 (an AnsiCodec's toUtf8); without one, the bytes as
    // they are.
    std::string Decoded(const std::function<std::string(std::string_view)>& toUtf8) const;
};

// Where PutBuild put a build (1-based numbers, as in the section and key names).
struct CataloguePlace {
    int game = 0;
    int build = 0;
    bool newGame = false;
    bool newBuild = false;
};

// What the publisher writes for one build. Texts are bytes in the catalogue's code page.
struct CatalogueBuild {
    std::string gameName;         // "naz"; may be empty when `gameNumber` names an existing game
    std::string buildName;        // "ver" + B; may be empty when `buildNumber` names an existing build
    std::string checklistName;    // "nazcek" + B
    std::string fileCount;        // "kolf" + B, decimal
    std::string downloadAddress;  // "adrskach" + B
    int gameNumber = 0;           // 0: the first game of that name, or a new one at the end
    int buildNumber = 0;          // 0: the first build of that name in the game, or a new one at the end
};

class Catalogue {
public:
    Catalogue() = default;
    explicit Catalogue(std::string_view bytes) : document_(bytes) {}
    // The file; a missing file is an empty catalogue. Raises EOSError when it cannot be read.
    static Catalogue Load(const std::string& path);
    // Raises EOSError; the old file is then unchanged.
    void Save(const std::string& path) const;

    const IniDocument& Document() const { return document_; }
    std::string Bytes() const { return document_.Bytes(); }

    // "naz" + game; AppName + "serverversion".
    static std::string GameSection(int game);
    static std::string ServerVersionSection(std::string_view appName);

    // ---- Reading: the defaults of a missing key as the launcher applies them.

    // "osn"/"ver": the launcher version the server offers; `current` when missing.
    CatalogueText OfferedLauncherVersion(std::string_view current = LauncherVersion) const;
    // "osn"/"kolnaz"; 0 when missing or not an integer.
    int GameCount() const;
    CatalogueText GameName(int game) const;
    CatalogueText NewsAddress(int game) const;
    // "kolver"; 0 when missing or not an integer.
    int BuildCount(int game) const;
    CatalogueText BuildName(int game, int build) const;
    CatalogueText ChecklistName(int game, int build) const;
    // "kolf" + B as text; the check run converts it and reports a value that does not convert.
    CatalogueText FileCountText(int game, int build) const;
    CatalogueText DownloadAddress(int game, int build) const;
    CatalogueText LoaderPath(int game) const;
    // "appname" without surrounding characters up to U+0020; `gameCode` in lower case when missing.
    CatalogueText AppName(int game, std::string_view gameCode = GameCode) const;
    // From the section ServerVersionSection(appName), trimmed as AppName: "baseversion" and
    // "builserverdversion" (the key is spelled so), "0" when missing; "usesteamcmd", false when
    // missing or not an integer.
    CatalogueText ServerBaseVersion(std::string_view appName) const;
    CatalogueText ServerBuildVersion(std::string_view appName) const;
    bool UseSteamCmd(std::string_view appName) const;

    // ---- Writing, for the publisher. Raises Error before changing anything when a value would
    //      not read back as written (line breaks, surrounding blanks or quotes, more than an INI
    //      value holds), when "kolnaz" or "kolver" is stored but not a number, or when a given game
    //      or build number lies beyond the next free one.

    // Creates or updates the game and build: "naz", "ver" + B, "nazcek" + B, "kolf" + B and
    // "adrskach" + B, raising "kolnaz" and "kolver" when a game or build is added, and setting
    // "osn"/"ver" to `launcherVersion` only when it is missing.
    CataloguePlace PutBuild(const CatalogueBuild& build, std::string_view launcherVersion = LauncherVersion);
    // "appname" of the game.
    void SetAppName(int game, std::string_view appName);
    // "baseversion" and "builserverdversion" of the game's server-version section; nothing leaves
    // a value as it is.
    void SetServerVersion(std::string_view appName, std::optional<std::string> baseVersion,
                          std::optional<std::string> buildVersion);

private:
    CatalogueText Text(std::string_view section, std::string_view key, const char* fallback) const;
    CatalogueText TrimmedText(std::string_view section, std::string_view key, std::string_view fallback) const;
    // The stored count, 0 when missing; raises Error when it is stored but not an integer.
    int StoredCount(std::string_view section, std::string_view key) const;

    IniDocument document_;
};

}  // namespace orv
