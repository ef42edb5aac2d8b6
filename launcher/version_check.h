// The game version check: after every catalogue reading while online, the installed game version
// (settings file) is compared with the server's (catalogue), and the player is offered the update.
// At start-up the question waits until the main window is on screen; a "forceupdate" start updates
// without asking.
#pragma once

#include <functional>
#include <string>

namespace orv {

// The main window's message that brings a deferred question back (WM_USER + 200).
inline constexpr unsigned GameVersionMessage = 0x0400 + 200;

// A question was deferred until the main window is on screen.
extern bool VersionPromptPending;

// What the check needs of the main window.
struct VersionCheckWindow {
    // Selects the first entry of the build list (the remembered build position stays).
    std::function<void()> selectFirstBuild;
    // Posts GameVersionMessage to the main window.
    std::function<void()> postVersionMessage;
    // The check button's action: updates the game.
    std::function<void()> startUpdate;
    // The main window, owner of the question (HWND), or none.
    void* owner = nullptr;
};

// Whether the installed and the server's versions differ (exact texts, both pairs trimmed when read).
bool GameVersionDiffers();

// "<first part><base> up<build><last part>" in the interface language.
std::string GameVersionQuestionText(const std::string& serverBase, const std::string& serverBuild, int uiLanguage);

// The check at the end of a catalogue reading: nothing when switched off or equal; otherwise the
// first build is selected and the question asked now (window shown) or deferred.
void RunGameVersionCheck(const VersionCheckWindow& window);

// The handler of GameVersionMessage.
void HandleGameVersionMessage(const VersionCheckWindow& window);

// Asks the question: Yes starts the update, No shows where the notification is switched off.
void AskGameVersionQuestion(const VersionCheckWindow& window);

}  // namespace orv
