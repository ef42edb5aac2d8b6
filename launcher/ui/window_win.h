// The base of every window of the launcher: class registration, creation with a given client size,
// placement, showing modally with a modal result, double-buffered painting, and one window procedure
// that dispatches to virtual handlers and turns every escaping error into the application's error
// box, so no exception ever unwinds through the system's message dispatch.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/platform/scoped_win.h"

namespace orv {

// A window's text (a caption, a control's text) in UTF-8; empty for no window.
std::string WindowTextOf(HWND hwnd);

// Modal results, in the values the forms exchange (13 is a form-defined result).
namespace mr {
inline constexpr int None = 0;
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
}  // namespace mr

// Where a window is put each time it is shown.
enum class WindowPosition {
    AsIs,          // wherever it is
    ScreenCenter,  // centred in the work area of its monitor
    OwnerCenter,   // centred over its owner window, kept inside the work area
    MainCenter,    // centred over the main window whoever owns it, kept inside the work area
};

// What closing a window (close box, Alt+F4, Close()) does.
enum class CloseAction {
    None,     // stays as it is
    Hide,     // hidden and kept for the next opening; a modal window returns mr::Cancel
    Destroy,  // the window handle is destroyed
};

// The fixed description of one kind of window.
struct WindowDesc {
    const wchar_t* className;  // registered once per process
    DWORD style;
    DWORD exStyle;
    int clientWidth;
    int clientHeight;
    const char* caption;  // UTF-8
    WindowPosition position;
    bool doubleBuffered;
};

class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // Destroys a handle that still exists without calling back into the object: derived windows
    // destroy their handle in their own destructor (DestroyHandle) while they are still whole.
    virtual ~Window();

    HWND Handle() const noexcept { return handle_.Get(); }
    bool HandleAllocated() const noexcept { return handle_.Valid(); }
    // The object behind a handle created by this base, or nullptr.
    static Window* FromHandle(HWND hwnd) noexcept;

    // Places the window (its WindowPosition), runs OnShow and makes it visible. Nothing happens
    // when it is visible already.
    void Show();
    void Hide();
    bool Visible() const noexcept;
    // As the close box does: asks OnClose what to do.
    void Close();
    // Shows the window disabling its owner and runs a message loop until a modal result is set or
    // the window is closed or hidden; hides it again and returns the result. Meanwhile the message
    // boxes meant for the main window, or for a modal window below this one, are owned by this one.
    int ShowModal();
    void SetModalResult(int result) noexcept { modalResult_ = result; }
    int ModalResult() const noexcept { return modalResult_; }
    bool Modal() const noexcept { return inModalLoop_; }

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    SIZE ClientSize() const;
    // Resizes the frame so that the client area gets exactly this size (whatever the border, caption
    // and menu bar take).
    void SetClientSize(int width, int height);
    void CenterOnScreen();
    void CenterOver(HWND other);

    // The font of the window and its controls.
    HFONT Font() const noexcept;
    // Creates the font (point size at the screen's resolution) and gives it to every child.
    void SetFont(const wchar_t* face, int points);
    // The same with the character height in pixels (LOGFONT's negative lfHeight), whatever the
    // screen's resolution.
    void SetFontHeight(const wchar_t* face, int height);

    // Called by the message loops before a message is dispatched to this window or one of its
    // controls; true when it was handled. The default gives keyboard navigation between controls.
    virtual bool PreTranslateMessage(MSG& msg);

protected:
    explicit Window(const WindowDesc& desc) : desc_(desc) {}

    // Registers the class when needed, creates the window hidden with the described client size, and
    // runs OnCreate (an error there is shown in the error box; the window stays). Raises EOSError
    // when the platform refuses the window.
    void CreateHandle(HWND owner = nullptr);
    // Destroys the window now, running OnDestroy.
    void DestroyHandle() noexcept;

    // Handlers. Errors escaping them end the current message with the application's error box.
    virtual void OnCreate() {}
    virtual void OnShow() {}
    virtual void OnActivate() {}
    virtual CloseAction OnClose() { return CloseAction::Hide; }
    virtual void OnDestroy() {}
    // Paints the client area; with double buffering `dc` is a memory bitmap of the client size.
    virtual void OnPaint(HDC dc, const RECT& client);
    // WM_COMMAND from a control or menu; true when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    // Every message; derived windows handle their own and pass the rest on to this.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    const WindowDesc& Desc() const noexcept { return desc_; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Paint();
    void ApplyPosition();

    WindowDesc desc_;
    ScopedWindow handle_;
    ScopedFont font_;
    int modalResult_ = mr::None;
    bool inModalLoop_ = false;
};

}  // namespace orv
