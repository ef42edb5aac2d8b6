// The main window's pictures: the artwork loaded into the controls and the hidden stores, the
// picture buttons' clicks, and the hover rule that swaps a button's picture while the pointer is
// over it.
#include <functional>

#include "launcher/base/app_state.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/picture_win.h"

namespace orv {
namespace {

using Member = PictureControl TForm1::*;

// Which of a button's two pictures it takes, if any: the rule differs from button to button and
// between hovering and resting, and every rule is one of these.
enum class PictureChoice {
    ByLanguage,          // the Russian picture for UiLanguage 0, the English one for 1
    EnglishElseRussian,  // the English picture for UiLanguage 1, the Russian one otherwise
    RussianElseEnglish,  // the Russian picture for UiLanguage 0, the English one otherwise
    Always,              // one picture for both languages
    WhileIdle,           // only while StopFlag is 1 (no check or install runs)
};

struct HoverRule {
    Member button;
    Member enterRussian, enterEnglish;  // shown while the pointer is over the button
    Member leaveRussian, leaveEnglish;  // shown when it leaves
    PictureChoice when;
};

constexpr HoverRule kHoverRules[] = {
    {&TForm1::Image_Button_Check, &TForm1::Image_Button_Check_Active_RU, &TForm1::Image_Button_Check_Active_EN,
     &TForm1::Image_Button_Check_Static_RU, &TForm1::Image_Button_Check_Static_EN, PictureChoice::ByLanguage},
    {&TForm1::Image_Button_Stop, &TForm1::Image_Button_Stop_Active_RU, &TForm1::Image_Button_Stop_Active_EN,
     &TForm1::Image_Button_Stop_Static_RU, &TForm1::Image_Button_Stop_Static_EN, PictureChoice::ByLanguage},
    {&TForm1::Image_Button_ServerBrowser, &TForm1::Image_Button_ServerBrowser_Active_RU,
     &TForm1::Image_Button_ServerBrowser_Active_EN, &TForm1::Image_Button_ServerBrowser_Static_RU,
     &TForm1::Image_Button_ServerBrowser_Static_EN, PictureChoice::EnglishElseRussian},
    {&TForm1::Image_Settings, &TForm1::Image_Settings_Active, &TForm1::Image_Settings_Active,
     &TForm1::Image_Settings_Static, &TForm1::Image_Settings_Static, PictureChoice::Always},
    {&TForm1::Image_Button_Play, &TForm1::Image_Button_Play_Active, &TForm1::Image_Button_Play_Active,
     &TForm1::Image_Button_Play_Static, &TForm1::Image_Button_Play_Static, PictureChoice::WhileIdle},
};

// The picture a rule gives now; nullptr when the button keeps the one it shows.
Member Choose(PictureChoice when, Member russian, Member english) {
    switch (when) {
        case PictureChoice::ByLanguage:
            if (UiLanguage == UiRussian) return russian;
            if (UiLanguage == UiEnglish) return english;
            return nullptr;
        case PictureChoice::EnglishElseRussian:
            return UiLanguage == UiEnglish ? english : russian;
        case PictureChoice::RussianElseEnglish:
            return UiLanguage == UiRussian ? russian : english;
        case PictureChoice::Always:
            return russian;
        case PictureChoice::WhileIdle:
            return StopFlag == 1 ? russian : nullptr;
    }
    return nullptr;
}

// The resting pictures that follow the interface language.
struct LanguagePicture {
    Member button;
    Member russian, english;
    PictureChoice when;
};
constexpr LanguagePicture kLanguagePictures[] = {
    {&TForm1::Image_Button_Check, &TForm1::Image_Button_Check_Static_RU, &TForm1::Image_Button_Check_Static_EN,
     PictureChoice::RussianElseEnglish},
    {&TForm1::Image_Button_Stop, &TForm1::Image_Button_Stop_Static_RU, &TForm1::Image_Button_Stop_Static_EN,
     PictureChoice::RussianElseEnglish},
    {&TForm1::Image_Button_ServerBrowser, &TForm1::Image_Button_ServerBrowser_Static_RU,
     &TForm1::Image_Button_ServerBrowser_Static_EN, PictureChoice::RussianElseEnglish},
};

struct ButtonClick {
    Member button;
    std::function<void()> MainWindowEvents::*handler;
};
constexpr ButtonClick kButtonClicks[] = {
    {&TForm1::Image_Button_Play, &MainWindowEvents::Image_Button_PlayClick},
    {&TForm1::Image_Button_Check, &MainWindowEvents::Image_Button_CheckClick},
    {&TForm1::Image_Button_Stop, &MainWindowEvents::Image_Button_StopClick},
    {&TForm1::Image_Button_ServerBrowser, &MainWindowEvents::Image_Button_ServerBrowserClick},
    {&TForm1::Image_Settings, &MainWindowEvents::Image_SettingsClick},
};

}  // namespace

void TForm1::LoadArtwork() {
    PictureDecoder decoder;
    const HMODULE module = ArtworkModule ? ArtworkModule : ApplicationInstance();
    for (const StoreLayout& row : kPictureStores)
        StoreOf(row.id).SetPicture(decoder.DecodeResource(module, row.picture), row.name);
    for (const ControlLayout& row : kMainLayout) {
        if (row.kind != ControlKind::Picture) continue;
        auto* picture = dynamic_cast<PictureControl*>(&ControlOf(row.id));
        if (!picture) continue;
        if (row.picture) picture->SetPicture(decoder.DecodeResource(module, row.picture), row.name);
        if (row.firstPicture != PictureStore::None) picture->Assign(StoreOf(row.firstPicture));
    }
}

void TForm1::WirePictureButtons() {
    for (const HoverRule& rule : kHoverRules) {
        PictureControl& button = this->*rule.button;
        button.OnMouseEnter = [this, &button, &rule] {
            if (const Member picture = Choose(rule.when, rule.enterRussian, rule.enterEnglish))
                button.Assign(this->*picture);
        };
        button.OnMouseLeave = [this, &button, &rule] {
            if (const Member picture = Choose(rule.when, rule.leaveRussian, rule.leaveEnglish))
                button.Assign(this->*picture);
        };
    }
    for (const ButtonClick& click : kButtonClicks) {
        const auto handler = click.handler;
        (this->*click.button).OnClick = [this, handler] {
            if (Events.*handler) (Events.*handler)();
        };
    }
}

void TForm1::ShowLanguagePictures() {
    for (const LanguagePicture& row : kLanguagePictures) {
        if (const Member picture = Choose(row.when, row.russian, row.english))
            (this->*row.button).Assign(this->*picture);
    }
}

}  // namespace orv
