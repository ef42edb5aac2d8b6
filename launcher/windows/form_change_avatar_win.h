// The avatar window TForm_ChangeAvatar: the player picks a picture file, which is copied byte for
// byte to "platform\avatar.dat" in the game folder for the game's emulator. Created on the first
// opening from the settings window, owned by it, and reused afterwards.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/ui/controls_win.h"
#include "launcher/ui/picture_control_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

// One file type of an open dialog: its label and its patterns ("*.gif;*.jpg").
struct FileTypeFilter {
    const char* label;
    const char* patterns;
};

// The eleven file types of the avatar's dialog, in the order the dialog offers them.
extern const std::vector<FileTypeFilter> AvatarFileTypes;

// The open-picture dialog. Run shows the system's dialog unless a test replaces it: it is given the
// owner window and the file types and returns the chosen path, or nothing when cancelled.
class OpenPictureDialog {
public:
    using Runner = std::function<std::optional<std::string>(HWND owner, const std::vector<FileTypeFilter>& types)>;
    Runner Run;
    // Shows the dialog; true when a file was chosen, which FileName then holds.
    bool Execute(HWND owner);
    const std::string& FileName() const noexcept { return fileName_; }

private:
    std::string fileName_;
};

// The system's open dialog for existing files.
std::optional<std::string> RunSystemOpenDialog(HWND owner, const std::vector<FileTypeFilter>& types);

class TForm_ChangeAvatar : public Window {
public:
    TForm_ChangeAvatar();
    ~TForm_ChangeAvatar() override;

    // Creates the window hidden, owned by `owner` (the settings window). Raises EOSError when the
    // platform refuses the window.
    void Create(HWND owner);

    // Applies the texts of the current interface language.
    void Translate();

    PictureControl Аватарка;          // the preview, the picture scaled to fit
    PushButton ВыбратьАватарку;        // select
    PushButton ЗаписатьАватарку;       // save, shown once a picture was selected
    OpenPictureDialog ДиалогОткрытияАватарки;

    // The path of the last picture loaded through the dialog; empty until then.
    const std::string& ChosenFile() const noexcept { return chosen_; }

    void ВыбратьАватаркуClick();
    void ЗаписатьАватаркуClick();

    // Loads a file into the preview by its content (the stored avatar): an empty file clears the
    // picture; an unknown format clears it and raises Error "Invalid image".
    void LoadByContent(const std::string& path);
    // Loads a file into the preview by its extension. Raises Error "Unknown picture file extension
    // (.ext)" or the decoder's error; the preview then keeps what it showed.
    void LoadByExtension(const std::string& path);

protected:
    void FormCreate();
    void FormShow();

    void OnCreate() override { FormCreate(); }
    void OnShow() override { FormShow(); }
    bool OnCommand(int id, int code, HWND control) override;

private:
    std::string chosen_;
};

// GameFolder + "\platform\avatar.dat".
std::string AvatarFilePath();

}  // namespace orv
