#include "launcher/ui/picture_control_win.h"

#include <windowsx.h>

namespace orv {

PictureControl::PictureControl() : GraphicControl(L"Orvanta.Picture") {}

PictureControl::~PictureControl() { DestroyHandle(); }

void PictureControl::Create(const ControlInit& init) {
    stretch_ = (init.options & ctl::Stretch) != 0;
    handCursor_ = (init.options & ctl::HandCursor) != 0;
    CreateGraphic(init);
}

void PictureControl::SetPicture(Picture picture, const std::string& source) {
    picture_ = std::move(picture);
    source_ = source;
    Repaint();
}

void PictureControl::Assign(const PictureControl& other) { SetPicture(other.GetPicture().Copy(), other.Name()); }

void PictureControl::PaintContent(HDC dc, const RECT& client) const {
    if (stretch_)
        picture_.DrawStretched(dc, client);
    else
        picture_.Draw(dc, 0, 0);
}

void PictureControl::PointerMoved() {
    if (pointerInside_) return;
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = Handle();
    if (!::TrackMouseEvent(&track)) return;
    pointerInside_ = true;
    if (OnMouseEnter) OnMouseEnter();
}

void PictureControl::PointerLeft() {
    if (!pointerInside_) return;
    pointerInside_ = false;
    if (OnMouseLeave) OnMouseLeave();
}

LRESULT PictureControl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SETCURSOR:
            if (handCursor_ && LOWORD(lParam) == HTCLIENT) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE:
            PointerMoved();
            return 0;
        case WM_MOUSELEAVE:
            PointerLeft();
            return 0;
        case WM_LBUTTONDOWN:
            pressed_ = true;
            ::SetCapture(Handle());
            return 0;
        case WM_LBUTTONUP: {
            const bool wasPressed = pressed_;
            pressed_ = false;
            if (::GetCapture() == Handle()) ::ReleaseCapture();
            RECT client{};
            ::GetClientRect(Handle(), &client);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            // A press that is dragged off the picture and released elsewhere is no click.
            if (wasPressed && ::PtInRect(&client, at) && Enabled() && OnClick) OnClick();
            return 0;
        }
        case WM_CAPTURECHANGED:
            pressed_ = false;
            return 0;
        case WM_ENABLE:
            // A control disabled under the pointer gets no leave message from the system.
            if (!wParam) {
                pressed_ = false;
                pointerInside_ = false;
            }
            break;
        default:
            break;
    }
    return GraphicControl::HandleMessage(msg, wParam, lParam);
}

}  // namespace orv
