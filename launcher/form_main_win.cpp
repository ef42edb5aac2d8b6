#include "launcher/form_main_win.h"

#include "launcher/app_win.h"
#include "launcher/base/app_state.h"

namespace orv {

TForm1* Form1 = nullptr;

namespace {

// Fixed single border with the system menu and the minimise box only; the caption stays "Orvanta"
// until the interface translation names the game.
constexpr WindowSpec kMainWindow = {
    L"TForm1",
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
    WS_EX_CONTROLPARENT,
    700,
    560,
    "Orvanta",
    WindowPosition::ScreenCenter,
    true,
};

}  // namespace

TForm1::TForm1() : Window(kMainWindow) { Form1 = this; }

TForm1::~TForm1() {
    DestroyHandle();
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::Create() { CreateHandle(); }

void TForm1::OnCreate() {
    MainWindowHandle = Handle();
    FormCreate();
}

void TForm1::OnShow() {
    // Bringing the window back (from the tray) must not run the start a second time.
    if (formShowDone_) return;
    formShowDone_ = true;
    FormShow();
}

void TForm1::OnDestroy() {
    // Boxes shown from here on must not be owned by a window that is going away.
    if (MainWindowHandle == Handle()) MainWindowHandle = nullptr;
    RunGuarded([this] { FormDestroy(); });
    TerminateApplication();
}

void TForm1::FormCreate() {}

void TForm1::FormShow() {}

void TForm1::FormDestroy() {}

}  // namespace orv
