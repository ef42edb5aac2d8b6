#include "launcher/ui/controls_win.h"

#include <commctrl.h>

#include <algorithm>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"

namespace orv {
namespace {

RECT UnionOf(const RECT& a, const RECT& b) {
    RECT result{};
    ::UnionRect(&result, &a, &b);
    return result;
}

// A drop-down list is created with the height of its open list; the closed box takes the
// layout's height through the height of its selection field.
constexpr int kDroppedListHeight = 200;

}  // namespace

// ---- Control

void Control::SetFocus() {
    if (const HWND hwnd = ControlHandle()) ::SetFocus(hwnd);
}

bool Control::Enabled() const {
    const HWND hwnd = ControlHandle();
    return hwnd && ::IsWindowEnabled(hwnd);
}

void Control::SetEnabled(bool enabled) {
    if (const HWND hwnd = ControlHandle()) ::EnableWindow(hwnd, enabled ? TRUE : FALSE);
}

bool Control::Shown() const {
    const HWND hwnd = ControlHandle();
    return hwnd && (::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE);
}

void Control::SetShown(bool shown) {
    const HWND hwnd = ControlHandle();
    if (!hwnd || Shown() == shown) return;
    ::ShowWindow(hwnd, shown ? SW_SHOWNA : SW_HIDE);
    RepaintParentArea(Bounds());
}

RECT Control::Bounds() const {
    RECT r{};
    const HWND hwnd = ControlHandle();
    if (!hwnd) return r;
    ::GetWindowRect(hwnd, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void Control::SetBounds(int left, int top, int width, int height) {
    const HWND hwnd = ControlHandle();
    if (!hwnd) return;
    const RECT before = Bounds();
    const RECT wanted{left, top, left + std::max(width, 0), top + std::max(height, 0)};
    // Progress images are set once per file, mostly to the width they have: moving a window
    // costs a round of region updates even when nothing changes.
    if (::EqualRect(&before, &wanted)) return;
    // The area is repainted below, at the next paint; letting the move erase and copy at once
    // would repaint every control it overlaps there and then.
    ::SetWindowPos(hwnd, nullptr, left, top, std::max(width, 0), std::max(height, 0),
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW | SWP_NOCOPYBITS);
    RepaintParentArea(UnionOf(before, Bounds()));
}

int Control::Width() const {
    const RECT r = Bounds();
    return r.right - r.left;
}

void Control::SetWidth(int width) {
    const RECT r = Bounds();
    SetBounds(r.left, r.top, width, r.bottom - r.top);
}

std::string Control::Text() const { return WindowTextOf(ControlHandle()); }

void Control::SetText(const std::string& text) {
    const HWND hwnd = ControlHandle();
    if (hwnd && !::SetWindowTextW(hwnd, Wide(text).c_str())) RaiseLastPlatformError();
}

void Control::RepaintParentArea(const RECT& area) const {
    const HWND hwnd = ControlHandle();
    const HWND parent = hwnd ? ::GetParent(hwnd) : nullptr;
    if (parent) ::RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// ---- Standard controls

void StdControl::CreateWindowed(const ControlInit& init, const wchar_t* className, DWORD style, DWORD exStyle) {
    style |= WS_CHILD | WS_CLIPSIBLINGS;
    if (!(init.options & ctl::Hidden)) style |= WS_VISIBLE;
    if (init.options & ctl::Disabled) style |= WS_DISABLED;
    if (init.options & ctl::TabStop) style |= WS_TABSTOP;
    const RECT& b = init.bounds;
    const HWND hwnd = ::CreateWindowExW(exStyle, className, Wide(init.text).c_str(), style, b.left, b.top,
                                        b.right - b.left, b.bottom - b.top, init.parent,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(init.id)),
                                        ApplicationInstance(), nullptr);
    if (!hwnd) RaiseLastPlatformError();
    hwnd_ = hwnd;
    SetName(init.name);
    if (init.font) ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(init.font), FALSE);
}

void EditBox::Create(const ControlInit& init) {
    CreateWindowed(init, L"EDIT", ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
}

void DropDownList::Create(const ControlInit& init) {
    ControlInit dropped = init;
    dropped.bounds.bottom = dropped.bounds.top + kDroppedListHeight;
    dropped.text.clear();
    CreateWindowed(dropped, WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL, 0);
    // The closed box's height is its selection field's plus a frame whose size depends on the
    // platform's theme: correct the field until the box has the layout's height.
    const HWND hwnd = ControlHandle();
    const int wanted = init.bounds.bottom - init.bounds.top;
    int field = static_cast<int>(::SendMessageW(hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    for (int pass = 0; pass < 3 && field > 0; ++pass) {
        RECT closed{};
        ::GetWindowRect(hwnd, &closed);
        const int height = closed.bottom - closed.top;
        if (height == wanted) break;
        field += wanted - height;
        if (field <= 0) break;
        ::SendMessageW(hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
}

void DropDownList::Clear() {
    if (const HWND hwnd = ControlHandle()) ::SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
}

void DropDownList::Add(const std::string& item) {
    const HWND hwnd = ControlHandle();
    if (!hwnd) return;
    const std::wstring text = Wide(item);
    const LRESULT added = ::SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (added == CB_ERR || added == CB_ERRSPACE) throw Error("No room for another list item");
}

void DropDownList::SetItems(const std::vector<std::string>& items) {
    Clear();
    for (const std::string& item : items) Add(item);
}

int DropDownList::Count() const {
    const HWND hwnd = ControlHandle();
    return hwnd ? static_cast<int>(::SendMessageW(hwnd, CB_GETCOUNT, 0, 0)) : 0;
}

std::string DropDownList::Item(int index) const {
    const HWND hwnd = ControlHandle();
    if (!hwnd || index < 0 || index >= Count()) return {};
    const LRESULT length = ::SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT n = ::SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n == CB_ERR ? 0 : static_cast<size_t>(n));
    return Narrow(text);
}

int DropDownList::ItemIndex() const {
    const HWND hwnd = ControlHandle();
    return hwnd ? static_cast<int>(::SendMessageW(hwnd, CB_GETCURSEL, 0, 0)) : -1;
}

void DropDownList::SetItemIndex(int index) {
    if (const HWND hwnd = ControlHandle()) ::SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void PushButton::Create(const ControlInit& init) { CreateWindowed(init, L"BUTTON", BS_PUSHBUTTON, 0); }

void CheckBox::Create(const ControlInit& init) {
    // Not an automatic check box: the state changes only through SetChecked, so that every change,
    // the player's and the program's alike, raises the click event exactly once.
    CreateWindowed(init, L"BUTTON", BS_CHECKBOX, 0);
}

bool CheckBox::Checked() const {
    const HWND hwnd = ControlHandle();
    return hwnd && ::SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CheckBox::SetChecked(bool checked) {
    const HWND hwnd = ControlHandle();
    if (!hwnd || Checked() == checked) return;
    ::SendMessageW(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (OnClick) OnClick();
}

void ProgressBar::Create(const ControlInit& init) {
    CreateWindowed(init, PROGRESS_CLASSW, 0, 0);
    ::SendMessageW(ControlHandle(), PBM_SETRANGE32, 0, 100);
}

int ProgressBar::Position() const {
    const HWND hwnd = ControlHandle();
    return hwnd ? static_cast<int>(::SendMessageW(hwnd, PBM_GETPOS, 0, 0)) : 0;
}

void ProgressBar::SetPosition(int position) {
    if (const HWND hwnd = ControlHandle()) ::SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int ProgressBar::Max() const {
    const HWND hwnd = ControlHandle();
    return hwnd ? static_cast<int>(::SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0)) : 0;
}

void ProgressBar::SetMax(int max) {
    if (const HWND hwnd = ControlHandle()) {
        const int low = static_cast<int>(::SendMessageW(hwnd, PBM_GETRANGE, TRUE, 0));
        if (static_cast<int>(::SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0)) == max) return;
        ::SendMessageW(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(low), max);
    }
}

void ProgressBar::SetMarquee(bool on) {
    const HWND hwnd = ControlHandle();
    if (!hwnd || on == IsMarquee()) return;
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    ::SetWindowLongPtrW(hwnd, GWL_STYLE, on ? (style | PBS_MARQUEE) : (style & ~static_cast<LONG_PTR>(PBS_MARQUEE)));
    // Without the message the band does not move; 0 ms is the control's default speed.
    ::SendMessageW(hwnd, PBM_SETMARQUEE, on ? TRUE : FALSE, 0);
}

bool ProgressBar::IsMarquee() const {
    const HWND hwnd = ControlHandle();
    return hwnd && (::GetWindowLongPtrW(hwnd, GWL_STYLE) & PBS_MARQUEE) != 0;
}

// ---- Graphic controls

namespace {

WindowDesc GraphicControlDesc(const wchar_t* className) {
    return WindowDesc{className, WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, "", WindowPosition::AsIs, true};
}

}  // namespace

GraphicControl::GraphicControl(const wchar_t* className) : Window(GraphicControlDesc(className)) {}

void GraphicControl::CreateGraphic(const ControlInit& init) {
    CreateHandle(init.parent);
    const HWND hwnd = Handle();
    if (!hwnd) return;
    SetName(init.name);
    ::SetWindowLongPtrW(hwnd, GWLP_ID, init.id);
    const RECT& b = init.bounds;
    ::SetWindowPos(hwnd, nullptr, b.left, b.top, b.right - b.left, b.bottom - b.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (!init.text.empty()) ::SetWindowTextW(hwnd, Wide(init.text).c_str());
    if (init.options & ctl::Disabled) ::EnableWindow(hwnd, FALSE);
    if (!(init.options & ctl::Hidden)) ::ShowWindow(hwnd, SW_SHOWNA);
}

void GraphicControl::Repaint() const {
    if (HandleAllocated()) RepaintParentArea(Bounds());
}

void GraphicControl::OnPaint(HDC dc, const RECT& client) {
    if (backdrop_) {
        const RECT bounds = Bounds();
        SavedDcState state(dc);
        ::SetViewportOrgEx(dc, -bounds.left, -bounds.top, nullptr);
        backdrop_(dc, bounds, *this);
    } else {
        ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    }
    PaintContent(dc, client);
}

LRESULT GraphicControl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PRINTCLIENT: {
            RECT client{};
            ::GetClientRect(Handle(), &client);
            OnPaint(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        default:
            return Window::HandleMessage(msg, wParam, lParam);
    }
}

// ---- Labels

LabelControl::LabelControl() : GraphicControl(L"Orvanta.Label") {}

LabelControl::~LabelControl() { DestroyHandle(); }

void LabelControl::Create(const ControlInit& init) {
    font_ = init.font;
    colour_ = init.colour;
    autoSize_ = (init.options & ctl::AutoSize) != 0;
    centred_ = (init.options & ctl::Centred) != 0;
    text_ = Wide(init.text);
    ControlInit withoutText = init;
    withoutText.text.clear();
    CreateGraphic(withoutText);
    if (autoSize_) Resize();
}

std::string LabelControl::Text() const { return Narrow(text_); }

LRESULT LabelControl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Readers from outside (a UI driver, accessibility tools) ask the window for its text.
    switch (msg) {
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(text_.size());
        case WM_GETTEXT: {
            if (wParam == 0 || !lParam) return 0;
            const size_t copied = std::min(text_.size(), static_cast<size_t>(wParam) - 1);
            auto* out = reinterpret_cast<wchar_t*>(lParam);
            std::copy_n(text_.data(), copied, out);
            out[copied] = L'\0';
            return static_cast<LRESULT>(copied);
        }
        case WM_PAINT:
            // The text is read by this paint: a change from now on needs a repaint of its own.
            repaintPending_ = false;
            return GraphicControl::HandleMessage(msg, wParam, lParam);
        // A window gives its font to every child: an auto-sized label measures itself again.
        case WM_SETFONT:
            SetTextFont(reinterpret_cast<HFONT>(wParam), LOWORD(lParam) != 0);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_);
        default:
            return GraphicControl::HandleMessage(msg, wParam, lParam);
    }
}

void LabelControl::Resize() {
    const SIZE size = Measure(text_);
    ::SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE LabelControl::Measure(const std::wstring& text) const {
    SIZE size{0, 0};
    // One memory DC for every measurement: a window DC is a new device context each time, which
    // is slow to make (status lines change once per checked file).
    static const ScopedMemoryDc measuring(::CreateCompatibleDC(nullptr));
    const HDC dc = measuring.Get();
    if (!dc) return size;
    const SelectObjectScope font(dc, font_);
    // An empty label keeps the height of a line, as a blank gives it.
    const std::wstring measured = text.empty() ? std::wstring(L" ") : text;
    if (wordWrap_) {
        // A wrapping label keeps its width and grows downwards.
        RECT r{0, 0, Width(), 0};
        ::DrawTextW(dc, measured.c_str(), static_cast<int>(measured.size()), &r, DT_CALCRECT | DrawFormat());
        return SIZE{Width(), r.bottom};
    }
    // One line: the extent of the text in the label's font; no text, no width.
    if (!::GetTextExtentPoint32W(dc, measured.c_str(), static_cast<int>(measured.size()), &size)) return SIZE{0, 0};
    if (text.empty()) size.cx = 0;
    return size;
}

void LabelControl::SetText(const std::string& text) {
    std::wstring wide = Wide(text);
    if (wide == text_) return;
    text_ = std::move(wide);
    Refit();
}

void LabelControl::SetTextFont(HFONT font, bool redraw) {
    if (font == font_) return;
    font_ = font;
    if (!HandleAllocated()) return;
    const RECT before = Bounds();
    if (autoSize_) Resize();
    if (!redraw && !autoSize_) return;
    RECT area{};
    const RECT after = Bounds();
    ::UnionRect(&area, &before, &after);
    RepaintParentArea(area);
}

void LabelControl::Refit() {
    if (!HandleAllocated()) return;
    // A label that keeps its size and whose repaint is already asked for shows the newest text at
    // that repaint; asking again would only be another round trip to the window system.
    if (!autoSize_ && repaintPending_) return;
    const RECT before = Bounds();
    if (autoSize_) Resize();
    RECT area{};
    const RECT after = Bounds();
    ::UnionRect(&area, &before, &after);
    RepaintParentArea(area);
    repaintPending_ = ::IsWindowVisible(Handle()) != FALSE;
}

void LabelControl::PaintContent(HDC dc, const RECT& client) const {
    const std::wstring& text = text_;
    if (text.empty()) return;
    const SavedDcState state(dc);
    const SelectObjectScope font(dc, font_);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colour_);
    RECT r = client;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DrawFormat());
}

UINT LabelControl::DrawFormat() const noexcept {
    // Status lines show file paths: an ampersand in a path is a character, not an accelerator.
    return (wordWrap_ ? DT_WORDBREAK : DT_SINGLELINE) | DT_NOPREFIX | (centred_ ? DT_CENTER : DT_LEFT) | DT_TOP;
}

void LabelControl::SetWordWrap(bool on) {
    if (on == wordWrap_) return;
    wordWrap_ = on;
    Refit();
}

}  // namespace orv
