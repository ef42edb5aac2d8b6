#include "launcher/windows/form_change_avatar_win.h"

#include <commdlg.h>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/platform/files.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/ui_font_win.h"
#include "launcher/windows/avatar_picture_win.h"
#include "launcher/windows/picture_format.h"

namespace orv {

const std::vector<FileTypeFilter> AvatarFileTypes = {
    {"All (*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;*.emf;*.wmf)",
     "*.dat;*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;*.emf;*.wmf"},
    {"GIF Image (*.gif)", "*.gif"},
    {"JPEG Image File (*.jpg)", "*.jpg"},
    {"JPEG Image File (*.jpeg)", "*.jpeg"},
    {"Portable Network Graphics (*.png)", "*.png"},
    {"Bitmaps (*.bmp)", "*.bmp"},
    {"TIFF Images (*.tif)", "*.tif"},
    {"TIFF Images (*.tiff)", "*.tiff"},
    {"Icons (*.ico)", "*.ico"},
    {"Enhanced Metafiles (*.emf)", "*.emf"},
    {"Metafiles (*.wmf)", "*.wmf"},
};

namespace {

// A fixed tool-window border; the caption is the Russian one until Translate runs. Owned by the
// settings window, it opens centred over the main window all the same.
WindowDesc AvatarWindow() {
    return WindowDesc{
        L"TForm_ChangeAvatar",
        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
        WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME,
        269,
        160,
        TextIn(TextId::AvatarCaption, UiRussian),
        WindowPosition::MainCenter,
        false,
    };
}

constexpr int kSelectId = 100;
constexpr int kSaveId = 101;
constexpr int kPreviewId = 102;
constexpr int kPreviewSize = 64;

std::string FileBytes(const std::string& path) { return ReadFileBytes(path); }

}  // namespace

std::string AvatarFilePath() { return GameFolder + "\\platform\\avatar.dat"; }

std::optional<std::string> RunSystemOpenDialog(HWND owner, const std::vector<FileTypeFilter>& types) {
    std::wstring filter;
    for (const FileTypeFilter& type : types) {
        filter += Wide(type.label);
        filter.push_back(L'\0');
        filter += Wide(type.patterns);
        filter.push_back(L'\0');
    }
    filter.push_back(L'\0');
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!::GetOpenFileNameW(&ofn)) {
        const DWORD code = ::CommDlgExtendedError();
        if (code != 0) throw Error("The file dialog failed (error " + std::to_string(code) + ")");
        return std::nullopt;
    }
    return Narrow(file.c_str());
}

bool OpenPictureDialog::Execute(HWND owner) {
    const std::optional<std::string> chosen = Run ? Run(owner, AvatarFileTypes) : RunSystemOpenDialog(owner, AvatarFileTypes);
    if (!chosen) return false;
    fileName_ = *chosen;
    return true;
}

TForm_ChangeAvatar::TForm_ChangeAvatar() : Window(AvatarWindow()) {}

TForm_ChangeAvatar::~TForm_ChangeAvatar() { DestroyHandle(); }

void TForm_ChangeAvatar::Create(HWND owner) { CreateHandle(owner); }

void TForm_ChangeAvatar::FormCreate() {
    ApplyUiFont(*this);
    const struct {
        Control* control;
        const char* name;
        int id;
        RECT bounds;
        unsigned options;
    } rows[] = {
        {&Аватарка, "Аватарка", kPreviewId, {32, 32, 32 + kPreviewSize, 32 + kPreviewSize}, 0},
        {&ВыбратьАватарку, "ВыбратьАватарку", kSelectId, {110, 32, 110 + 129, 32 + 25}, ctl::TabStop},
        {&ЗаписатьАватарку, "ЗаписатьАватарку", kSaveId, {110, 71, 110 + 129, 71 + 25}, ctl::TabStop | ctl::Hidden},
    };
    for (const auto& row : rows) {
        ControlInit init;
        init.parent = Handle();
        init.id = row.id;
        init.name = row.name;
        init.bounds = row.bounds;
        init.options = row.options;
        init.font = Font();
        row.control->Create(init);
    }
    Translate();
    const std::string platform = GameFolder + "\\platform";
    if (!DirectoryExists(platform)) CreateDirectories(platform);
    // A stored avatar that cannot be shown is reported; the window opens all the same, empty.
    if (FileExists(AvatarFilePath())) RunGuarded([this] { LoadByContent(AvatarFilePath()); });
}

void TForm_ChangeAvatar::FormShow() { Translate(); }

void TForm_ChangeAvatar::Translate() {
    if (UiLanguage != UiRussian && UiLanguage != UiEnglish) return;
    SetCaption(Tr(TextId::AvatarCaption));
    ВыбратьАватарку.SetText(Tr(TextId::AvatarSelect));
    ЗаписатьАватарку.SetText(Tr(TextId::AvatarSave));
}

void TForm_ChangeAvatar::LoadByContent(const std::string& path) {
    const std::string bytes = FileBytes(path);
    if (bytes.empty()) {
        Аватарка.SetPicture(Picture(), "");
        return;
    }
    const std::optional<PictureFormat> format = PictureFormatOfContent(bytes);
    if (!format) {
        Аватарка.SetPicture(Picture(), "");
        throw Error(Tr(TextId::InvalidImage));
    }
    Аватарка.SetPicture(DecodePicture(bytes, *format, kPreviewSize, kPreviewSize), path);
}

void TForm_ChangeAvatar::LoadByExtension(const std::string& path) {
    const std::string extension(ExtensionOf(path));
    const std::optional<PictureFormat> format = PictureFormatOfExtension(extension);
    if (!format) throw Error(FormatText(Tr(TextId::UnknownPictureExtension), extension));
    Аватарка.SetPicture(DecodePicture(FileBytes(path), *format, kPreviewSize, kPreviewSize), path);
}

void TForm_ChangeAvatar::ВыбратьАватаркуClick() {
    MessageRequest advice;
    advice.text = Tr(TextId::AvatarSizeAdvice);
    advice.caption = Tr(TextId::AvatarSizeAdviceCaption);
    advice.flags = mb::Ok;
    advice.owner = Handle();
    ShowMessageBox(advice);
    if (!ДиалогОткрытияАватарки.Execute(Handle())) return;
    const std::string path = ДиалогОткрытияАватарки.FileName();
    LoadByExtension(path);
    chosen_ = path;
    ЗаписатьАватарку.SetShown(true);
}

void TForm_ChangeAvatar::ЗаписатьАватаркуClick() {
    if (::CopyFileW(Wide(chosen_).c_str(), Wide(AvatarFilePath()).c_str(), FALSE)) {
        ShowMessage(Tr(TextId::AvatarCopied));
    } else {
        const DWORD code = ::GetLastError();
        ShowMessage(Tr(TextId::AvatarCopyFailed) + std::to_string(code));
    }
    SetModalResult(mr::Ok);
    if (!Modal()) Hide();
}

bool TForm_ChangeAvatar::OnCommand(int id, int code, HWND control) {
    if (!control || code != BN_CLICKED) return false;
    if (id == kSelectId) {
        ВыбратьАватаркуClick();
        return true;
    }
    if (id == kSaveId) {
        ЗаписатьАватаркуClick();
        return true;
    }
    return false;
}

}  // namespace orv
