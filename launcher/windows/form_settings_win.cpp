#include "launcher/windows/form_settings_win.h"

#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/folder_cleaner.h"
#include "launcher/net/download_win.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/ui/ui_font_win.h"
#include "launcher/windows/form_change_avatar_win.h"

namespace orv {

TForm_Settings* Form_Settings = nullptr;

const char* const CompetitiveRankNames[18] = {
    "Silver I",          "Silver II",          "Silver III",
    "Silver IV",         "Silver Elite",       "Silver Elite Master",
    "Gold Nova I",       "Gold Nova II",       "Gold Nova III",
    "Gold Nova Master",  "Master Guardian I",  "Master Guardian II",
    "Master Guardian Elite", "Distinguished Master Guardian", "Legendary Eagle",
    "Legendary Eagle Master", "Supreme Master First Class", "Global Elite",
};

const char* const PrivateRankNames[40] = {
    "Recrut Rank 1",           "Private Rank 2",          "Private Rank 3",          "Private Rank 4",
    "Corporal Rank 5",         "Corporal Rank 6",         "Corporal Rank 7",         "Corporal Rank 8",
    "Sergeant Rank 9",         "Sergeant Rank 10",        "Sergeant Rank 11",        "Sergeant Rank 12",
    "Master Sergeant Rank 13", "Master Sergeant Rank 14", "Master Sergeant Rank 15", "Master Sergeant Rank 16",
    "Sergeant Major Rank 17",  "Sergeant Major Rank 18",  "Sergeant Major Rank 19",  "Sergeant Major Rank 20",
    "Lieutenant Rank 21",      "Lieutenant Rank 22",      "Lieutenant Rank 23",      "Lieutenant Rank 24",
    "Capitan Rank 25",         "Capitan Rank 26",         "Capitan Rank 27",         "Capitan Rank 28",
    "Major Rank 29",           "Major Rank 30",           "Major Rank 31",           "Major Rank 32",
    "Colonel Rank 33",         "Colonel Rank 34",         "Colonel Rank 35",         "Brigadier General Rank 36",
    "Major General Rank 37",   "Lieutenant General Rank 38", "General Rank 39",      "Global General Rank 40",
};

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

constexpr const char* kDefaultRunOptions = "-console -novid";

// Control ids: the layout's row index from here on.
enum Row : int {
    kChangeAvatar,
    kCleanGameFolder,
    kRunOptionsLabel,
    kRunOptions,
    kRestoreRunOptions,
    kNotification,
    kCompetitiveRankLabel,
    kCompetitiveRank,
    kPrivateRankLabel,
    kPrivateRank,
    kRowCount
};
constexpr int kFirstControlId = 100;

struct SettingsRow {
    const char* name;
    int left, top, width, height;
    unsigned options;
    const char* text;
};

constexpr unsigned kHiddenOff = ctl::Hidden | ctl::Disabled;

// The labels are sized to their text (0, 0 here): the run options' caption carries the whole
// game command prefix, which no fixed width holds in both languages.
// clang-format off
constexpr SettingsRow kLayout[kRowCount] = {
    {"Button_ChangeAvatar",                         36,  40, 160, 35, ctl::HandCursor,            ""},
    {"Button_CleanGameFolder",                     219,  40, 160, 35, ctl::HandCursor,            ""},
    {"Label_RunOptions",                            38,  99,   0,  0, ctl::AutoSize,              ""},
    {"Edit_RunOptions",                             38, 118, 309, 21, ctl::TabStop,               ""},
    {"Button_RestoreRunOptions",                   353, 117,  25, 23, ctl::HandCursor,            "D"},
    {"CheckBox_GlobalShowNewVersionNotification",  38, 155, 214, 14, ctl::TabStop,               ""},
    {"Label_ChangeCompetitiveRank",                 44, -17,   0,  0, kHiddenOff | ctl::AutoSize, ""},
    {"ComboBox_CompetitiveRankLevel",               44,   2, 170, 21, kHiddenOff,                 ""},
    {"Label_ChangePrivateRank",                    251, -18,   0,  0, kHiddenOff | ctl::AutoSize, ""},
    {"ComboBox_PrivateRank",                       251,   2, 170, 21, kHiddenOff,                 ""},
};
// clang-format on

// A stored rank v selects item v - 1; a value outside the list leaves the list without a selection.
void SelectRank(DropDownList& list, int value) {
    const int index = value - 1;
    list.SetItemIndex(index >= 0 && index < list.Count() ? index : -1);
}

}  // namespace

TForm_Settings::TForm_Settings() : Window(SettingsWindow()) {
    Form_Settings = this;
    CheckBox_GlobalShowNewVersionNotification.OnClick = [this] { CheckBox_GlobalShowNewVersionNotificationClick(); };
}

TForm_Settings::~TForm_Settings() {
    // The avatar window is owned by this one: it goes first, while its owner still exists.
    avatar_.reset();
    DestroyHandle();
    if (Form_Settings == this) Form_Settings = nullptr;
}

void TForm_Settings::Create(HWND owner) {
    CreateHandle(owner);
    translate();
}

void TForm_Settings::CreateControls() {
    ApplyUiFont(*this);
    Control* const controls[kRowCount] = {
        &Button_ChangeAvatar,         &Button_CleanGameFolder,        &Label_RunOptions,
        &Edit_RunOptions,             &Button_RestoreRunOptions,      &CheckBox_GlobalShowNewVersionNotification,
        &Label_ChangeCompetitiveRank, &ComboBox_CompetitiveRankLevel, &Label_ChangePrivateRank,
        &ComboBox_PrivateRank,
    };
    for (int row = 0; row < kRowCount; ++row) {
        const SettingsRow& r = kLayout[row];
        ControlInit init;
        init.parent = Handle();
        init.id = kFirstControlId + row;
        init.name = r.name;
        init.bounds = RECT{r.left, r.top, r.left + r.width, r.top + r.height};
        init.options = r.options;
        init.text = r.text;
        init.font = Font();
        init.colour = ::GetSysColor(COLOR_WINDOWTEXT);
        controls[row]->Create(init);
    }
    for (const char* name : CompetitiveRankNames) ComboBox_CompetitiveRankLevel.Add(name);
    for (const char* name : PrivateRankNames) ComboBox_PrivateRank.Add(name);
    hints_.Create(Handle());
}

void TForm_Settings::translate() {
    // Another language value changes no text; the offline rule holds whatever the language.
    if (UiLanguage == UiRussian || UiLanguage == UiEnglish) {
        SetCaption(Tr(TextId::SettingsCaption));
        Label_ChangePrivateRank.SetText(Tr(TextId::SettingsPrivateRank));
        Label_ChangeCompetitiveRank.SetText(Tr(TextId::SettingsCompetitiveRank));
        Button_ChangeAvatar.SetText(Tr(TextId::SettingsChangeAvatar));
        Button_CleanGameFolder.SetText(Tr(TextId::SettingsRepairGame));
        Label_RunOptions.SetText(FormatText(Tr(TextId::SettingsRunOptions), GameCommandPrefix));
        hints_.SetHint(Button_RestoreRunOptions, Tr(TextId::SettingsRestoreRunOptionsHint));
        CheckBox_GlobalShowNewVersionNotification.SetText(Tr(TextId::SettingsNotifyNewVersion));
    }
    if (OfflineMode) Button_CleanGameFolder.SetEnabled(false);
}

void TForm_Settings::FormCreate() { CreateControls(); }

void TForm_Settings::FormShow() {
    translate();
    SelectRank(ComboBox_CompetitiveRankLevel, LauncherConfig.GameRankLevel);
    SelectRank(ComboBox_PrivateRank, LauncherConfig.GamePrivatRank);
    Edit_RunOptions.SetText(LauncherConfig.GameProcName);
}

void TForm_Settings::FormActivate() {
    CheckBox_GlobalShowNewVersionNotification.SetChecked(LauncherConfig.GlobalShowNewVersionNotification);
    armed_ = true;
}

void TForm_Settings::CheckBox_GlobalShowNewVersionNotificationClick() {
    // The first event comes from the first activation's programmatic change: it only arms the box.
    if (!armed_) {
        armed_ = true;
        return;
    }
    const bool notify = !LauncherConfig.GlobalShowNewVersionNotification;
    LauncherConfig.GlobalShowNewVersionNotification = notify;
    CheckBox_GlobalShowNewVersionNotification.SetChecked(notify);
}

void TForm_Settings::Edit_RunOptionsChange() { LauncherConfig.GameProcName = Edit_RunOptions.Text(); }

void TForm_Settings::Button_RestoreRunOptionsClick() { Edit_RunOptions.SetText(kDefaultRunOptions); }

void TForm_Settings::ComboBox_CompetitiveRankChange() {
    LauncherConfig.GameRankLevel = ComboBox_CompetitiveRankLevel.ItemIndex() + 1;
}

void TForm_Settings::ComboBox_PrivateRankChange() { LauncherConfig.GamePrivatRank = ComboBox_PrivateRank.ItemIndex() + 1; }

void TForm_Settings::Button_ChangeAvatarClick() {
    if (!avatar_) {
        auto avatar = std::make_unique<TForm_ChangeAvatar>();
        avatar->Create(Handle());
        avatar_ = std::move(avatar);
    }
    avatar_->ShowModal();
}

void TForm_Settings::Button_CleanGameFolderClick() {
    CleanerServices services;
    services.download = &DownloadDocument;
    services.ansiToUtf8 = SystemAnsiCodec().toUtf8;
    if (!CleanGameFolder(GameFolder, KeepListUrl(ServerBase), services)) return;
    SetModalResult(CleanerDoneResult);
    if (!Modal()) Hide();
}

bool TForm_Settings::OnCommand(int id, int code, HWND control) {
    if (!control) return false;
    switch (id - kFirstControlId) {
        case kChangeAvatar:
            if (code != BN_CLICKED) return false;
            Button_ChangeAvatarClick();
            return true;
        case kCleanGameFolder:
            if (code != BN_CLICKED) return false;
            Button_CleanGameFolderClick();
            return true;
        case kRunOptions:
            if (code != EN_CHANGE) return false;
            Edit_RunOptionsChange();
            return true;
        case kRestoreRunOptions:
            if (code != BN_CLICKED) return false;
            Button_RestoreRunOptionsClick();
            return true;
        case kNotification:
            if (code != BN_CLICKED) return false;
            CheckBox_GlobalShowNewVersionNotification.Toggle();
            return true;
        case kCompetitiveRank:
            if (code != CBN_SELCHANGE) return false;
            ComboBox_CompetitiveRankChange();
            return true;
        case kPrivateRank:
            if (code != CBN_SELCHANGE) return false;
            ComboBox_PrivateRankChange();
            return true;
        default:
            return false;
    }
}

LRESULT TForm_Settings::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETCURSOR && LOWORD(lParam) == HTCLIENT) {
        const HWND under = reinterpret_cast<HWND>(wParam);
        for (const Control* button : {&Button_ChangeAvatar, &Button_CleanGameFolder, &Button_RestoreRunOptions}) {
            if (under && under == button->ControlHandle()) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
        }
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

}  // namespace orv
