#include "launcher/main_window/main_window_win.h"

#include <cwchar>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/ui_font_win.h"
#include "launcher/main_window/check_win.h"
#include "launcher/launch_win.h"
#include "launcher/language_menu.h"
#include "launcher/net/shell_win.h"
#include "launcher/news_page.h"
#include "launcher/startup_sequence_win.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/selfupdate/form_self_update_win.h"
#include "launcher/windows/form_change_avatar_win.h"
#include "launcher/windows/form_server_list_win.h"
#include "launcher/windows/form_settings_win.h"

namespace orv {

TForm1* Form1 = nullptr;
HMODULE ArtworkModule = nullptr;

namespace {

MainWindowStartup& StartupOverride() {
    static MainWindowStartup startup;
    return startup;
}

LinkOpener& LinkOverride() {
    static LinkOpener opener;
    return opener;
}

LoaderStarter& LoaderOverride() {
    static LoaderStarter starter;
    return starter;
}

// Fixed single border with the system menu and the minimise box only; the caption stays "Orvanta"
// until the interface translation names the game.
constexpr WindowDesc kMainWindow = {
    L"TForm1",
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
    WS_EX_CONTROLPARENT,
    700,
    560,
    "Orvanta",
    WindowPosition::ScreenCenter,
    true,
};

// What shows where no artwork lies: the darkest slate of the launcher's colours.
constexpr COLORREF kFormColour = RGB(0x0b, 0x14, 0x20);

// Child control ids: the layout's index from here on.
constexpr int kFirstControlId = 100;
int ControlIdOf(MainControl id) { return kFirstControlId + static_cast<int>(id); }

void FillSolid(HDC dc, const RECT& area, COLORREF colour) {
    const COLORREF previous = ::SetDCBrushColor(dc, colour);
    ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
    ::SetDCBrushColor(dc, previous);
}

// The labels perevod translates.
struct TranslatedLabel {
    LabelControl TForm1::*label;
    TextId text;
};
constexpr TranslatedLabel kTranslatedLabels[] = {
    {&TForm1::Label_Nickname, TextId::LabelNickname},
    {&TForm1::Label_Clantag, TextId::LabelClanTag},
    {&TForm1::Label_GameName, TextId::LabelGameName},
    {&TForm1::Label_GameVersion, TextId::LabelGameVersion},
};

void Fire(const std::function<void()>& handler) {
    if (handler) handler();
}

}  // namespace

void SetMainWindowStartup(MainWindowStartup startup) { StartupOverride() = std::move(startup); }

void SetLinkOpener(LinkOpener opener) { LinkOverride() = std::move(opener); }

void SetLoaderStarter(LoaderStarter starter) { LoaderOverride() = std::move(starter); }

TForm1::TForm1()
    : Window(kMainWindow),
      CheckProgress({Label4, lbl2, Image3, Image9, pb1, pb2}),
      controls_{&NewsPanel,      &Image_BackgroundMainForm, &Label_GameName,     &ComboBox_GameName,
                &Label_GameVersion, &ComboBox_GameVersion,   &Label_Nickname,     &EditNickname,
                &Label_Clantag,  &EditClanTag,              &Image_Button_ServerBrowser, &Image_Settings,
                &Image_Button_Play, &Image_Button_Check,    &Image_Button_Stop,  &lbl2,
                &Label4,         &Image1,                   &Image2,             &Image3,
                &Image9,         &Image4,                   &Image5,             &pb1,
                &pb2},
      stores_{&Image_Button_Play_Static,
              &Image_Button_Play_Active,
              &Image_Button_Play_Inactive,
              &Image_Button_Check_Static_RU,
              &Image_Button_Check_Active_RU,
              &Image_Button_Check_Static_EN,
              &Image_Button_Check_Active_EN,
              &Image_Button_Stop_Static_RU,
              &Image_Button_Stop_Active_RU,
              &Image_Button_Stop_Static_EN,
              &Image_Button_Stop_Active_EN,
              &Image_Button_ServerBrowser_Static_RU,
              &Image_Button_ServerBrowser_Active_RU,
              &Image_Button_ServerBrowser_Static_EN,
              &Image_Button_ServerBrowser_Active_EN,
              &Image_Settings_Static,
              &Image_Settings_Active} {
    Form1 = this;
    WireHandlers();
}

void TForm1::WireHandlers() {
    Events.ComboBox_GameNameClick = [this] { ComboBox_GameNameClick(); };
    Events.ComboBox_GameVersionClick = [this] { ComboBox_GameVersionClick(); };
    Events.EditNicknameChange = [this] { EditNicknameChange(EditNickname.Text()); };
    Events.EditClanTagChange = [this] { EditClanTagChange(EditClanTag.Text()); };
    Events.Image_Button_PlayClick = [this] { Image_Button_PlayClick(); };
    Events.Image_Button_CheckClick = [this] { Image_Button_CheckClick(); };
    Events.Image_Button_StopClick = [this] { stops(); };
    Events.Image_SettingsClick = [this] { Image_SettingsClick(); };
    Events.Image_Button_ServerBrowserClick = [this] { Image_Button_ServerBrowserClick(); };
    Events.AboutProgramClick = [this] { AboutProgramClick(); };
    Events.N1Click = [this] { N1Click(); };
    NewsPanel.SetNewWindowHandler(
        [this](const std::string& href, const std::string& rel, bool& cancel) { wb1NewWindow2(href, rel, cancel); });
    DosCommand1.OnNewLine = [this](TDosCommand&, const std::string& line, TOutputType type) {
        DosCommand1NewLine(line, type);
    };
    DosCommand1.OnTerminateProcess = [this](TDosCommand&, bool& canTerminate) {
        DosCommand1TerminateProcess(canTerminate);
    };
    DosCommand1.OnExecuteError = [this](TDosCommand&, const std::exception_ptr& error, bool& handled) {
        DosCommand1ExecuteError(error, handled);
    };
    DosCommand1.OnTerminated = [this](TDosCommand&) { DosCommand1Terminated(); };
}

TForm1::~TForm1() {
    DestroyHandle();
    serverList_.reset();
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::Create() { CreateHandle(); }

void TForm1::OnCreate() {
    MainWindowHandle = Handle();
    ApplyUiFont(*this);
    labelFont_ = BoldUiFont(*this);

    mainMenu_.Attach(Handle());
    pm1_.Create();
    TrayIcon::ListenForTaskbar(Handle());
    // The menu bar takes its height from the window: the client area keeps its size.
    SetClientSize(kMainWindow.clientWidth, kMainWindow.clientHeight);
    CreateControls();
    CreateStores();
    ArrangeStacking();
    WirePictureButtons();
    // Without its pictures the window still works: the error is shown and the start goes on.
    RunGuarded([this] { LoadArtwork(); });
    FormCreate();
}

void TForm1::CreateControls() {
    for (const ControlLayout& row : kMainLayout) {
        ControlInit init;
        init.parent = Handle();
        init.id = ControlIdOf(row.id);
        init.name = row.name;
        init.bounds = RECT{row.left, row.top, row.left + row.width, row.top + row.height};
        init.options = row.options;
        init.colour = row.colour;
        if (row.text != TextId::Count) init.text = TextIn(row.text, UiRussian);
        init.font = row.kind == ControlKind::Label ? labelFont_.Get() : Font();
        Control& control = ControlOf(row.id);
        control.Create(init);
        if (auto* graphic = dynamic_cast<GraphicControl*>(&control)) {
            graphic->SetBackdrop([this](HDC dc, const RECT& area, const GraphicControl& above) {
                PaintBelow(dc, area, above);
            });
            // The news panel covers its own area and overlaps nothing.
            if (row.kind != ControlKind::WebPanel) layers_.push_back(graphic);
        }
    }
}

void TForm1::CreateStores() {
    // Stacked in a column to the right of the visible area, hidden.
    int top = 0;
    for (const StoreLayout& row : kPictureStores) {
        ControlInit init;
        init.parent = Handle();
        init.name = row.name;
        init.bounds = RECT{kStoresLeft, top, kStoresLeft + row.width, top + row.height};
        init.options = ctl::Hidden;
        StoreOf(row.id).Create(init);
        top += row.height;
    }
}

void TForm1::ArrangeStacking() {
    // Tab order is the order of the controls from the top of the stack; below them lie the
    // graphic controls, the later in the layout the higher.
    std::vector<HWND> fromTop;
    for (const MainControl id : kMainTabOrder) fromTop.push_back(ControlOf(id).ControlHandle());
    for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) fromTop.push_back((*it)->Handle());
    HWND after = HWND_TOP;
    for (const HWND hwnd : fromTop) {
        ::SetWindowPos(hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = hwnd;
    }
}

void TForm1::PaintBelow(HDC dc, const RECT& area, const GraphicControl& above) const {
    FillSolid(dc, area, kFormColour);
    for (const GraphicControl* layer : layers_) {
        if (layer == &above) break;
        if (!layer->Shown()) continue;
        const RECT bounds = layer->Bounds();
        RECT overlap{};
        if (!::IntersectRect(&overlap, &bounds, &area)) continue;
        const SavedDcState state(dc);
        ::IntersectClipRect(dc, overlap.left, overlap.top, overlap.right, overlap.bottom);
        ::OffsetViewportOrgEx(dc, bounds.left, bounds.top, nullptr);
        layer->PaintContent(dc, RECT{0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top});
    }
}

void TForm1::OnPaint(HDC dc, const RECT& client) { FillSolid(dc, client, kFormColour); }

bool TForm1::OnCommand(int id, int code, HWND control) {
    if (!control) {
        // Menus: the language entries share one handler, which applies the entry's own name.
        if (const auto entry = MainMenuBar::EntryOfCommand(id)) {
            menu(LanguageEntries[static_cast<size_t>(*entry)]);
            return true;
        }
        if (id == menu_ids::About) {
            Fire(Events.AboutProgramClick);
            return true;
        }
        if (id == menu_ids::Exit) {
            Fire(Events.N1Click);
            return true;
        }
        return false;
    }
    struct Notification {
        MainControl control;
        int code;
        std::function<void()> MainWindowEvents::*handler;
    };
    static constexpr Notification kNotifications[] = {
        {MainControl::ComboBox_GameName, CBN_SELCHANGE, &MainWindowEvents::ComboBox_GameNameClick},
        {MainControl::ComboBox_GameVersion, CBN_SELCHANGE, &MainWindowEvents::ComboBox_GameVersionClick},
        {MainControl::EditNickname, EN_CHANGE, &MainWindowEvents::EditNicknameChange},
        {MainControl::EditClanTag, EN_CHANGE, &MainWindowEvents::EditClanTagChange},
    };
    for (const Notification& n : kNotifications) {
        if (id == ControlIdOf(n.control) && code == n.code) {
            Fire(Events.*n.handler);
            return true;
        }
    }
    return false;
}

void TForm1::perevod() {
    // Another language value changes nothing.
    if (UiLanguage != UiRussian && UiLanguage != UiEnglish) return;
    const int language = UiLanguage;
    SetCaption(std::string(GameShortTitle) + TextIn(TextId::MainCaptionSuffix, language));
    for (const TranslatedLabel& row : kTranslatedLabels) (this->*row.label).SetText(TextIn(row.text, language));
    mainMenu_.SetCaptions(TextIn(TextId::MenuLanguage, language), TextIn(TextId::MenuAbout, language));
    ShowLanguagePictures();
    if (Form_Settings && Form_Settings->HandleAllocated()) Form_Settings->translate();
    if (Form_Settings && Form_Settings->AvatarWindow()) Form_Settings->AvatarWindow()->Translate();
    // During the creation the news panel is left alone: the catalogue reading loads it at the
    // first show.
    if (CreationFinished) LoadNewsPage(wb1());
}

void TForm1::menu(const std::string& name) {
    const LanguageSelection selection = SelectLanguage(name);
    LauncherConfig.GameLanguage = selection.gameLanguage;
    UiLanguage = selection.uiLanguage;
    // Every mark is set before the translation runs, so a failing translation cannot leave a
    // second entry checked.
    for (int i = 0; i < LanguageEntryCount; ++i) mainMenu_.SetChecked(i, i == selection.entry);
    perevod();
}

CloseAction TForm1::OnClose() {
    if (!CheckRunActive()) return CloseAction::Destroy;
    CloseDuringCheckRun();
    return CloseAction::None;
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
    // However the program ends, also from the tray, no icon is left behind.
    tray_.Delete();
    RunGuarded([this] { FormDestroy(); });
    TerminateApplication();
}

void TForm1::FormCreate() {
    StartupWindowHooks hooks;
    hooks.applyGameLanguage = [this] { menu(LauncherConfig.GameLanguage); };
    hooks.enablePlay = [this] {
        Image_Button_Play.SetEnabled(true);
        Image_Button_Play.Assign(Image_Button_Play_Static);
    };
    hooks.resetCheckProgress = [this] { CheckProgress.ShowFileBarEmpty(); };
    // The sequence shows its own errors; the window opens whatever it did.
    startup_ = StartupOverride() ? StartupOverride()(hooks) : RunFormCreate(hooks);
}

void TForm1::FormShow() {
    // A page the shell refuses shows its error; the launcher then goes on with the running
    // version, and the lists and boxes below are filled as after any other outcome.
    RunGuarded([this] { RunSelfUpdatePolicy(SelfUpdateHostOf()); });
    RunGuarded([this] {
        chtenie(LauncherConfig.GameNamePosition, LauncherConfig.GameVersionPosition, *this, SystemAnsiCodec());
    });
    // Also after a catalogue that could not be read: the boxes show the player's values, and
    // their change handlers store the same values back.
    EditNickname.SetText(LauncherConfig.GamePlayerName);
    EditClanTag.SetText(LauncherConfig.GameClanTag);
    WindowShown = true;
}

void TForm1::FormDestroy() {
    // A client still installing when the window goes is ended without the check its end would
    // start: the window that check needs is going.
    DosCommand1.OnTerminated = nullptr;
    DosCommand1.OnExecuteError = nullptr;
    DosCommand1.OnNewLine = nullptr;
    DosCommand1.Stop();
    ReleaseLzmaAloneInstance();
    selfUpdateWindow_.reset();
    RestartAfterSelfUpdate();
}

SelfUpdateHost TForm1::SelfUpdateHostOf() {
    SelfUpdateHost host;
    host.owner = Handle();
    host.openPage = [this](const std::string& url) { ShellOpen(Handle(), "open", url, "", "", SW_SHOWNORMAL); };
    host.terminate = [] { TerminateApplication(); };
    host.showUpdateWindow = [this] {
        if (!selfUpdateWindow_) {
            auto window = std::make_unique<TForm_SelfUpdate>();
            window->Create(Handle());
            selfUpdateWindow_ = std::move(window);
        }
        return selfUpdateWindow_->ShowModal();
    };
    host.freeUpdateWindow = [this] { selfUpdateWindow_.reset(); };
    return host;
}

void TForm1::LoadNews(const NewsPageRequest&) {
    // NewsUrl and OfflineMode already say what the request says.
    LoadCatalogueNews(wb1());
}

void TForm1::wb1NewWindow2(const std::string& href, const std::string& rel, bool& cancel) {
    const NewWindowAction action = NewWindowActionFor(href, rel);
    if (action == NewWindowAction::Default) return;
    // Cancelled before the shell is asked: a shell that refuses must not leave the link to the panel.
    cancel = true;
    if (action != NewWindowAction::OpenInShell) return;
    if (LinkOverride())
        LinkOverride()(href);
    else
        ShellOpen(Handle(), "open", href, "", "", SW_SHOWNORMAL);
}

void TForm1::ShowGames(const std::vector<std::string>& names, int selected) {
    ComboBox_GameName.SetItems(names);
    ComboBox_GameName.SetItemIndex(selected);
}

void TForm1::ShowBuilds(const std::vector<std::string>& names, int selected) {
    ComboBox_GameVersion.SetItems(names);
    ComboBox_GameVersion.SetItemIndex(selected);
}

void TForm1::RestrictToOffline() {
    ComboBox_GameName.SetEnabled(false);
    ComboBox_GameVersion.SetEnabled(false);
    for (PictureControl* button : {&Image_Button_Check, &Image_Button_ServerBrowser}) {
        button->SetEnabled(false);
        button->SetShown(false);
    }
}

void TForm1::RunGameVersionCheck() { orv::RunGameVersionCheck(VersionWindow()); }

VersionCheckWindow TForm1::VersionWindow() {
    VersionCheckWindow window;
    window.selectFirstBuild = [this] {
        if (ComboBox_GameVersion.Count() > 0) ComboBox_GameVersion.SetItemIndex(0);
    };
    window.postVersionMessage = [this] { ::PostMessageW(Handle(), GameVersionMessage, 0, 0); };
    window.startUpdate = [this] {
        if (Events.Image_Button_CheckClick) Events.Image_Button_CheckClick();
    };
    window.owner = Handle();
    return window;
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == GameVersionMessage) {
        HandleGameVersionMessage(VersionWindow());
        return 0;
    }
    if (msg == WM_SYSCOMMAND && MinimizeToTray(wParam)) return 0;
    if (msg == TrayCallbackMessage) {
        TrayIconMessage(lParam);
        return 0;
    }
    if (msg != 0 && msg == TaskbarCreatedMessage()) {
        TaskbarCreated();
        return 0;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

void TForm1::ComboBox_GameNameClick() {
    const bool firstGame = CatalogueGamePicked(ComboBox_GameName.ItemIndex(), *this, SystemAnsiCodec());
    for (Control* control : std::initializer_list<Control*>{&Label_Nickname, &Label_Clantag, &EditNickname, &EditClanTag})
        control->SetShown(firstGame);
}

void TForm1::ComboBox_GameVersionClick() {
    CatalogueBuildPicked(ComboBox_GameName.ItemIndex(), ComboBox_GameVersion.ItemIndex(), *this, SystemAnsiCodec());
}

void TForm1::Image_SettingsClick() {
    if (!Form_Settings || !Form_Settings->HandleAllocated()) return;
    // A completed cleaner run hands over to the check, which brings back what the game needs.
    if (Form_Settings->ShowModal() == CleanerDoneResult && Events.Image_Button_CheckClick) Events.Image_Button_CheckClick();
}

void TForm1::Image_Button_ServerBrowserClick() {
    if (!serverList_) {
        auto window = std::make_unique<TForm_ServerList>();
        window->Create(Handle());
        serverList_ = std::move(window);
    }
    serverList_->ShowModal();
}

void TForm1::Image_Button_PlayClick() {
    // A run keeps Play disabled; a click that was already queued must not start the game from a
    // folder whose files the run may be replacing.
    if (CheckRunActive()) return;
    PlayActions actions = SystemPlayActions([this] { Close(); });
    if (LoaderOverride()) actions.startLoader = LoaderOverride();
    const PlayResult result = Play(ComboBox_GameName.ItemIndex(), actions, SystemAnsiCodec());
    if (result.focus == PlayFocus::Nickname) EditNickname.SetFocus();
    if (result.focus == PlayFocus::ClanTag) EditClanTag.SetFocus();
}

}  // namespace orv
