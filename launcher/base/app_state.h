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

}  // namespace orv
