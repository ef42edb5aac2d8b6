// The main window TForm1: the launcher's only permanent window. Closing it ends the program.
//
// Its controls are public members named as the layout names them (main_window/layout_win.cpp), so
// that the start-up, catalogue, check and Play code drives them as the window's own handlers
// would; what the player does with them arrives through the handlers in `Events`.
#pragma once

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/catalogue_reader.h"
#include "launcher/console/dos_command_win.h"
#include "launcher/main_window/check_progress_win.h"
#include "launcher/main_window/layout_win.h"
#include "launcher/main_window/menus_win.h"
#include "launcher/main_window/tray_win.h"
#include "launcher/play.h"
#include "launcher/selfupdate/self_update_run.h"
#include "launcher/startup_sequence.h"
#include "launcher/ui/controls_win.h"
#include "launcher/ui/picture_control_win.h"
#include "launcher/ui/web_browser_win.h"
#include "launcher/ui/window_win.h"
#include "launcher/version_check.h"

namespace orv {

class TForm_SelfUpdate;
class TForm_ServerList;

// The window's event handlers. Unset ones do nothing. They run on the GUI thread; an error
// escaping one ends that event with the application's error box.
struct MainWindowEvents {
    std::function<void()> ComboBox_GameNameClick;     // a game picked in the list
    std::function<void()> ComboBox_GameVersionClick;  // a build picked in the list
    std::function<void()> EditNicknameChange;         // the nickname text changed (also when set)
    std::function<void()> EditClanTagChange;          // the clan-tag text changed (also when set)
    std::function<void()> Image_Button_PlayClick;
    std::function<void()> Image_Button_CheckClick;
    std::function<void()> Image_Button_StopClick;
    std::function<void()> Image_Button_ServerBrowserClick;
    std::function<void()> Image_SettingsClick;
    std::function<void()> AboutProgramClick;  // the menu bar's about item
    std::function<void()> N1Click;            // pm1's "Выход"
};

// How the main window runs its creation sequence with its own hooks. Unset: RunFormCreate for this
// process (its executable's folder, its command line, the real server). Tests point it at a
// temporary game folder and a simulated server.
using MainWindowStartup = std::function<StartupResult(const StartupWindowHooks&)>;
void SetMainWindowStartup(MainWindowStartup startup);

// Where the news panel sends a link marked external. Unset: the shell (ShellOpen, "open", shown
// normally, the main window as parent).
using LinkOpener = std::function<void(const std::string& address)>;
void SetLinkOpener(LinkOpener opener);

// Where Play sends the loader. Unset: the shell (SystemPlayActions).
using LoaderStarter = std::function<void(const std::string& loaderPath)>;
void SetLoaderStarter(LoaderStarter starter);

class TForm1 : public Window, private CatalogueView {
public:
    TForm1();
    ~TForm1() override;

    // Creates the window hidden with its controls and runs FormCreate; the window becomes the
    // application's main window (MainWindowHandle). Raises EOSError when the platform refuses
    // the window.
    void Create();

    // ---- Controls, in the layout's order.
    WebBrowser NewsPanel;  // wb1: the news panel's browser control
    PictureControl Image_BackgroundMainForm;
    LabelControl Label_GameName;
    DropDownList ComboBox_GameName;
    LabelControl Label_GameVersion;
    DropDownList ComboBox_GameVersion;
    LabelControl Label_Nickname;
    EditBox EditNickname;
    LabelControl Label_Clantag;
    EditBox EditClanTag;
    PictureControl Image_Button_ServerBrowser;
    PictureControl Image_Settings;
    PictureControl Image_Button_Play;
    PictureControl Image_Button_Check;
    PictureControl Image_Button_Stop;
    LabelControl lbl2;    // counters line of a check run
    LabelControl Label4;  // status line of a check run
    PictureControl Image1, Image2;  // progress strip backgrounds
    PictureControl Image3, Image9;  // progress strip fills: per file, overall
    PictureControl Image4, Image5;  // drawn over the fills
    ProgressBar pb1, pb2;           // the check run's counters, outside the visible area
    // What a check run shows goes through this, paced for the eye (main_window/check_progress_win.h).
    CheckProgressDisplay CheckProgress;

    // ---- Hidden picture stores: a button shows a copy of one of these (PictureControl::Assign).
    PictureControl Image_Button_Play_Static, Image_Button_Play_Active, Image_Button_Play_Inactive;
    PictureControl Image_Button_Check_Static_RU, Image_Button_Check_Active_RU;
    PictureControl Image_Button_Check_Static_EN, Image_Button_Check_Active_EN;
    PictureControl Image_Button_Stop_Static_RU, Image_Button_Stop_Active_RU;
    PictureControl Image_Button_Stop_Static_EN, Image_Button_Stop_Active_EN;
    PictureControl Image_Button_ServerBrowser_Static_RU, Image_Button_ServerBrowser_Active_RU;
    PictureControl Image_Button_ServerBrowser_Static_EN, Image_Button_ServerBrowser_Active_EN;
    PictureControl Image_Settings_Static, Image_Settings_Active;

    MainWindowEvents Events;

    // Runs the Steam console client; declared after the controls, so that a run still going when
    // the window goes is ended while the controls its handlers use still exist.
    TDosCommand DosCommand1;

    Control& ControlOf(MainControl id) { return *controls_[static_cast<size_t>(id)]; }
    PictureControl& StoreOf(PictureStore id) { return *stores_[static_cast<size_t>(id)]; }

    // The news panel as the page loading drives it.
    WebView& wb1() { return newsView_ ? *newsView_ : NewsPanel; }
    // Sends the news panel's calls to `view` instead (nullptr: back to the panel). For a browser
    // component that lives elsewhere, and for tests that record the calls.
    void SetNewsView(WebView* view) { newsView_ = view; }

    const MainMenuBar& MainMenu() const noexcept { return mainMenu_; }
    HMENU pm1() const noexcept { return pm1_.Handle(); }

    // Sets the window's texts and language pictures for UiLanguage, has the settings window (and the
    // avatar window, once opened) translate itself, and reloads the news panel once the creation has finished.
    void perevod();
    // Applies a game language name: the resolved name goes to LauncherConfig.GameLanguage, its
    // entry alone is checked, UiLanguage follows it and the window is translated once.
    void menu(const std::string& name);

    // The player's handlers of the game and build lists, the edit boxes and Play (also what the
    // controls' notifications run unless a test replaces them in `Events`).
    void ComboBox_GameNameClick();
    void ComboBox_GameVersionClick();
    void Image_Button_PlayClick();
    // Opens the settings window modally; a completed cleaner run there starts the check action.
    void Image_SettingsClick();
    // main_window/tray_win.cpp: a system command SC_MINIMIZE (the whole value) hides the window in
    // the tray (true: handled; false when the shell refuses the icon, and the window is minimised as
    // usual); the tray icon's mouse messages; pm1's "Выход"; the about box.
    bool MinimizeToTray(WPARAM command);
    void TrayIconMessage(LPARAM mouseMessage);
    // The shell made the taskbar anew, without the icons it had: the icon of a window hidden in the
    // tray is added again, and where the shell refuses it the window comes back minimised.
    void TaskbarCreated();
    void N1Click();
    void AboutProgramClick();
    bool InTray() const noexcept { return tray_.Exists(); }
    // The server browser: made on the first click, shown modally on every click.
    void Image_Button_ServerBrowserClick();
    TForm_ServerList* ServerList() const noexcept { return serverList_.get(); }
    // A page of the news panel asks for a new window for the link with these attributes; `cancel`
    // is set when the link goes to the default browser instead, or is refused.
    void wb1NewWindow2(const std::string& href, const std::string& rel, bool& cancel);
    // main_window/check_win.cpp: the check action (checking state, then the run), the
    // check-and-repair run for the selected game and build, and the stop procedure (idle state).
    void Image_Button_CheckClick();
    void CheckAllFiles(const std::string& adrskach);
    void stops();
    // main_window/install_win.cpp: the check action's install branch, which runs the Steam console
    // client before the check-and-repair run when the catalogue asks for it, and the runner's
    // event handlers. The flags are cleared before each client start.
    void StartServerToolInstall();
    void DosCommand1NewLine(const std::string& line, TOutputType type);
    void DosCommand1TerminateProcess(bool& canTerminate);
    void DosCommand1ExecuteError(const std::exception_ptr& error, bool& handled);
    void DosCommand1Terminated();
    bool ToolRunFinished = false;  // the client's end was reported (normally or with an error)
    bool ToolRunAborted = false;   // the client failed to start or was killed
    // The close box during a check run: the run is stopped and the window closes after it.
    void CloseDuringCheckRun();
    // What the last creation sequence did (the step that failed, a connect-link start).
    const StartupResult& Startup() const noexcept { return startup_; }

protected:
    // The start-up sequence, run once the window and its controls exist. An error ends it at the
    // failing step.
    void FormCreate();
    // The rest of the start, when the window is first shown.
    void FormShow();
    // Runs while the window is being destroyed, before the event loop ends.
    void FormDestroy();

    void OnCreate() override;
    void OnShow() override;
    CloseAction OnClose() override;
    void OnDestroy() override;
    void OnPaint(HDC dc, const RECT& client) override;
    bool OnCommand(int id, int code, HWND control) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    // CatalogueView: what chtenie asks of the window.
    void LoadNews(const NewsPageRequest& request) override;
    void ShowGames(const std::vector<std::string>& names, int selected) override;
    void ShowBuilds(const std::vector<std::string>& names, int selected) override;
    void RestrictToOffline() override;
    void RunGameVersionCheck() override;
    // What the game version check needs of the window.
    VersionCheckWindow VersionWindow();
    // What the self-update policy of FormShow needs of the window.
    SelfUpdateHost SelfUpdateHostOf();

    void WireHandlers();
    void CreateControls();
    void CreateStores();
    void ArrangeStacking();
    // Paints the window's background and every graphic control below `above` inside `area`.
    void PaintBelow(HDC dc, const RECT& area, const GraphicControl& above) const;

    // main_window/pictures_win.cpp
    void LoadArtwork();
    void WirePictureButtons();
    void ShowLanguagePictures();

    std::array<Control*, MainControlCount> controls_;
    std::array<PictureControl*, PictureStoreCount> stores_;
    std::vector<GraphicControl*> layers_;  // overlapping graphic controls, bottom first
    ScopedFont labelFont_;
    MainMenuBar mainMenu_;
    TrayPopupMenu pm1_;
    TrayIcon tray_;
    std::unique_ptr<TForm_ServerList> serverList_;
    WebView* newsView_ = nullptr;
    bool formShowDone_ = false;
    StartupResult startup_;
    // Created by the self-update policy when it opens the window, freed after a failure.
    std::unique_ptr<TForm_SelfUpdate> selfUpdateWindow_;
};

// The main window while it exists (one per process).
extern TForm1* Form1;

// The module whose resources hold the window's pictures; nullptr: the running executable.
extern HMODULE ArtworkModule;

}  // namespace orv
