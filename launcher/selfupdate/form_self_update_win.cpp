#include "launcher/selfupdate/form_self_update_win.h"

#include "game_profile.h"
#include "launcher/app_win.h"
#include "launcher/base/app_state.h"
#include "launcher/net/shell_win.h"
#include "launcher/selfupdate/self_update_platform_win.h"
#include "launcher/selfupdate/self_update_run.h"
#include "launcher/selfupdate/update_signature_win.h"
#include "launcher/single_instance_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/ui_font_win.h"

namespace orv {

bool RestartAfterUpdate = false;
TForm_SelfUpdate* Form_SelfUpdate = nullptr;

namespace {

// The executable the direct update replaced, for the restart: the running image keeps its name in
// the loader even after it was moved aside.
std::string& UpdatedExecutable() {
    static std::string path;
    return path;
}

// Tahoma at this character height in pixels.
constexpr int kSelfUpdateFontHeight = -11;

// A caption bar without system menu or close box; the player waits for the procedure.
WindowDesc SelfUpdateWindow() {
    return WindowDesc{
        L"TForm_SelfUpdate",
        WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN,
        WS_EX_DLGMODALFRAME,
        506,
        156,
        "Orvanta",
        WindowPosition::ScreenCenter,
        true,
    };
}

SelfUpdateSetup SetupOfThisLauncher() {
    SelfUpdateSetup setup;
    setup.gameFolder = GameFolder;
    setup.exePath = ExecutablePath();
    setup.serverBase = UpdateServerBase;
    setup.gameCode = GameCode;
    setup.publicKey = UpdatePublicKey;
    return setup;
}

// Only a build with a key asks for a signature; the platform's CNG checks it.
bool SelfUpdateSignatureCheck(const std::string& file, const std::string& signatureHex, const std::string& keyHex) {
    return UpdateSignatureValid(file, signatureHex, keyHex);
}

}  // namespace

TForm_SelfUpdate::TForm_SelfUpdate() : Window(SelfUpdateWindow()) { Form_SelfUpdate = this; }

TForm_SelfUpdate::~TForm_SelfUpdate() {
    DestroyHandle();
    if (Form_SelfUpdate == this) Form_SelfUpdate = nullptr;
}

void TForm_SelfUpdate::Create(HWND owner) {
    CreateHandle(owner);
    SetCaption(ApplicationTitle);
    // The window's font is given by its height; the label draws in it like the rest of the window.
    ApplyUiFontHeight(*this, kSelfUpdateFontHeight);
    ControlInit bar;
    bar.parent = Handle();
    bar.name = "ProgressBar_SelfUpdate";
    bar.bounds = RECT{44, 48, 44 + 417, 48 + 25};
    bar.font = Font();
    ProgressBar_SelfUpdate.Create(bar);
    ControlInit label;
    label.parent = Handle();
    label.name = "Label_SelfUpdate";
    label.bounds = RECT{44, 88, 44 + 417, 88 + 19};
    label.options = ctl::Centred;
    label.font = Font();
    Label_SelfUpdate.Create(label);
    FormCreate();
}

void TForm_SelfUpdate::FormCreate() {
    ::PostMessageW(Handle(), TypeOfSelfUpdate == 2 ? DirectUpdateMessage : InstallerUpdateMessage, 0, 0);
}

void TForm_SelfUpdate::FailSelfUpdate() {
    RestartAfterUpdate = false;
    SetModalResult(SelfUpdateFailedResult);
    closing_ = true;
    Close();
}

CloseAction TForm_SelfUpdate::OnClose() {
    // Alt+F4 in the middle of the swap must not leave it half done: only a failure closes it.
    return closing_ ? CloseAction::Hide : CloseAction::None;
}

LRESULT TForm_SelfUpdate::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case InstallerUpdateMessage: InstallerUpdate(); return 0;
        case DirectUpdateMessage: DirectUpdate(); return 0;
        default: return Window::HandleMessage(msg, wParam, lParam);
    }
}

void TForm_SelfUpdate::InstallerUpdate() {
    ProcessMessages();
    Win32SelfUpdatePlatform platform(&ProgressBar_SelfUpdate, &Label_SelfUpdate);
    if (!RunInstallerUpdate(platform, SetupOfThisLauncher()).succeeded) {
        // The installer path closes with 13 but leaves the restart flag as it was.
        SetModalResult(SelfUpdateFailedResult);
        closing_ = true;
        Close();
        return;
    }
    TerminateApplication();
}

void TForm_SelfUpdate::DirectUpdate() {
    ProcessMessages();
    const SelfUpdateSetup setup = SetupOfThisLauncher();
    Win32SelfUpdatePlatform platform(&ProgressBar_SelfUpdate, &Label_SelfUpdate, &SelfUpdateSignatureCheck);
    if (!RunDirectUpdate(platform, setup).succeeded) {
        FailSelfUpdate();
        return;
    }
    UpdatedExecutable() = setup.exePath;
    RestartAfterUpdate = true;
    TerminateApplication();
}

void RestartAfterSelfUpdate() {
    if (!RestartAfterUpdate) return;
    RestartAfterUpdate = false;
    const std::string exe = UpdatedExecutable().empty() ? ExecutablePath() : UpdatedExecutable();
    // The new launcher must find the name free, or it would take itself for a second instance.
    ReleaseSingleInstance();
    ShellOpen(nullptr, "open", exe, "", "", SW_SHOWNORMAL);
}

}  // namespace orv
