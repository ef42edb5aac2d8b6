#include "launcher/main_window/layout_win.h"

#include "launcher/ui/controls_win.h"
#include "launcher/resources/resource_ids.h"

namespace orv {
namespace {

using K = ControlKind;
using S = PictureStore;
constexpr TextId kNoText = TextId::Count;
constexpr unsigned kButton = ctl::HandCursor;

}  // namespace

// clang-format off
constexpr std::array<ControlLayout, MainControlCount> kMainLayout = {{
    // id                                      name                          kind             left  top  width height options                       colour  text                       picture                          first picture
    {MainControl::wb1,                        "wb1",                        K::WebPanel,        0,    0, 700, 386, 0,                            0,      kNoText,                   0,                               S::None},
    {MainControl::Image_BackgroundMainForm,   "Image_BackgroundMainForm",   K::Picture,         0,  387, 700, 178, 0,                            0,      kNoText,                   ORVANTA_ART_PANEL,               S::None},
    {MainControl::Label_GameName,             "Label_GameName",             K::Label,          23,  391,   0,   0, ctl::AutoSize,                kCream, TextId::LabelGameName,     0,                               S::None},
    {MainControl::ComboBox_GameName,          "ComboBox_GameName",          K::DropDownList,   23,  407, 237,  24, ctl::TabStop,                 0,      kNoText,                   0,                               S::None},
    {MainControl::Label_GameVersion,          "Label_GameVersion",          K::Label,          23,  435,   0,   0, ctl::AutoSize,                kCream, TextId::LabelGameVersion,  0,                               S::None},
    {MainControl::ComboBox_GameVersion,       "ComboBox_GameVersion",       K::DropDownList,   23,  451, 237,  24, ctl::TabStop,                 0,      kNoText,                   0,                               S::None},
    {MainControl::Label_Nickname,             "Label_Nickname",             K::Label,         307,  391,   0,   0, ctl::AutoSize,                kCream, TextId::LabelNickname,     0,                               S::None},
    {MainControl::EditNickname,               "EditNickname",               K::Edit,          307,  409, 131,  24, ctl::TabStop,                 0,      TextId::NicknameInitial,   0,                               S::None},
    {MainControl::Label_Clantag,              "Label_Clantag",              K::Label,         307,  435,   0,   0, ctl::AutoSize,                kCream, TextId::LabelClanTag,      0,                               S::None},
    {MainControl::EditClanTag,                "EditClanTag",                K::Edit,          307,  451, 131,  24, ctl::TabStop,                 0,      TextId::ClanTagInitial,    0,                               S::None},
    {MainControl::Image_Button_ServerBrowser, "Image_Button_ServerBrowser", K::Picture,       458,  407, 152,  52, kButton,                      0,      kNoText,                   0,                               S::Image_Button_ServerBrowser_Static_RU},
    {MainControl::Image_Settings,             "Image_Settings",             K::Picture,       628,  408,  52,  52, kButton | ctl::Stretch,       0,      kNoText,                   0,                               S::Image_Settings_Static},
    // Disabled until the start-up has run far enough to allow a start; it looks it meanwhile.
    {MainControl::Image_Button_Play,          "Image_Button_Play",          K::Picture,       607,  472,  78,  79, kButton | ctl::Disabled,      0,      kNoText,                   0,                               S::Image_Button_Play_Inactive},
    {MainControl::Image_Button_Check,         "Image_Button_Check",         K::Picture,       459,  502, 117,  52, kButton,                      0,      kNoText,                   0,                               S::Image_Button_Check_Static_RU},
    {MainControl::Image_Button_Stop,          "Image_Button_Stop",          K::Picture,       459,  502, 115,  49, kButton | ctl::Hidden | ctl::Disabled, 0, kNoText,              0,                               S::Image_Button_Stop_Static_RU},
    {MainControl::lbl2,                       "lbl2",                       K::Label,          23,  478, 417,  27, 0,                            kWhite, kNoText,                   0,                               S::None},
    {MainControl::Label4,                     "Label4",                     K::Label,          23,  492, 418,  17, 0,                            kWhite, kNoText,                   0,                               S::None},
    // The progress strips: backgrounds, then the fills (the check run sets their widths), then
    // the pictures drawn over the fills.
    {MainControl::Image1,                     "Image1",                     K::Picture,        23,  509, 417,  17, 0,                            0,      kNoText,                   ORVANTA_ART_STRIP_TRACK,         S::None},
    {MainControl::Image2,                     "Image2",                     K::Picture,        23,  531, 417,  17, 0,                            0,      kNoText,                   ORVANTA_ART_STRIP_TRACK,         S::None},
    {MainControl::Image3,                     "Image3",                     K::Picture,        23,  512,   0,  17, 0,                            0,      kNoText,                   ORVANTA_ART_STRIP_FILL_FILE,     S::None},
    {MainControl::Image9,                     "Image9",                     K::Picture,        23,  534,   0,  16, 0,                            0,      kNoText,                   ORVANTA_ART_STRIP_FILL_TOTAL,    S::None},
    {MainControl::Image4,                     "Image4",                     K::Picture,        23,  511, 417,  17, 0,                            0,      kNoText,                   ORVANTA_ART_STRIP_GLOSS_FILE,    S::None},
    {MainControl::Image5,                     "Image5",                     K::Picture,        23,  533, 418,  17, 0,                            0,      kNoText,                   ORVANTA_ART_STRIP_GLOSS_TOTAL,   S::None},
    // The check run's counters, kept outside the visible client area.
    {MainControl::pb1,                        "pb1",                        K::ProgressBar,   726,  541, 525,   9, 0,                            0,      kNoText,                   0,                               S::None},
    {MainControl::pb2,                        "pb2",                        K::ProgressBar,   726,  572, 526,   9, 0,                            0,      kNoText,                   0,                               S::None},
}};

constexpr std::array<StoreLayout, PictureStoreCount> kPictureStores = {{
    {S::Image_Button_Play_Static,             "Image_Button_Play_Static",              78, 80, ORVANTA_ART_PLAY_STATIC},
    {S::Image_Button_Play_Active,             "Image_Button_Play_Active",              75, 76, ORVANTA_ART_PLAY_ACTIVE},
    {S::Image_Button_Play_Inactive,           "Image_Button_Play_Inactive",            83, 81, ORVANTA_ART_PLAY_INACTIVE},
    {S::Image_Button_Check_Static_RU,         "Image_Button_Check_Static_RU",         112, 46, ORVANTA_ART_CHECK_STATIC_RU},
    {S::Image_Button_Check_Active_RU,         "Image_Button_Check_Active_RU",         110, 46, ORVANTA_ART_CHECK_ACTIVE_RU},
    {S::Image_Button_Check_Static_EN,         "Image_Button_Check_Static_EN",         110, 46, ORVANTA_ART_CHECK_STATIC_EN},
    {S::Image_Button_Check_Active_EN,         "Image_Button_Check_Active_EN",         110, 46, ORVANTA_ART_CHECK_ACTIVE_EN},
    {S::Image_Button_Stop_Static_RU,          "Image_Button_Stop_Static_RU",          112, 46, ORVANTA_ART_STOP_STATIC_RU},
    {S::Image_Button_Stop_Active_RU,          "Image_Button_Stop_Active_RU",          111, 46, ORVANTA_ART_STOP_ACTIVE_RU},
    {S::Image_Button_Stop_Static_EN,          "Image_Button_Stop_Static_EN",          109, 46, ORVANTA_ART_STOP_STATIC_EN},
    {S::Image_Button_Stop_Active_EN,          "Image_Button_Stop_Active_EN",          109, 46, ORVANTA_ART_STOP_ACTIVE_EN},
    {S::Image_Button_ServerBrowser_Static_RU, "Image_Button_ServerBrowser_Static_RU", 152, 52, ORVANTA_ART_SERVERS_STATIC_RU},
    {S::Image_Button_ServerBrowser_Active_RU, "Image_Button_ServerBrowser_Active_RU", 152, 52, ORVANTA_ART_SERVERS_ACTIVE_RU},
    {S::Image_Button_ServerBrowser_Static_EN, "Image_Button_ServerBrowser_Static_EN", 152, 52, ORVANTA_ART_SERVERS_STATIC_EN},
    {S::Image_Button_ServerBrowser_Active_EN, "Image_Button_ServerBrowser_Active_EN", 152, 52, ORVANTA_ART_SERVERS_ACTIVE_EN},
    {S::Image_Settings_Static,                "Image_Settings_Static",                 52, 52, ORVANTA_ART_SETTINGS_STATIC},
    {S::Image_Settings_Active,                "Image_Settings_Active",                 52, 52, ORVANTA_ART_SETTINGS_ACTIVE},
}};
// clang-format on

constexpr std::array<MainControl, 7> kMainTabOrder = {
    MainControl::pb1,         MainControl::pb2,          MainControl::wb1,
    MainControl::EditNickname, MainControl::EditClanTag, MainControl::ComboBox_GameName,
    MainControl::ComboBox_GameVersion,
};

namespace {

// Every row sits at its own enumerator's index, so LayoutOf needs no search.
constexpr bool RowsInOrder() {
    for (size_t i = 0; i < kMainLayout.size(); ++i)
        if (static_cast<size_t>(kMainLayout[i].id) != i) return false;
    for (size_t i = 0; i < kPictureStores.size(); ++i)
        if (static_cast<size_t>(kPictureStores[i].id) != i) return false;
    return true;
}
static_assert(RowsInOrder(), "a layout row is out of its enumerator's place");

}  // namespace

}  // namespace orv
