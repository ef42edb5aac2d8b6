// The main window in this process, with the artwork read from the built Orvanta.exe: every control
// at its place with its initial state, the hidden picture stores, tab order, the menus, the
// translation in both languages, the buttons' pictures and hover rule, the picture buttons' clicks,
// how the pictures lie on each other, and the news panel's loading after a language change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "game_profile.h"
#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/language_menu.h"
#include "launcher/news_page.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_settings_win.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

// Records what the news panel is asked to do; optionally fails every navigation.
class RecordingWebView : public WebView {
public:
    void Navigate(const std::string& url, bool bypassCache) override {
        calls.push_back("Navigate " + url + (bypassCache ? " nocache" : ""));
        if (failNavigation) throw std::runtime_error("navigation refused");
    }
    void Stop() override { calls.push_back("Stop"); }
    std::string DefaultUserAgent() override { return "Agent"; }
    void SetUserAgent(const std::string& userAgent) override { calls.push_back("SetUserAgent " + userAgent); }
    void WriteHtml(const std::string& html) override { calls.push_back("WriteHtml " + html); }

    std::vector<std::string> calls;
    bool failNavigation = false;
};

// The control's own painting (backdrop and content) into a 32-bit bitmap, as 0x00RRGGBB.
struct Rendering {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

Rendering Render(const Control& control) {
    const RECT bounds = control.Bounds();
    Rendering r;
    r.width = bounds.right - bounds.left;
    r.height = bounds.bottom - bounds.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = r.width;
    info.bmiHeader.biHeight = -r.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    ScopedBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ScopedMemoryDc dc(::CreateCompatibleDC(nullptr));
    const HGDIOBJ old = ::SelectObject(dc.Get(), bitmap.Get());
    ::SendMessageW(control.ControlHandle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT);
    ::GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    r.pixels.assign(p, p + static_cast<size_t>(r.width) * r.height);
    ::SelectObject(dc.Get(), old);
    return r;
}

// A picture's pixel where it is fully opaque, as the rendering gives it.
uint32_t OpaquePixel(const Picture& picture, int x, int y) { return picture.PixelAt(x, y) & 0xFFFFFF; }

std::string MenuText(HMENU menu, UINT position) {
    wchar_t text[128] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = text;
    item.cch = 127;
    ::GetMenuItemInfoW(menu, position, TRUE, &item);
    return Narrow(text);
}

UINT MenuType(HMENU menu, UINT position) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE;
    ::GetMenuItemInfoW(menu, position, TRUE, &item);
    return item.fType;
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        artwork_ = ::LoadLibraryExW(Wide(test::LauncherUnderTest()).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ArtworkModule = artwork_;
    }
    static void TearDownTestSuite() {
        ArtworkModule = nullptr;
        if (artwork_) ::FreeLibrary(artwork_);
        artwork_ = nullptr;
    }

    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
        ASSERT_NE(artwork_, nullptr) << "cannot read the artwork of " << test::LauncherUnderTest();
        UiLanguage = UiRussian;
        StopFlag = 1;
        CreationFinished = false;
        OfflineMode = false;
        NewsUrl = "about:blank";
        LauncherConfig.GameLanguage.clear();
        form_ = std::make_unique<TForm1>();
        form_->Create();
        ASSERT_TRUE(form_->HandleAllocated());
    }
    void TearDown() override {
        form_.reset();
        UiLanguage = UiRussian;
        StopFlag = 1;
        CreationFinished = false;
        OfflineMode = false;
        NewsUrl = "about:blank";
        LauncherConfig.GameLanguage.clear();
        EXPECT_TRUE(messages_.Seen().empty()) << messages_.Seen().front().text;
    }

    TForm1& Form() { return *form_; }

    int CheckedEntries() const {
        int count = 0;
        for (int i = 0; i < LanguageEntryCount; ++i) count += form_->MainMenu().Checked(i) ? 1 : 0;
        return count;
    }

    // The button shows a copy of the store's picture: the same pixels in a bitmap of its own.
    static void ExpectShows(const PictureControl& button, const PictureControl& store) {
        EXPECT_EQ(button.Source(), store.Name()) << button.Name();
        EXPECT_FALSE(button.GetPicture().Empty()) << button.Name();
        EXPECT_TRUE(button.GetPicture().SamePixels(store.GetPicture())) << button.Name() << " / " << store.Name();
        EXPECT_NE(button.GetPicture().Bitmap(), store.GetPicture().Bitmap()) << button.Name();
    }

    static HMODULE artwork_;
    // The window as its layout makes it; the creation sequence is tested on its own.
    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
    test::RecordedMessages messages_;
    std::unique_ptr<TForm1> form_;
};

HMODULE MainWindowTest::artwork_ = nullptr;

TEST_F(MainWindowTest, EveryControlSitsAtItsPlaceWithItsInitialState) {
    const SIZE client = Form().ClientSize();
    EXPECT_EQ(client.cx, 700);
    EXPECT_EQ(client.cy, 560);
    EXPECT_EQ(Form().Caption(), "Orvanta");

    const std::vector<std::string> russianLabels = {"Игра", "Выберите версию", "Ваш ник:", "КланТэг:"};
    for (const ControlLayout& row : kMainLayout) {
        SCOPED_TRACE(row.name);
        Control& control = Form().ControlOf(row.id);
        ASSERT_TRUE(control.Exists());
        EXPECT_EQ(control.Name(), row.name);
        EXPECT_EQ(::GetParent(control.ControlHandle()), Form().Handle());
        const RECT b = control.Bounds();
        EXPECT_EQ(b.left, row.left);
        EXPECT_EQ(b.top, row.top);
        if (row.options & ctl::AutoSize) {
            // Sized to its text.
            EXPECT_GT(b.right - b.left, 20);
            EXPECT_GT(b.bottom - b.top, 8);
            EXPECT_LT(b.bottom - b.top, 24);
        } else {
            EXPECT_EQ(b.right - b.left, row.width);
            EXPECT_EQ(b.bottom - b.top, row.height);
        }
        EXPECT_EQ(control.Shown(), !(row.options & ctl::Hidden));
        EXPECT_EQ(control.Enabled(), !(row.options & ctl::Disabled));

        const std::string className = test::ClassNameOf(control.ControlHandle());
        switch (row.kind) {
            case ControlKind::Label: {
                auto* label = dynamic_cast<LabelControl*>(&control);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->Colour(), row.colour);
                break;
            }
            case ControlKind::Picture:
                EXPECT_NE(dynamic_cast<PictureControl*>(&control), nullptr);
                break;
            case ControlKind::WebPanel:
                EXPECT_EQ(&control, &Form().NewsPanel);
                break;
            case ControlKind::DropDownList:
                EXPECT_EQ(className, "ComboBox");
                EXPECT_EQ(::GetWindowLongPtrW(control.ControlHandle(), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
                break;
            case ControlKind::Edit:
                EXPECT_EQ(className, "Edit");
                break;
            case ControlKind::ProgressBar:
                EXPECT_EQ(className, "msctls_progress32");
                // Outside the visible client area.
                EXPECT_GE(b.left, 700);
                break;
        }
    }
    EXPECT_EQ(Form().Label_GameName.Text(), russianLabels[0]);
    EXPECT_EQ(Form().Label_GameVersion.Text(), russianLabels[1]);
    EXPECT_EQ(Form().Label_Nickname.Text(), russianLabels[2]);
    EXPECT_EQ(Form().Label_Clantag.Text(), russianLabels[3]);
    EXPECT_EQ(Form().Label_GameName.Colour(), kCream);
    EXPECT_EQ(Form().lbl2.Colour(), kWhite);
    EXPECT_EQ(Form().lbl2.Text(), "");
    EXPECT_EQ(Form().Label4.Text(), "");
    EXPECT_EQ(Form().EditNickname.Text(), "You name");
    EXPECT_EQ(Form().EditClanTag.Text(), "ClanTag");
    EXPECT_EQ(Form().Image3.Width(), 0);
    EXPECT_EQ(Form().Image9.Width(), 0);
    EXPECT_EQ(Form().pb1.Position(), 0);
    // The fonts: bold labels, the window's font on the boxes.
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Form().EditNickname.ControlHandle(), WM_GETFONT, 0, 0)),
                 sizeof(font), &font);
    EXPECT_STREQ(font.lfFaceName, L"Tahoma");
}

TEST_F(MainWindowTest, PictureButtonsShowTheHandAndOtherPicturesDoNot) {
    const HCURSOR hand = ::LoadCursorW(nullptr, IDC_HAND);
    for (const ControlLayout& row : kMainLayout) {
        if (row.kind != ControlKind::Picture) continue;
        SCOPED_TRACE(row.name);
        const HWND hwnd = Form().ControlOf(row.id).ControlHandle();
        ::SetCursor(nullptr);
        const LRESULT handled =
            ::SendMessageW(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        if (row.options & ctl::HandCursor) {
            EXPECT_TRUE(handled);
            EXPECT_EQ(::GetCursor(), hand);
        } else {
            EXPECT_FALSE(handled);
        }
    }
}

TEST_F(MainWindowTest, PictureStoresAreHiddenRightOfTheWindowWithTheirSizesAndButtonsShowCopies) {
    for (const StoreLayout& row : kPictureStores) {
        SCOPED_TRACE(row.name);
        PictureControl& store = Form().StoreOf(row.id);
        EXPECT_EQ(store.Name(), row.name);
        EXPECT_FALSE(store.Shown());
        const RECT b = store.Bounds();
        EXPECT_GE(b.left, 700);
        EXPECT_EQ(b.right - b.left, row.width);
        EXPECT_EQ(b.bottom - b.top, row.height);
        EXPECT_EQ(store.GetPicture().Width(), row.width);
        EXPECT_EQ(store.GetPicture().Height(), row.height);
    }
    // Every store's picture is its own artwork.
    for (int i = 0; i < PictureStoreCount; ++i)
        for (int j = i + 1; j < PictureStoreCount; ++j)
            EXPECT_FALSE(Form().StoreOf(static_cast<PictureStore>(i)).GetPicture().SamePixels(
                Form().StoreOf(static_cast<PictureStore>(j)).GetPicture()))
                << kPictureStores[i].name << " = " << kPictureStores[j].name;

    ExpectShows(Form().Image_Button_Check, Form().Image_Button_Check_Static_RU);
    ExpectShows(Form().Image_Button_Stop, Form().Image_Button_Stop_Static_RU);
    ExpectShows(Form().Image_Button_ServerBrowser, Form().Image_Button_ServerBrowser_Static_RU);
    ExpectShows(Form().Image_Settings, Form().Image_Settings_Static);
    // Disabled until the start-up enables it, and looking it.
    ExpectShows(Form().Image_Button_Play, Form().Image_Button_Play_Inactive);
    // The pictures of the panel and the strips.
    EXPECT_EQ(Form().Image_BackgroundMainForm.GetPicture().Width(), 700);
    EXPECT_EQ(Form().Image_BackgroundMainForm.GetPicture().Height(), 178);
    for (PictureControl* strip : {&Form().Image1, &Form().Image2, &Form().Image3, &Form().Image4})
        EXPECT_EQ(strip->GetPicture().Width(), 417) << strip->Name();
    EXPECT_EQ(Form().Image5.GetPicture().Width(), 418);
    EXPECT_EQ(Form().Image9.GetPicture().Height(), 16);
}

TEST_F(MainWindowTest, TabOrderRunsFromTheBarsThroughTheBoxesToTheLists) {
    std::vector<HWND> stack;
    for (HWND child = ::GetWindow(Form().Handle(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        stack.push_back(child);
    std::vector<size_t> positions;
    for (const MainControl id : kMainTabOrder) {
        const auto it = std::find(stack.begin(), stack.end(), Form().ControlOf(id).ControlHandle());
        ASSERT_NE(it, stack.end()) << LayoutOf(id).name;
        positions.push_back(static_cast<size_t>(it - stack.begin()));
    }
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));

    // The keyboard walks the boxes and lists in that order and comes round again.
    const HWND form = Form().Handle();
    const HWND nickname = Form().EditNickname.ControlHandle();
    const HWND clanTag = Form().EditClanTag.ControlHandle();
    const HWND games = Form().ComboBox_GameName.ControlHandle();
    const HWND builds = Form().ComboBox_GameVersion.ControlHandle();
    EXPECT_EQ(::GetNextDlgTabItem(form, nickname, FALSE), clanTag);
    EXPECT_EQ(::GetNextDlgTabItem(form, clanTag, FALSE), games);
    EXPECT_EQ(::GetNextDlgTabItem(form, games, FALSE), builds);
    EXPECT_EQ(::GetNextDlgTabItem(form, builds, FALSE), nickname);
}

TEST_F(MainWindowTest, MenuBarHoldsTheLanguagesInTwoColumnsAndTheAboutItem) {
    const HMENU bar = ::GetMenu(Form().Handle());
    ASSERT_EQ(bar, Form().MainMenu().Bar());
    ASSERT_EQ(::GetMenuItemCount(bar), 2);
    EXPECT_EQ(MenuText(bar, 0), "Язык / Language");
    EXPECT_EQ(MenuText(bar, 1), "О программе");
    EXPECT_EQ(::GetMenuItemID(bar, 1), static_cast<UINT>(menu_ids::About));

    const HMENU languages = ::GetSubMenu(bar, 0);
    ASSERT_EQ(languages, Form().MainMenu().Languages());
    ASSERT_EQ(::GetMenuItemCount(languages), LanguageEntryCount);
    for (int i = 0; i < LanguageEntryCount; ++i) {
        SCOPED_TRACE(LanguageEntries[i]);
        EXPECT_EQ(MenuText(languages, static_cast<UINT>(i)), LanguageEntries[i]);
        const UINT type = MenuType(languages, static_cast<UINT>(i));
        EXPECT_TRUE(type & MFT_RADIOCHECK);
        EXPECT_EQ((type & MFT_MENUBARBREAK) != 0, std::string(LanguageEntries[i]) == "Japanese");
    }
    // Marks are set by the language menu alone: none before it has run.
    EXPECT_EQ(CheckedEntries(), 0);

    ASSERT_NE(Form().pm1(), nullptr);
    ASSERT_EQ(::GetMenuItemCount(Form().pm1()), 1);
    EXPECT_EQ(MenuText(Form().pm1(), 0), "Выход");
}

TEST_F(MainWindowTest, LanguageMenuChecksExactlyTheResolvedEntry) {
    struct Case {
        const char* name;
        const char* entry;
        const char* gameLanguage;
        int ui;
    };
    const Case cases[] = {
        {"english", "English", "english", UiEnglish},  {"", "Russian", "Russian", UiRussian},
        {"Ukrainian", "Ukrainian", "Ukrainian", UiEnglish}, {"Bulgarian", "Bulgarian", "Bulgarian", UiEnglish},
        {"Elvish", "Russian", "Russian", UiRussian},   {"RUSSIAN", "Russian", "RUSSIAN", UiRussian},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Form().menu(c.name);
        EXPECT_EQ(LauncherConfig.GameLanguage, c.gameLanguage);
        EXPECT_EQ(UiLanguage, c.ui);
        EXPECT_EQ(CheckedEntries(), 1);
        const int entry = SelectLanguage(c.entry).entry;
        EXPECT_TRUE(Form().MainMenu().Checked(entry));
    }
    // Picking the entry already checked applies it again.
    Form().menu("Ukrainian");
    Form().menu("Ukrainian");
    EXPECT_EQ(CheckedEntries(), 1);
}

TEST_F(MainWindowTest, EveryMenuEntryAppliesItsOwnName) {
    for (int i = 0; i < LanguageEntryCount; ++i) {
        SCOPED_TRACE(LanguageEntries[i]);
        ::SendMessageW(Form().Handle(), WM_COMMAND, MAKEWPARAM(menu_ids::FirstLanguage + i, 0), 0);
        EXPECT_EQ(LauncherConfig.GameLanguage, LanguageEntries[i]);
        EXPECT_TRUE(Form().MainMenu().Checked(i));
        EXPECT_EQ(CheckedEntries(), 1);
        EXPECT_EQ(UiLanguage, std::string(LanguageEntries[i]) == "Russian" ? UiRussian : UiEnglish);
        EXPECT_EQ(Form().Caption(),
                  std::string(GameShortTitle) + (UiLanguage == UiRussian ? " Лаунчер" : " Launcher"));
    }
}

TEST_F(MainWindowTest, TranslationSetsTextsAndLanguagePicturesInBothLanguages) {
    TForm_Settings settings;
    settings.Create(Form().Handle());
    const HMENU bar = Form().MainMenu().Bar();

    // Hovering first: the new language still leaves the resting pictures.
    Form().Image_Button_Check.OnMouseEnter();
    Form().Image_Button_ServerBrowser.OnMouseEnter();
    const int russianWidth = Form().Label_GameVersion.Width();

    Form().menu("English");
    EXPECT_EQ(Form().Caption(), std::string(GameShortTitle) + " Launcher");
    EXPECT_EQ(Form().Caption(), "CS:S Launcher");
    EXPECT_EQ(Form().Label_Nickname.Text(), "Your nickname:");
    EXPECT_EQ(Form().Label_Clantag.Text(), "ClanTag:");
    EXPECT_EQ(Form().Label_GameName.Text(), "Game");
    EXPECT_EQ(Form().Label_GameVersion.Text(), "Select a version");
    // What a reader outside the program gets from the window itself.
    EXPECT_EQ(test::TextOf(Form().Label_GameVersion.Handle()), "Select a version");
    EXPECT_NE(Form().Label_GameVersion.Width(), russianWidth);  // sized to the new text
    EXPECT_EQ(MenuText(bar, 0), "Language");
    EXPECT_EQ(MenuText(bar, 1), "About");
    EXPECT_EQ(MenuText(Form().pm1(), 0), "Выход");  // never translated
    EXPECT_EQ(settings.Caption(), "Settings");
    ExpectShows(Form().Image_Button_Check, Form().Image_Button_Check_Static_EN);
    ExpectShows(Form().Image_Button_Stop, Form().Image_Button_Stop_Static_EN);
    ExpectShows(Form().Image_Button_ServerBrowser, Form().Image_Button_ServerBrowser_Static_EN);
    // The status lines and the boxes are not the translation's.
    EXPECT_EQ(Form().EditNickname.Text(), "You name");

    Form().menu("Russian");
    EXPECT_EQ(Form().Caption(), std::string(GameShortTitle) + " Лаунчер");
    EXPECT_EQ(Form().Label_Nickname.Text(), "Ваш ник:");
    EXPECT_EQ(Form().Label_Clantag.Text(), "КланТэг:");
    EXPECT_EQ(Form().Label_GameName.Text(), "Игра");
    EXPECT_EQ(Form().Label_GameVersion.Text(), "Выберите версию");
    EXPECT_EQ(Form().Label_GameVersion.Width(), russianWidth);
    EXPECT_EQ(MenuText(bar, 0), "Язык / Language");
    EXPECT_EQ(MenuText(bar, 1), "О программе");
    EXPECT_EQ(settings.Caption(), "Настройки");
    ExpectShows(Form().Image_Button_Check, Form().Image_Button_Check_Static_RU);
    ExpectShows(Form().Image_Button_Stop, Form().Image_Button_Stop_Static_RU);
    ExpectShows(Form().Image_Button_ServerBrowser, Form().Image_Button_ServerBrowser_Static_RU);
}

TEST_F(MainWindowTest, HoverSwapsPicturesByLanguageAndPlayOnlyWhileIdle) {
    TForm1& f = Form();
    for (const int language : {UiRussian, UiEnglish}) {
        SCOPED_TRACE(language);
        f.menu(language == UiRussian ? "Russian" : "English");
        const bool ru = language == UiRussian;
        f.Image_Button_Check.OnMouseEnter();
        ExpectShows(f.Image_Button_Check, ru ? f.Image_Button_Check_Active_RU : f.Image_Button_Check_Active_EN);
        f.Image_Button_Check.OnMouseLeave();
        ExpectShows(f.Image_Button_Check, ru ? f.Image_Button_Check_Static_RU : f.Image_Button_Check_Static_EN);
        f.Image_Button_Stop.OnMouseEnter();
        ExpectShows(f.Image_Button_Stop, ru ? f.Image_Button_Stop_Active_RU : f.Image_Button_Stop_Active_EN);
        f.Image_Button_Stop.OnMouseLeave();
        ExpectShows(f.Image_Button_Stop, ru ? f.Image_Button_Stop_Static_RU : f.Image_Button_Stop_Static_EN);
        f.Image_Button_ServerBrowser.OnMouseEnter();
        ExpectShows(f.Image_Button_ServerBrowser,
                    ru ? f.Image_Button_ServerBrowser_Active_RU : f.Image_Button_ServerBrowser_Active_EN);
        f.Image_Button_ServerBrowser.OnMouseLeave();
        ExpectShows(f.Image_Button_ServerBrowser,
                    ru ? f.Image_Button_ServerBrowser_Static_RU : f.Image_Button_ServerBrowser_Static_EN);
        f.Image_Settings.OnMouseEnter();
        ExpectShows(f.Image_Settings, f.Image_Settings_Active);
        f.Image_Settings.OnMouseLeave();
        ExpectShows(f.Image_Settings, f.Image_Settings_Static);
    }

    // Play follows the pointer only while no check runs.
    StopFlag = 1;
    f.Image_Button_Play.OnMouseEnter();
    ExpectShows(f.Image_Button_Play, f.Image_Button_Play_Active);
    f.Image_Button_Play.OnMouseLeave();
    ExpectShows(f.Image_Button_Play, f.Image_Button_Play_Static);
    f.Image_Button_Play.Assign(f.Image_Button_Play_Inactive);
    StopFlag = 0;
    f.Image_Button_Play.OnMouseEnter();
    ExpectShows(f.Image_Button_Play, f.Image_Button_Play_Inactive);
    f.Image_Button_Play.OnMouseLeave();
    ExpectShows(f.Image_Button_Play, f.Image_Button_Play_Inactive);
    StopFlag = 2;
    f.Image_Button_Play.OnMouseEnter();
    ExpectShows(f.Image_Button_Play, f.Image_Button_Play_Inactive);

    // A language value of neither kind: Check and Stop keep their picture, the server browser
    // takes the Russian one.
    UiLanguage = 2;
    f.Image_Button_Check.OnMouseEnter();
    ExpectShows(f.Image_Button_Check, f.Image_Button_Check_Static_EN);
    f.Image_Button_ServerBrowser.OnMouseEnter();
    ExpectShows(f.Image_Button_ServerBrowser, f.Image_Button_ServerBrowser_Active_RU);
}

TEST_F(MainWindowTest, PictureButtonsClickOnlyWhenEnabledAndReleasedOnThem) {
    TForm1& f = Form();
    std::vector<std::string> fired;
    f.Events.Image_Button_CheckClick = [&] { fired.push_back("Check"); };
    f.Events.Image_Button_PlayClick = [&] { fired.push_back("Play"); };
    f.Events.Image_Button_StopClick = [&] { fired.push_back("Stop"); };
    f.Events.Image_Button_ServerBrowserClick = [&] { fired.push_back("ServerBrowser"); };
    f.Events.Image_SettingsClick = [&] { fired.push_back("Settings"); };
    const auto click = [](const Control& c, int x, int y) {
        ::SendMessageW(c.ControlHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        ::SendMessageW(c.ControlHandle(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    };
    click(f.Image_Button_Check, 10, 10);
    click(f.Image_Button_ServerBrowser, 10, 10);
    click(f.Image_Settings, 10, 10);
    click(f.Image_Button_Play, 10, 10);  // disabled
    click(f.Image_Button_Stop, 10, 10);  // disabled and hidden
    EXPECT_EQ(fired, (std::vector<std::string>{"Check", "ServerBrowser", "Settings"}));

    fired.clear();
    f.Image_Button_Play.SetEnabled(true);
    click(f.Image_Button_Play, 10, 10);
    click(f.Image_Button_Play, 200, 10);  // released off the picture
    ::SendMessageW(f.Image_Button_Check.ControlHandle(), WM_LBUTTONUP, 0, MAKELPARAM(10, 10));  // no press
    EXPECT_EQ(fired, (std::vector<std::string>{"Play"}));

    // The lists, the boxes and the menu bar's about item.
    fired.clear();
    f.Events.ComboBox_GameNameClick = [&] { fired.push_back("Games"); };
    f.Events.ComboBox_GameVersionClick = [&] { fired.push_back("Builds"); };
    f.Events.EditNicknameChange = [&] { fired.push_back("Nickname " + f.EditNickname.Text()); };
    f.Events.EditClanTagChange = [&] { fired.push_back("ClanTag " + f.EditClanTag.Text()); };
    f.Events.AboutProgramClick = [&] { fired.push_back("About"); };
    f.ComboBox_GameName.SetItems({"Counter-Strike: Source", "Другая игра"});
    f.ComboBox_GameName.SetItemIndex(1);
    EXPECT_EQ(f.ComboBox_GameName.Count(), 2);
    EXPECT_EQ(f.ComboBox_GameName.Item(1), "Другая игра");
    EXPECT_EQ(f.ComboBox_GameName.ItemIndex(), 1);
    EXPECT_EQ(f.ComboBox_GameName.Text(), "Другая игра");
    const auto selectionChanged = [&](const Control& list) {
        ::SendMessageW(f.Handle(), WM_COMMAND,
                       MAKEWPARAM(::GetDlgCtrlID(list.ControlHandle()), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(list.ControlHandle()));
    };
    selectionChanged(f.ComboBox_GameName);
    selectionChanged(f.ComboBox_GameVersion);
    f.EditNickname.SetText("Игрок");
    f.EditClanTag.SetText("[ORV]");
    ::SendMessageW(f.Handle(), WM_COMMAND, MAKEWPARAM(menu_ids::About, 0), 0);
    EXPECT_EQ(fired, (std::vector<std::string>{"Games", "Builds", "Nickname Игрок", "ClanTag [ORV]", "About"}));
}

TEST_F(MainWindowTest, PicturesLieOnTheirBackgroundsAndFillsShowThroughTheirOverlays) {
    TForm1& f = Form();
    const Picture& panel = f.Image_BackgroundMainForm.GetPicture();
    const RECT check = f.Image_Button_Check.Bounds();
    // Right of and below the Check picture (112 x 46) the control shows the panel beneath it.
    const Rendering button = Render(f.Image_Button_Check);
    EXPECT_EQ(button.At(115, 50), OpaquePixel(panel, check.left + 115, check.top + 50 - 387));
    // In the middle of its body, the picture itself.
    EXPECT_EQ(button.At(30, 22), OpaquePixel(f.Image_Button_Check_Static_RU.GetPicture(), 30, 22));

    // A label is its text on the panel.
    const Rendering label = Render(f.Label_GameName);
    const RECT at = f.Label_GameName.Bounds();
    int panelPixels = 0, textPixels = 0;
    for (int y = 0; y < label.height; ++y) {
        for (int x = 0; x < label.width; ++x) {
            if (label.At(x, y) == OpaquePixel(panel, at.left + x, at.top + y - 387))
                ++panelPixels;
            else
                ++textPixels;
        }
    }
    EXPECT_GT(panelPixels, textPixels);
    EXPECT_GT(textPixels, 20);

    // The overlay of the first strip shows the fill once the fill is widened under it.
    const Rendering empty = Render(f.Image4);
    f.Image3.SetWidth(417);
    EXPECT_EQ(f.Image3.Width(), 417);
    const Rendering full = Render(f.Image4);
    EXPECT_NE(empty.At(100, 5), full.At(100, 5));
    f.Image3.SetWidth(0);
    EXPECT_EQ(Render(f.Image4).pixels, empty.pixels);
}

TEST_F(MainWindowTest, TheStatusLineBreaksLongTextOntoItsSecondLineOnlyWithWordWrap) {
    TForm1& f = Form();
    const Rendering blank = Render(f.lbl2);
    // Pixels that differ from the empty label in the lower half, where only a second line lies.
    const auto lowerHalfInk = [&] {
        const Rendering now = Render(f.lbl2);
        int ink = 0;
        for (int y = now.height / 2 + 1; y < now.height; ++y)
            for (int x = 0; x < now.width; ++x) ink += now.At(x, y) != blank.At(x, y);
        return ink;
    };
    const std::string longLine =
        "Update state (0x61) downloading, progress: 12.34 (1234567890 / 9876543210) and a few more words";
    f.lbl2.SetText(longLine);
    EXPECT_EQ(lowerHalfInk(), 0);
    f.lbl2.SetWordWrap(true);
    EXPECT_GT(lowerHalfInk(), 20);
    const RECT b = f.lbl2.Bounds();
    EXPECT_EQ(b.right - b.left, 417);  // the status line keeps its place and size
    EXPECT_EQ(b.bottom - b.top, 27);
    f.lbl2.SetWordWrap(false);
    EXPECT_EQ(lowerHalfInk(), 0);
    f.lbl2.SetText("");
}

TEST_F(MainWindowTest, TranslationReloadsTheNewsPanelOnlyOnceTheCreationHasFinished) {
    RecordingWebView view;
    Form().SetNewsView(&view);
    NewsUrl = "http://news.example/cstrike/news";

    // During the creation (the start-up's own language call) the panel is left alone.
    Form().menu("English");
    EXPECT_TRUE(view.calls.empty());

    CreationFinished = true;
    Form().menu("English");
    EXPECT_EQ(view.calls, (std::vector<std::string>{"Navigate about:blank",
                                                    "SetUserAgent Agent" + UserAgentSuffix(),
                                                    "Navigate http://news.example/cstrike/news/en/ nocache"}));
    view.calls.clear();
    Form().menu("Russian");
    EXPECT_EQ(view.calls.back(), "Navigate http://news.example/cstrike/news nocache");

    // Offline: the offline page of the new language.
    OfflineMode = true;
    for (const char* language : {"English", "Russian"}) {
        view.calls.clear();
        Form().menu(language);
        const int ui = std::string(language) == "Russian" ? UiRussian : UiEnglish;
        EXPECT_EQ(view.calls, (std::vector<std::string>{"Navigate about:blank", "Stop", "WriteHtml " + OfflinePage(ui)}))
            << language;
    }

    // Without a view of its own the window's panel takes the page.
    Form().SetNewsView(nullptr);
    Form().menu("English");
    EXPECT_EQ(Form().NewsPanel.Html(), OfflinePage(UiEnglish));
    OfflineMode = false;
    Form().menu("Ukrainian");
    EXPECT_EQ(Form().NewsPanel.Url(), "http://news.example/cstrike/news/en/");
    EXPECT_EQ(Form().NewsPanel.UserAgent(), Form().NewsPanel.DefaultUserAgent() + UserAgentSuffix());
    EXPECT_TRUE(Form().NewsPanel.Html().empty());
}

TEST_F(MainWindowTest, AFailingTranslationStillLeavesOneEntryChecked) {
    Form().menu("Russian");
    RecordingWebView view;
    view.failNavigation = true;
    Form().SetNewsView(&view);
    CreationFinished = true;
    EXPECT_THROW(Form().menu("Thai"), std::runtime_error);
    EXPECT_EQ(CheckedEntries(), 1);
    EXPECT_TRUE(Form().MainMenu().Checked(SelectLanguage("Thai").entry));
    EXPECT_EQ(LauncherConfig.GameLanguage, "Thai");

    // Through the menu the error goes to the error box and the window stays as it is.
    test::RecordedMessages boxes;
    ::SendMessageW(Form().Handle(), WM_COMMAND, MAKEWPARAM(menu_ids::FirstLanguage, 0), 0);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen().front().text, "navigation refused.");
    EXPECT_TRUE(Form().MainMenu().Checked(0));
    EXPECT_EQ(CheckedEntries(), 1);
    Form().SetNewsView(nullptr);
}

TEST_F(MainWindowTest, ThePointerOverAPictureButtonLightsItUp) {
    TForm1& f = Form();
    f.Show();
    ASSERT_TRUE(test::PumpUntil([&] { return !::GetUpdateRect(f.Handle(), nullptr, FALSE); }, test::kGuiWait))
        << "the window never painted";
    const auto shows = [&](const PictureControl& store) { return f.Image_Settings.Source() == store.Name(); };
    RECT settings{};
    ::GetWindowRect(f.Image_Settings.ControlHandle(), &settings);
    ::SetCursorPos(settings.left + 20, settings.top + 20);
    test::PumpUntil([&] { return shows(f.Image_Settings_Active); }, test::kGuiWait);
    ExpectShows(f.Image_Settings, f.Image_Settings_Active);
    ::SetCursorPos(settings.left - 150, settings.top - 150);
    test::PumpUntil([&] { return shows(f.Image_Settings_Static); }, test::kGuiWait);
    ExpectShows(f.Image_Settings, f.Image_Settings_Static);
}

}  // namespace
}  // namespace orv
