// The main window's menus: the menu bar with the game language menu (27 entries in two columns,
// check marks set only explicitly) and the about item, and the tray's pop-up menu pm1.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "launcher/platform/scoped_win.h"

namespace orv {

namespace menu_ids {
inline constexpr int FirstLanguage = 1000;  // + the entry's index
inline constexpr int About = 1100;
inline constexpr int Exit = 1101;  // pm1's N1
}  // namespace menu_ids

class MainMenuBar {
public:
    // Builds the bar with Russian captions and gives it to `window`, which destroys it with
    // itself. Raises EOSError when the platform refuses a menu.
    void Attach(HWND window);

    HMENU Bar() const noexcept { return bar_; }
    HMENU Languages() const noexcept { return languages_; }

    void SetCaptions(const std::string& language, const std::string& about);
    void SetChecked(int entry, bool checked);
    bool Checked(int entry) const;

    // The language entry a command id belongs to.
    static std::optional<int> EntryOfCommand(int id);

private:
    HWND window_ = nullptr;
    HMENU bar_ = nullptr;        // owned by the window
    HMENU languages_ = nullptr;  // owned by the bar
};

// The tray's menu: one item, "Выход", in both languages.
class TrayPopupMenu {
public:
    // Raises EOSError when the platform refuses the menu.
    void Create();
    HMENU Handle() const noexcept { return menu_.Get(); }

private:
    ScopedMenu menu_;
};

}  // namespace orv
