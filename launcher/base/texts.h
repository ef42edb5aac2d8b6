// Every message of the launcher, by id; one table per interface language (texts_ru.cpp,
// texts_en.cpp). Texts that exist in one language only stand in both tables unchanged.
#pragma once

#include <string>

namespace orv {

enum class TextId : int {
    AlreadyRunning,   // a second launcher was started
    SettingsError,    // reading the settings file failed (Russian only)
    UnableToWrite,    // a refused write; %s stands for the file path (English only)
    ErrorInternetReadFile,  // a download broke off (the same in both languages)
    CatalogueUnreachable,  // the catalogue address did not answer at start-up; %s stands for the address
    CatalogueNotSigned,  // a keyed launcher refused the server's catalogue; %s stands for its address
    NicknameTooLong,  // Play refused: nickname over its byte limit; %s stands for the limit
    ClanTagTooLong,  // Play refused: clan tag over its byte limit; %s stands for the limit
    ChangeNickname,  // Play refused: the nickname is still the edit box's initial text
    UnsafeLoaderPath,  // the catalogue's loader lies outside the game folder; %s stands for the value
    UnsafeConnectLink,  // a connect link whose address is no server address; %s stands for the address
    MainCaptionSuffix,  // follows GameShortTitle in the main window's caption
    LabelGameName,      // main window: caption of the game list
    LabelGameVersion,   // main window: caption of the build list
    LabelNickname,      // main window: caption of the nickname box
    LabelClanTag,       // main window: caption of the clan-tag box
    MenuLanguage,       // the language menu on the menu bar
    MenuAbout,          // the about item on the menu bar
    TrayMenuExit,       // the tray menu's exit item (Russian only)
    AboutVersion,       // about box: follows GameShortTitle and a blank
    AboutQuestions,     // about box: first line of the support note
    AboutWriteTo,       // about box: second line of the support note, before the e-mail address
    NicknameInitial,    // the nickname box's initial text (the same in both languages)
    ClanTagInitial,     // the clan-tag box's initial text (the same in both languages)
    OfflineTitle,       // the news panel's offline page: title
    OfflineHeading,     // the news panel's offline page: heading
    OfflineText,        // the news panel's offline page: paragraph
    OfflineDetails,     // the news panel's offline page: text of the help link
    ChecklistDownloading,  // the check run fetched the build's checklist
    CheckingFile,  // status line prefix while a file is checked
    CountersBeforeCheck,  // counters line before a long path is checked
    CountersAfterFile,  // counters line after a download and after each file
    CountersAtEnd,  // counters line at the end of a check run
    ChecklistUnreachable,  // the checklist did not download; %s stands for its address
    ChecklistUnpackFailed,  // the checklist did not unpack; %s stands for its address
    GameFileUnreachable,  // a game file did not download; %s stands for its address
    DownloadRetrying,  // status line while a download waits to try again; %s: the next try, the tries, the seconds left, the file
    ChecklistNotSigned,  // a keyed build's checklist, its statement or hash list failed; %s stands for why
    GameFileNotSigned,  // a repaired file unpacked to other bytes than signed; %s stands for its listed path
    CheckSucceeded,  // a check run went through to its end
    UnpackFailedQuestion,  // a repaired file did not unpack (English only)
    UnpackFailedCaption,  // caption of that question (English only)
    RetrySkipped,  // the answer Retry to that question (English only)
    UnsafeChecklistPaths,  // checklist entries outside the game folder were skipped; %s stands for their list, one a line
    UnsafeChecklistPathsMore,  // closes that list when it is cut; %s stands for the number left out
    SettingsCaption,     // settings window: its caption
    SettingsRepairGame,  // settings window: the game folder cleaner's button
    GameVersionQuestionStart,  // the new-game-version question: before the server's base version
    GameVersionQuestionEnd,    // ... after the server's build version
    UpdateAvailableCaption,  // its caption, and the launcher update announcements' caption
    GameVersionNotificationHint,  // the answer No to that question
    LauncherOutdatedQuestionManual,     // launcher update announcements: question / warning, by kind
    LauncherOutdatedWarningManual,
    LauncherOutdatedQuestionInstaller,
    LauncherOutdatedWarningInstaller,
    LauncherOutdatedQuestionDirect,
    LauncherOutdatedWarningDirect,
    LauncherOutdatedQuestionOther,      // an unknown kind (Russian: as the manual kind)
    SelfUpdateFailedCaption,            // the failed self-update's dialog
    SelfUpdateFailedQuestion,
    SelfUpdateInstallerDownloading,  // the self-update window's label, by path and step
    SelfUpdateInstallerUnpacking,
    SelfUpdateDownloading,
    SelfUpdateUnpacking,
    InstallStarting,  // the status line when the Steam console client is started (the same in both)
    SettingsPrivateRank,  // settings window: caption of the private rank list
    SettingsCompetitiveRank,  // settings window: caption of the competitive rank list
    SettingsChangeAvatar,  // settings window: the avatar window's button
    SettingsRunOptions,  // settings window: caption of the run options; %s stands for the game command prefix
    SettingsRestoreRunOptionsHint,  // settings window: hint of the "D" button
    SettingsNotifyNewVersion,  // settings window: the new-game-version notice check box
    CleanerNoGame,  // the cleaner refused a folder without the game; %s stands for the executable's name (English only)
    CleanerDownloadFailed,  // the keep list did not download; %s stands for its address (English only)
    CleanerListUnreadable,  // the downloaded keep list could not be read (English only)
    CleanerListNotSigned,  // a keyed build's keep list or its statement failed, nothing deleted; %s stands for why
    AvatarCaption,  // avatar window: its caption
    AvatarSelect,  // avatar window: the select button
    AvatarSave,  // avatar window: the save button
    AvatarSizeAdvice,  // avatar window: the advice before the file dialog
    AvatarSizeAdviceCaption,  // its caption
    AvatarCopied,  // avatar window: the picture was stored as the avatar
    AvatarCopyFailed,  // avatar window: storing failed; the system error code follows
    InvalidImage,  // a stored avatar in no known picture format (English only)
    UnknownPictureExtension,  // a picked file whose extension has no decoder; %s stands for the extension without its dot (English only)
    Count
};

// The text of `id` in `language` (0 Russian, anything else English).
const char* TextIn(TextId id, int language);
// The text of `id` in the current UiLanguage.
const char* Tr(TextId id);
// Replaces the first %s of a text with `arg`.
std::string FormatText(const char* text, const std::string& arg);

namespace texts_detail {
extern const char* const kRussian[static_cast<int>(TextId::Count)];
extern const char* const kEnglish[static_cast<int>(TextId::Count)];
}  // namespace texts_detail

}  // namespace orv
