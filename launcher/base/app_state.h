// Process-wide values shared by the subsystems. All of them belong to the GUI thread.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

// Interface language: 0 Russian, 1 English. Set only by the game language menu.
inline constexpr int UiRussian = 0;
inline constexpr int UiEnglish = 1;
extern int UiLanguage;

// Folder of the launcher's executable, without trailing separator (UTF-8).
extern std::string GameFolder;

// The application title: captions of the application's message boxes.
extern std::string ApplicationTitle;

// The main window (HWND) once it exists: owner of the application's message boxes.
extern void* MainWindowHandle;

// 1 = idle or stop requested; written and read on the GUI thread only.
extern int32_t StopFlag;

// ---- Start-up flags, set while the main window is created (FormCreate) and shown (FormShow).

// The update server did not answer at start-up; stays set for the whole run.
extern bool OfflineMode;
// The catalogue offers another launcher version, and how the launcher is to update itself.
extern bool SelfUpdateNeeded;
extern int TypeOfSelfUpdate;            // initially 1
extern std::string ManualUpdateUrl;     // initially a page of the launcher's web site
extern int ShowNotificationSelfUpdate;  // bit set, initially 7
extern int AllowCancelSelfUpdate;       // bit set, initially 3
// Argument 2 was "forceupdate": update the game without asking, once.
extern bool ForceUpdateRequested;
// The main window has been shown for the first time.
extern bool WindowShown;
// The main window's creation ran to its end.
extern bool CreationFinished;

// ---- The catalogue's values for the game selected last (set by the catalogue reader, chtenie).

extern std::string NewsUrl;  // the game's news page, initially "about:blank"
extern std::string AppName;  // prefix of the game's version sections
extern std::string ServerBaseVersion;
extern std::string ServerBuildVersion;
extern bool UseSteamCmd;  // install or update with the Steam console tool before a check run
// The installed game version, from the settings file.
extern std::string LocalBaseVersion;
extern std::string LocalBuildVersion;

}  // namespace orv
