#include "launcher/main_window/menus_win.h"

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/texts.h"
#include "launcher/language_menu.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

constexpr UINT kLanguagePosition = 0;
constexpr UINT kAboutPosition = 1;

void AppendItem(HMENU menu, UINT type, UINT id, const std::string& text, HMENU submenu = nullptr) {
    std::wstring caption = Wide(text);
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_ID | (submenu ? MIIM_SUBMENU : 0u);
    item.fType = type;
    item.wID = id;
    item.hSubMenu = submenu;
    item.dwTypeData = caption.data();
    if (!::InsertMenuItemW(menu, static_cast<UINT>(::GetMenuItemCount(menu)), TRUE, &item)) RaiseLastPlatformError();
}

void SetCaptionAt(HMENU menu, UINT position, const std::string& text) {
    std::wstring caption = Wide(text);
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = caption.data();
    if (!::SetMenuItemInfoW(menu, position, TRUE, &item)) RaiseLastPlatformError();
}

}  // namespace

void MainMenuBar::Attach(HWND window) {
    ScopedMenu bar(::CreateMenu());
    ScopedMenu languages(::CreatePopupMenu());
    if (!bar || !languages) RaiseLastPlatformError();
    for (int i = 0; i < LanguageEntryCount; ++i) {
        // One group of radio entries; the second column starts at "Japanese".
        UINT type = MFT_STRING | MFT_RADIOCHECK;
        if (i == LanguageSecondColumn) type |= MFT_MENUBARBREAK;
        AppendItem(languages.Get(), type, static_cast<UINT>(menu_ids::FirstLanguage + i), LanguageEntries[i]);
    }
    AppendItem(bar.Get(), MFT_STRING, 0, TextIn(TextId::MenuLanguage, UiRussian), languages.Get());
    languages_ = languages.Release();  // the bar owns it now
    AppendItem(bar.Get(), MFT_STRING, menu_ids::About, TextIn(TextId::MenuAbout, UiRussian));
    if (!::SetMenu(window, bar.Get())) RaiseLastPlatformError();
    bar_ = bar.Release();  // the window owns it now
    window_ = window;
}

void MainMenuBar::SetCaptions(const std::string& language, const std::string& about) {
    if (!bar_) return;
    SetCaptionAt(bar_, kLanguagePosition, language);
    SetCaptionAt(bar_, kAboutPosition, about);
    ::DrawMenuBar(window_);
}

void MainMenuBar::SetChecked(int entry, bool checked) {
    if (!languages_ || entry < 0 || entry >= LanguageEntryCount) return;
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STATE;
    item.fState = checked ? MFS_CHECKED : MFS_UNCHECKED;
    if (!::SetMenuItemInfoW(languages_, static_cast<UINT>(entry), TRUE, &item)) RaiseLastPlatformError();
}

bool MainMenuBar::Checked(int entry) const {
    if (!languages_) return false;
    return (::GetMenuState(languages_, static_cast<UINT>(entry), MF_BYPOSITION) & MF_CHECKED) != 0;
}

std::optional<int> MainMenuBar::EntryOfCommand(int id) {
    const int entry = id - menu_ids::FirstLanguage;
    if (entry < 0 || entry >= LanguageEntryCount) return std::nullopt;
    return entry;
}

void TrayPopupMenu::Create() {
    ScopedMenu menu(::CreatePopupMenu());
    if (!menu) RaiseLastPlatformError();
    AppendItem(menu.Get(), MFT_STRING, menu_ids::Exit, TextIn(TextId::TrayMenuExit, UiRussian));
    menu_ = std::move(menu);
}

}  // namespace orv
