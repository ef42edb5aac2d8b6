// The child controls the launcher's windows are built from: standard controls (edit boxes,
// drop-down lists, progress bars) and graphic controls that paint themselves over what lies below
// them (labels, pictures), so that texts and pictures with transparent parts sit on the window's
// artwork as they would on a canvas. A window owns its children: the system destroys them with it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/ui/window_win.h"

namespace orv {

// Options of a control as its window's layout gives them.
namespace ctl {
inline constexpr unsigned Hidden = 1u << 0;
inline constexpr unsigned Disabled = 1u << 1;
inline constexpr unsigned HandCursor = 1u << 2;  // pictures used as buttons
inline constexpr unsigned Stretch = 1u << 3;     // pictures scaled to the control
inline constexpr unsigned AutoSize = 1u << 4;    // labels sized to their text
inline constexpr unsigned TabStop = 1u << 5;
inline constexpr unsigned Centred = 1u << 6;   // label text centred in the label
}  // namespace ctl

// How one control is made.
struct ControlInit {
    HWND parent = nullptr;
    int id = 0;              // the control id WM_COMMAND reports
    std::string name;        // the layout's name, for tests and diagnostics
    RECT bounds{};           // in the parent's client coordinates
    unsigned options = 0;    // ctl:: flags
    std::string text;        // initial text (UTF-8)
    HFONT font = nullptr;    // not owned; lives as long as the parent
    COLORREF colour = 0;     // text colour of labels
};

// What every control offers, whatever its window class.
class Control {
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    virtual HWND ControlHandle() const noexcept = 0;
    // Creates the control as a child of init.parent. Raises EOSError when the platform refuses it.
    virtual void Create(const ControlInit& init) = 0;

    const std::string& Name() const noexcept { return name_; }
    bool Exists() const noexcept { return ControlHandle() != nullptr; }

    bool Enabled() const;
    void SetEnabled(bool enabled);
    // The control's own visibility flag (shown even while its window is still hidden).
    bool Shown() const;
    void SetShown(bool shown);
    // Gives the control the keyboard focus.
    void SetFocus();

    // Position and size in the parent's client coordinates.
    RECT Bounds() const;
    void SetBounds(int left, int top, int width, int height);
    int Width() const;
    void SetWidth(int width);

    virtual std::string Text() const;
    virtual void SetText(const std::string& text);

protected:
    Control() = default;
    ~Control() = default;
    void SetName(const std::string& name) { name_ = name; }
    // Repaints `area` of the parent and of every control over it: controls may overlap.
    void RepaintParentArea(const RECT& area) const;

private:
    std::string name_;
};

// A control of a system window class. The handle is not owned: the parent destroys it.
class StdControl : public Control {
public:
    HWND ControlHandle() const noexcept override { return ::IsWindow(hwnd_) ? hwnd_ : nullptr; }

protected:
    StdControl() = default;
    ~StdControl() = default;
    void CreateWindowed(const ControlInit& init, const wchar_t* className, DWORD style, DWORD exStyle);

private:
    HWND hwnd_ = nullptr;
};

class EditBox final : public StdControl {
public:
    EditBox() = default;
    void Create(const ControlInit& init) override;
};

// A list the player picks from; the text cannot be typed.
class DropDownList final : public StdControl {
public:
    DropDownList() = default;
    void Create(const ControlInit& init) override;

    void Clear();
    void Add(const std::string& item);
    void SetItems(const std::vector<std::string>& items);
    int Count() const;
    std::string Item(int index) const;
    // -1 when nothing is selected.
    int ItemIndex() const;
    void SetItemIndex(int index);
};

// A push button; its clicks reach the parent as BN_CLICKED.
class PushButton final : public StdControl {
public:
    PushButton() = default;
    void Create(const ControlInit& init) override;
};

// A check box. Its click event comes both when the player toggles it and when the program changes
// its state; setting the state it already has raises nothing.
class CheckBox final : public StdControl {
public:
    CheckBox() = default;
    void Create(const ControlInit& init) override;

    bool Checked() const;
    void SetChecked(bool checked);
    // What a click of the player does: the state flips (the parent routes BN_CLICKED here).
    void Toggle() { SetChecked(!Checked()); }

    // Raised on the GUI thread after every change of state.
    std::function<void()> OnClick;
};

class ProgressBar final : public StdControl {
public:
    ProgressBar() = default;
    void Create(const ControlInit& init) override;

    int Position() const;
    void SetPosition(int position);
    int Max() const;
    void SetMax(int max);
    // A running band instead of the position, for a transfer of unknown size.
    void SetMarquee(bool on);
    bool IsMarquee() const;
};

class GraphicControl;
// Paints what lies under `above` inside `area`; the DC is in the parent's client coordinates.
using Backdrop = std::function<void(HDC dc, const RECT& area, const GraphicControl& above)>;

// A control that paints itself: first what lies below it (the backdrop its window provides),
// then its own content.
class GraphicControl : public Window, public Control {
public:
    HWND ControlHandle() const noexcept override { return Handle(); }
    void SetBackdrop(Backdrop backdrop) { backdrop_ = std::move(backdrop); }
    // Paints the content alone, with the control's top-left corner at the DC's origin.
    virtual void PaintContent(HDC dc, const RECT& client) const = 0;
    // Repaints the control and whatever overlaps it.
    void Repaint() const;

protected:
    explicit GraphicControl(const wchar_t* className);
    ~GraphicControl() override = default;
    // Creates the window for init (position, visibility, enabled state, name).
    void CreateGraphic(const ControlInit& init);

    void OnPaint(HDC dc, const RECT& client) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    Backdrop backdrop_;
};

// A line of text on the window's artwork, drawn transparently.
class LabelControl : public GraphicControl {
public:
    LabelControl();
    ~LabelControl() override;
    void Create(const ControlInit& init) override;
    std::string Text() const override;
    void SetText(const std::string& text) override;
    // The font the text is drawn (and an auto-sized label measured) in; nullptr: the system font.
    // WM_SETFONT sets it too, WM_GETFONT reads it.
    HFONT TextFont() const noexcept { return font_; }
    void SetTextFont(HFONT font, bool redraw = true);
    // Off: one line, cut at the label's edge. On: the text breaks between words onto further lines
    // within the label's width (the console client's long output lines).
    void SetWordWrap(bool on);
    bool WordWrap() const noexcept { return wordWrap_; }
    COLORREF Colour() const noexcept { return colour_; }
    void PaintContent(HDC dc, const RECT& client) const override;

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    // An auto-sized label's size for `text`: one line measured with GetTextExtentPoint32W in the
    // label's font; a wrapping label keeps its width and takes the height of its lines.
    SIZE Measure(const std::wstring& text) const;
    UINT DrawFormat() const noexcept;
    // Sizes an auto-sized label to its text, again whenever its text or font changes.
    void Resize();
    // After a change of text or wrapping: new size, and the area it covered and covers repainted.
    void Refit();

    // The text lives here rather than in the window: a status line changes several times per
    // checked file, and every window text is a round trip to the window server under Wine.
    std::wstring text_;
    HFONT font_ = nullptr;
    COLORREF colour_ = 0;
    bool autoSize_ = false;
    bool wordWrap_ = false;
    bool centred_ = false;
    // Asked for and not yet painted.
    bool repaintPending_ = false;
};

}  // namespace orv
