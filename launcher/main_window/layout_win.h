// The main window's layout as data: every control with its kind, place, size and initial state,
// the hidden picture stores the buttons take their pictures from, the tab order, and the order in
// which overlapping controls lie on each other.
#pragma once

#include <windows.h>

#include <array>

#include "launcher/base/texts.h"

namespace orv {

// The visible controls, in the layout's order (which is also their stacking order, bottom first).
enum class MainControl : int {
    wb1,
    Image_BackgroundMainForm,
    Label_GameName,
    ComboBox_GameName,
    Label_GameVersion,
    ComboBox_GameVersion,
    Label_Nickname,
    EditNickname,
    Label_Clantag,
    EditClanTag,
    Image_Button_ServerBrowser,
    Image_Settings,
    Image_Button_Play,
    Image_Button_Check,
    Image_Button_Stop,
    lbl2,
    Label4,
    Image1,
    Image2,
    Image3,
    Image9,
    Image4,
    Image5,
    pb1,
    pb2,
    Count
};
inline constexpr int MainControlCount = static_cast<int>(MainControl::Count);

// The hidden controls that hold the buttons' pictures.
enum class PictureStore : int {
    None = -1,
    Image_Button_Play_Static,
    Image_Button_Play_Active,
    Image_Button_Play_Inactive,
    Image_Button_Check_Static_RU,
    Image_Button_Check_Active_RU,
    Image_Button_Check_Static_EN,
    Image_Button_Check_Active_EN,
    Image_Button_Stop_Static_RU,
    Image_Button_Stop_Active_RU,
    Image_Button_Stop_Static_EN,
    Image_Button_Stop_Active_EN,
    Image_Button_ServerBrowser_Static_RU,
    Image_Button_ServerBrowser_Active_RU,
    Image_Button_ServerBrowser_Static_EN,
    Image_Button_ServerBrowser_Active_EN,
    Image_Settings_Static,
    Image_Settings_Active,
    Count
};
inline constexpr int PictureStoreCount = static_cast<int>(PictureStore::Count);

enum class ControlKind { WebPanel, Picture, Label, DropDownList, Edit, ProgressBar };

// Text colours of the labels.
inline constexpr COLORREF kCream = RGB(255, 251, 240);
inline constexpr COLORREF kWhite = RGB(255, 255, 255);

struct ControlLayout {
    MainControl id;
    const char* name;
    ControlKind kind;
    int left, top, width, height;  // client coordinates; labels sized to their text give 0, 0
    unsigned options;              // ctl:: flags
    COLORREF colour;               // labels' text colour
    TextId text;                   // initial text; TextId::Count for none
    int picture;                   // resource id of the control's own picture; 0 for none
    PictureStore firstPicture;     // or the store whose picture it shows first
};

struct StoreLayout {
    PictureStore id;
    const char* name;
    int width, height;  // the size of the picture it holds
    int picture;        // resource id
};

extern const std::array<ControlLayout, MainControlCount> kMainLayout;
extern const std::array<StoreLayout, PictureStoreCount> kPictureStores;

// The windowed controls in tab order.
extern const std::array<MainControl, 7> kMainTabOrder;

// Where the hidden stores begin: to the right of the visible client area (700 pixels wide).
inline constexpr int kStoresLeft = 720;

inline const ControlLayout& LayoutOf(MainControl id) { return kMainLayout[static_cast<size_t>(id)]; }
inline const StoreLayout& LayoutOf(PictureStore id) { return kPictureStores[static_cast<size_t>(id)]; }

}  // namespace orv
