#include "launcher/windows/form_settings_win.h"

#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/ui/ui_font_win.h"

namespace orv {

TForm_Settings* Form_Settings = nullptr;

namespace {

// Fixed single border with only the close box; the caption is the Russian one until translate
// names it in the interface language.
WindowDesc SettingsWindow() {
    return WindowDesc{
        L"TForm_Settings",
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
        WS_EX_CONTROLPARENT,
        410,
        200,
        TextIn(TextId::SettingsCaption, UiRussian),
        WindowPosition::OwnerCenter,
        false,
    };
}

constexpr int kCleanGameFolderId = 100;

}  // namespace

TForm_Settings::TForm_Settings() : Window(SettingsWindow()) { Form_Settings = this; }

TForm_Settings::~TForm_Settings() {
    DestroyHandle();
    if (Form_Settings == this) Form_Settings = nullptr;
}

void TForm_Settings::Create(HWND owner) {
    CreateHandle(owner);
    ControlInit clean;
    clean.parent = Handle();
    clean.id = kCleanGameFolderId;
    clean.name = "Button_CleanGameFolder";
    clean.bounds = RECT{219, 40, 219 + 160, 40 + 35};
    Button_CleanGameFolder.Create(clean);
    ApplyUiFont(*this);
    translate();
}

void TForm_Settings::translate() {
    // Another language value changes no text; the offline rule holds whatever the language.
    if (UiLanguage == UiRussian || UiLanguage == UiEnglish) {
        SetCaption(Tr(TextId::SettingsCaption));
        Button_CleanGameFolder.SetText(Tr(TextId::SettingsRepairGame));
    }
    if (OfflineMode) Button_CleanGameFolder.SetEnabled(false);
}

void TForm_Settings::FormCreate() {}

void TForm_Settings::FormShow() { translate(); }

void TForm_Settings::FormActivate() {}

}  // namespace orv
