#include "launcher/ui/window_win.h"

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <unordered_map>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/resources/resource_ids.h"
#include "launcher/ui/message_loop_win.h"

namespace orv {
namespace {

// Links a window handle to its object: a table of our own rather than GWLP_USERDATA, so that a
// handle of some other class (a control, a foreign window) is never mistaken for one of ours, and
// rather than a window property, which Wine reads through its server for every message.
class WindowTable {
public:
    void Link(HWND hwnd, Window* window) {
        const std::lock_guard<std::mutex> lock(mutex_);
        windows_[hwnd] = window;
    }
    void Unlink(HWND hwnd) {
        const std::lock_guard<std::mutex> lock(mutex_);
        windows_.erase(hwnd);
    }
    Window* Find(HWND hwnd) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = windows_.find(hwnd);
        return found == windows_.end() ? nullptr : found->second;
    }

private:
    std::mutex mutex_;
    std::unordered_map<HWND, Window*> windows_;
};

WindowTable& Windows() {
    static WindowTable table;
    return table;
}

HICON LoadAppIcon(HINSTANCE instance, int sizeMetricX, int sizeMetricY) {
    const int cx = ::GetSystemMetrics(sizeMetricX);
    const int cy = ::GetSystemMetrics(sizeMetricY);
    if (auto icon = static_cast<HICON>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(ORVANTA_IDI_MAIN), IMAGE_ICON, cx, cy, LR_SHARED)))
        return icon;
    // Programs without the launcher's resources (the tests) get the system's icon.
    return static_cast<HICON>(::LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON,
                                           0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

RECT WorkAreaNear(HWND hwnd) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    const HMONITOR monitor = ::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST);
    if (monitor && ::GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    return area;
}

// Moves the window so that its centre lies at (cx, cy), without leaving the work area where it
// can help it: a window larger than the work area keeps its caption on screen.
void MoveCentredAt(HWND hwnd, int cx, int cy, const RECT& work) {
    RECT frame{};
    ::GetWindowRect(hwnd, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int left = cx - width / 2;
    int top = cy - height / 2;
    left = std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - width));
    top = std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - height));
    ::SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::string WindowTextOf(HWND hwnd) {
    if (!hwnd) return {};
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int n = ::GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(n, 0)));
    return Narrow(text);
}

Window::~Window() {
    if (handle_) {
        // The derived part is gone: detach first so that no message of the destruction reaches it.
        Windows().Unlink(handle_.Get());
        handle_.Reset();
    }
}

Window* Window::FromHandle(HWND hwnd) noexcept {
    if (!hwnd) return nullptr;
    return Windows().Find(hwnd);
}

void Window::CreateHandle(HWND owner) {
    if (handle_) return;
    const HINSTANCE instance = ApplicationInstance();
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (!::GetClassInfoExW(instance, desc_.className, &existing)) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &Window::Procedure;
        wc.hInstance = instance;
        wc.hIcon = LoadAppIcon(instance, SM_CXICON, SM_CYICON);
        wc.hIconSm = LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON);
        wc.hCursor = static_cast<HCURSOR>(
            ::LoadImageW(nullptr, IDC_ARROW, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = desc_.className;
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastPlatformError();
    }
    const DWORD style = desc_.style & ~static_cast<DWORD>(WS_VISIBLE);
    RECT frame{0, 0, desc_.clientWidth, desc_.clientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, desc_.exStyle);
    const HWND hwnd = ::CreateWindowExW(desc_.exStyle, desc_.className, Wide(desc_.caption ? desc_.caption : "").c_str(),
                                        style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                        frame.bottom - frame.top, owner, nullptr, instance, this);
    if (!hwnd) RaiseLastPlatformError();
    // The frame computed above does not know the theme's exact metrics; measure and correct.
    SetClientSize(desc_.clientWidth, desc_.clientHeight);
    ApplyPosition();
    RunGuarded([this] { OnCreate(); });
}

void Window::DestroyHandle() noexcept {
    if (handle_) ::DestroyWindow(handle_.Get());
}

void Window::Show() {
    if (!handle_ || Visible()) return;
    ApplyPosition();
    // The window comes up even when its show handler failed: the player sees the error box over
    // a usable window rather than a process without any window.
    RunGuarded([this] { OnShow(); });
    if (handle_) ::ShowWindow(handle_.Get(), SW_SHOW);
}

void Window::Hide() {
    if (handle_) ::ShowWindow(handle_.Get(), SW_HIDE);
}

bool Window::Visible() const noexcept { return handle_ && ::IsWindowVisible(handle_.Get()); }

void Window::Close() {
    if (!handle_) return;
    switch (OnClose()) {
        case CloseAction::None:
            return;
        case CloseAction::Hide:
            if (inModalLoop_) {
                if (modalResult_ == mr::None) modalResult_ = mr::Cancel;
            } else {
                Hide();
            }
            return;
        case CloseAction::Destroy:
            DestroyHandle();
            return;
    }
}

int Window::ShowModal() {
    if (!handle_ || inModalLoop_ || Visible()) throw Error("Cannot make a visible window modal");
    const HWND owner = ::GetWindow(handle_.Get(), GW_OWNER);

    // Disables the owner for the loop's lifetime and enables it again before this window hides,
    // so that activation returns to the owner and not to some other program's window.
    class OwnerLock {
    public:
        explicit OwnerLock(HWND owner) : owner_(owner && ::IsWindowEnabled(owner) ? owner : nullptr) {
            if (owner_) ::EnableWindow(owner_, FALSE);
        }
        ~OwnerLock() { Release(); }
        void Release() noexcept {
            if (owner_ && ::IsWindow(owner_)) ::EnableWindow(owner_, TRUE);
            owner_ = nullptr;
        }

    private:
        HWND owner_;
    } lock(owner);
    struct LoopFlag {
        bool& flag;
        explicit LoopFlag(bool& f) : flag(f) { flag = true; }
        ~LoopFlag() { flag = false; }
    } loopFlag(inModalLoop_);

    // Boxes raised while the loop runs belong to this window, not to the owner it has disabled.
    const ModalBoxOwner boxOwner(handle_.Get());

    modalResult_ = mr::None;
    Show();
    MSG msg;
    while (modalResult_ == mr::None && handle_ && Visible() && !ApplicationTerminated()) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The outer loop must see the quit too.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) break;
        DispatchGuiMessage(msg);
    }
    if (modalResult_ == mr::None) modalResult_ = mr::Cancel;
    lock.Release();
    Hide();
    return modalResult_;
}

std::string Window::Caption() const {
    if (!handle_) return desc_.caption ? desc_.caption : "";
    return WindowTextOf(handle_.Get());
}

void Window::SetCaption(const std::string& caption) {
    if (handle_ && !::SetWindowTextW(handle_.Get(), Wide(caption).c_str())) RaiseLastPlatformError();
}

SIZE Window::ClientSize() const {
    RECT client{};
    if (handle_) ::GetClientRect(handle_.Get(), &client);
    return SIZE{client.right, client.bottom};
}

void Window::SetClientSize(int width, int height) {
    if (!handle_) return;
    // Twice: a menu bar may wrap onto another line after the first resize.
    for (int pass = 0; pass < 2; ++pass) {
        RECT frame{}, client{};
        ::GetWindowRect(handle_.Get(), &frame);
        ::GetClientRect(handle_.Get(), &client);
        if (client.right == width && client.bottom == height) return;
        const int frameWidth = (frame.right - frame.left) - client.right + width;
        const int frameHeight = (frame.bottom - frame.top) - client.bottom + height;
        ::SetWindowPos(handle_.Get(), nullptr, 0, 0, frameWidth, frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Window::CenterOnScreen() {
    if (!handle_) return;
    const RECT work = WorkAreaNear(handle_.Get());
    MoveCentredAt(handle_.Get(), (work.left + work.right) / 2, (work.top + work.bottom) / 2, work);
}

void Window::CenterOver(HWND other) {
    if (!handle_) return;
    if (!other || !::IsWindow(other)) return CenterOnScreen();
    RECT frame{};
    ::GetWindowRect(other, &frame);
    const RECT work = WorkAreaNear(other);
    MoveCentredAt(handle_.Get(), (frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2, work);
}

HFONT Window::Font() const noexcept {
    return font_ ? font_.Get() : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

void Window::SetFont(const wchar_t* face, int points) {
    int dpi = 96;
    {
        const WindowDc screen(nullptr);
        if (screen.Get()) dpi = ::GetDeviceCaps(screen.Get(), LOGPIXELSY);
    }
    SetFontHeight(face, -::MulDiv(points, dpi, 72));
}

void Window::SetFontHeight(const wchar_t* face, int height) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    std::wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    ScopedFont font(::CreateFontIndirectW(&lf));
    if (!font) RaiseLastPlatformError();
    font_ = std::move(font);
    if (!handle_) return;
    const auto apply = [](HWND hwnd, LPARAM fontHandle) -> BOOL {
        ::SendMessageW(hwnd, WM_SETFONT, static_cast<WPARAM>(fontHandle), FALSE);
        return TRUE;
    };
    const LPARAM value = reinterpret_cast<LPARAM>(font_.Get());
    apply(handle_.Get(), value);
    ::EnumChildWindows(handle_.Get(), apply, value);
}

bool Window::PreTranslateMessage(MSG& msg) {
    // Only windows that hold controls take part in dialog navigation; for the others the dialog
    // manager would just eat Enter and Escape.
    if (!handle_ || !(desc_.exStyle & WS_EX_CONTROLPARENT)) return false;
    return ::IsDialogMessageW(handle_.Get(), &msg) != FALSE;
}

void Window::OnPaint(HDC dc, const RECT& client) { ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE)); }

bool Window::OnCommand(int, int, HWND) { return false; }

LRESULT Window::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND:
            // The buffered paint covers every pixel; erasing first would only flicker.
            if (desc_.doubleBuffered) return 1;
            break;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_COMMAND:
            if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return 0;
            break;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) OnActivate();
            break;
        case WM_CLOSE:
            Close();
            return 0;
        case WM_DESTROY:
            OnDestroy();
            break;
        default:
            break;
    }
    return ::DefWindowProcW(handle_.Get(), msg, wParam, lParam);
}

void Window::Paint() {
    PaintScope paint(handle_.Get());
    RECT client{};
    ::GetClientRect(handle_.Get(), &client);
    if (!desc_.doubleBuffered || client.right <= 0 || client.bottom <= 0) return OnPaint(paint.Dc(), client);
    ScopedMemoryDc memory(::CreateCompatibleDC(paint.Dc()));
    ScopedBitmap bitmap(memory ? ::CreateCompatibleBitmap(paint.Dc(), client.right, client.bottom) : nullptr);
    // Short of GDI resources the window still paints, only without the buffer.
    if (!bitmap) return OnPaint(paint.Dc(), client);
    const SelectObjectScope select(memory.Get(), bitmap.Get());
    const RECT& dirty = paint.Dirty();
    // Only the dirty part reaches the screen: drawing is clipped to it, so that a repaint of a
    // status line does not render the whole window's artwork again.
    ::IntersectClipRect(memory.Get(), dirty.left, dirty.top, dirty.right, dirty.bottom);
    OnPaint(memory.Get(), client);
    ::BitBlt(paint.Dc(), dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, memory.Get(),
             dirty.left, dirty.top, SRCCOPY);
}

void Window::ApplyPosition() {
    switch (desc_.position) {
        case WindowPosition::AsIs:
            break;
        case WindowPosition::ScreenCenter:
            CenterOnScreen();
            break;
        case WindowPosition::OwnerCenter:
            CenterOver(::GetWindow(handle_.Get(), GW_OWNER));
            break;
        case WindowPosition::MainCenter:
            CenterOver(static_cast<HWND>(MainWindowHandle));
            break;
    }
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (self) {
            Windows().Link(hwnd, self);
            self->handle_.Reset(hwnd);
        }
    } else {
        self = FromHandle(hwnd);
    }
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);

    LRESULT result = 0;
    try {
        result = self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        // A paint that failed must not be asked for again and again, each time with a new box.
        if (msg == WM_PAINT) ::ValidateRect(hwnd, nullptr);
        ShowCurrentException();
        result = msg == WM_NCCREATE ? TRUE : 0;
    }
    if (msg == WM_NCDESTROY) {
        Windows().Unlink(hwnd);
        self->handle_.Release();
    }
    return result;
}

}  // namespace orv
