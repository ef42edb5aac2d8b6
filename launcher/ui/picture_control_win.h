// A picture on a window, optionally used as a button: it shows its picture at its own size from
// the top-left corner (or scaled to the control), reports the pointer entering and leaving it and
// a click, and shows the hand cursor when it acts as a button. A disabled control reports nothing.
#pragma once

#include <functional>
#include <string>

#include "launcher/ui/controls_win.h"
#include "launcher/ui/picture_win.h"

namespace orv {

class PictureControl : public GraphicControl {
public:
    PictureControl();
    ~PictureControl() override;

    void Create(const ControlInit& init) override;

    const Picture& GetPicture() const noexcept { return picture_; }
    // Where the shown picture came from: the name of the control it was copied from, or what
    // SetPicture was told.
    const std::string& Source() const noexcept { return source_; }
    void SetPicture(Picture picture, const std::string& source);
    // Shows a copy of the picture `other` holds.
    void Assign(const PictureControl& other);

    void PaintContent(HDC dc, const RECT& client) const override;

    // Raised on the GUI thread; an error escaping them goes to the application's error box.
    std::function<void()> OnMouseEnter;
    std::function<void()> OnMouseLeave;
    std::function<void()> OnClick;

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void PointerMoved();
    void PointerLeft();

    Picture picture_;
    std::string source_;
    bool stretch_ = false;
    bool handCursor_ = false;
    bool pointerInside_ = false;
    bool pressed_ = false;
};

}  // namespace orv
