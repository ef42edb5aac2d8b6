// English texts, in the order of TextId.
#include "launcher/base/texts.h"

namespace orv::texts_detail {

const char* const kEnglish[static_cast<int>(TextId::Count)] = {
    // AlreadyRunning
    "The program is already running before, check it is possible minimized to the system tray or "
    "running other user on the system.",
    // SettingsError
    "Ошибка настроек",
    // UnableToWrite
    "Unable to write to %s",
    // ErrorInternetReadFile
    "Error InternetReadFile",
    // CatalogueUnreachable
    "Error loading %s apparently the server is unavailable, or the internet does not work",
    // CatalogueNotSigned
    "The catalogue of the update server %s is not signed by the publisher of the program. The program works offline.",
    // NicknameTooLong
    "Nickname is longer than %s characters.",
    // ClanTagTooLong
    "ClanTag is longer than %s characters.",
    // ChangeNickname
    "Please change your nickname.",
    // UnsafeLoaderPath
    "The game loader \"%s\" named by the server catalogue lies outside the game folder and will not be "
    "started.",
    // UnsafeConnectLink
    "The server address \"%s\" in the link is not valid, the game will not be started.",
    // MainCaptionSuffix
    " Launcher",
    // LabelGameName
    "Game",
    // LabelGameVersion
    "Select a version",
    // LabelNickname
    "Your nickname:",
    // LabelClanTag
    "ClanTag:",
    // MenuLanguage
    "Language",
    // MenuAbout
    "About",
    // TrayMenuExit
    "Выход",
    // AboutVersion
    "Orvanta v1.2",
    // AboutQuestions
    "It is possible to write all questions,",
    // AboutWriteTo
    "responses, remarks on e-mail:",
    // NicknameInitial
    "You name",
    // ClanTagInitial
    "ClanTag",
    // OfflineTitle
    "Orvanta is in Offline Mode",
    // OfflineHeading
    "Orvanta is in Offline Mode",
    // OfflineText
    "Unable to connect to server. Server may be offline or you may not be connected to the internet.",
    // OfflineDetails
    "View details",
    // ChecklistDownloading
    "Download cheklist",
    // CheckingFile
    "Checks file: ",
    // CountersBeforeCheck
    "Total/Checked/Downloaded files: ",
    // CountersAfterFile
    "Total/Checked/Downloaded files: ",
    // CountersAtEnd
    "Total/Checked/Downloaded files: ",
    // ChecklistUnreachable
    "Error loading %s apparently the server is unavailable, or the Internet does not work",
    // ChecklistUnpackFailed
    "Error unpacking %s check stopped.",
    // GameFileUnreachable
    "Error loading %s apparently the server is unavailable, or the internet does not work",
    // DownloadRetrying
    "Connection lost, retrying (%s of %s) in %s s: %s",
    // ChecklistNotSigned
    "The checklist of this build is not signed by the publisher: %s",
    // GameFileNotSigned
    "The file %s from the server does not match the publisher's signature",
    // CheckSucceeded
    "File checker was successful",
    // UnpackFailedQuestion
    "Error while unpacking the file, what should I do ??",
    // UnpackFailedCaption
    "Think please :)",
    // RetrySkipped
    "Retry Error! Skipped.",
    // UnsafeChecklistPaths
    "Entries of the checklist that point outside the game folder were skipped, the game version was not recorded:\n%s",
    // UnsafeChecklistPathsMore
    "... and %s more",
    // SettingsCaption
    "Settings",
    // SettingsRepairGame
    "Repair game",
    // GameVersionQuestionStart
    "A new version of the game = ",
    // GameVersionQuestionEnd
    " Do you want to update?",
    // UpdateAvailableCaption
    "Update available",
    // GameVersionNotificationHint
    "You can turn off notification of new versions in the settings.",
    // LauncherOutdatedQuestionManual
    "Your version of the program is outdated. Go to the software update download page?",
    // LauncherOutdatedWarningManual
    "Your version of the program is outdated. Now you will be taken to the program update page.",
    // LauncherOutdatedQuestionInstaller
    "Your version of the program is outdated. Download the update installer to the new version of the program?",
    // LauncherOutdatedWarningInstaller
    "Your version of the program is outdated. Now you will download the installer to upgrade to the new version of the program.",
    // LauncherOutdatedQuestionDirect
    "Your version of the program is outdated. Download the update to the new version of the program?",
    // LauncherOutdatedWarningDirect
    "Your version of the program is outdated. Now you will download the update to the new version of the program.",
    // LauncherOutdatedQuestionOther
    "Your version of the program is outdated. Do you want to go to the page for update your launcher?",
    // SelfUpdateFailedCaption
    "Auto update failed",
    // SelfUpdateFailedQuestion
    "An error occurred while automatically updating the program. Do you want to go to the download page to update the program manually?",
    // SelfUpdateInstallerDownloading
    "The update installer for the program is downloading",
    // SelfUpdateInstallerUnpacking
    "The update installer for the program is unpacking",
    // SelfUpdateDownloading
    "The update for the program is downloading",
    // SelfUpdateUnpacking
    "The update for the program is unpacking",
    // InstallStarting
    "Starting",
    // SettingsPrivateRank
    "Private Rank",
    // SettingsCompetitiveRank
    "Competitive Rank",
    // SettingsChangeAvatar
    "Change avatar",
    // SettingsRunOptions
    "Run Options (%s)",
    // SettingsRestoreRunOptionsHint
    "Restore Default Run Option",
    // SettingsNotifyNewVersion
    "Notify about new game version",
    // CleanerNoGame
    "%s not found in folder. Clearing can be dangerous, check folder with launcher or reinstall the game.",
    // CleanerDownloadFailed
    "Error downloading URL: %s",
    // CleanerListUnreadable
    "Checklist file did not download.",
    // CleanerListNotSigned
    "The keep list of the update server is not signed by the publisher: %s. Nothing was deleted.",
    // AvatarCaption
    "Avatar selection",
    // AvatarSelect
    "Select Avatar",
    // AvatarSave
    "Save",
    // AvatarSizeAdvice
    "Select image size 64 x 64 (Recomended)",
    // AvatarSizeAdviceCaption
    "Attention!",
    // AvatarCopied
    "Avatar has been successfully copied! \nYou can close the window.",
    // AvatarCopyFailed
    "Something went wrong! Error code: ",
    // InvalidImage
    "Invalid image",
    // UnknownPictureExtension
    "Unknown picture file extension (.%s)",
};

}  // namespace orv::texts_detail
