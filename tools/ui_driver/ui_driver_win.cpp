#include "tools/ui_driver/ui_driver_win.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/window_win.h"

namespace orv::test {

std::string HostPathFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    std::string path = value ? value : "";
    if (!path.empty() && path.front() == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

std::string LauncherUnderTest() {
    const std::string path = HostPathFromEnvironment("ORVANTA_EXE");
    if (!path.empty()) return path;
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string folder = Narrow(self);
    folder = folder.substr(0, folder.find_last_of('\\'));
    return folder.substr(0, folder.find_last_of('\\')) + "\\Orvanta.exe";
}

ChildProcess::ChildProcess(const std::string& exe, const std::string& arguments, const std::string& workDir) {
    std::wstring commandLine = L"\"" + Wide(exe) + L"\"";
    if (!arguments.empty()) commandLine += L" " + Wide(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(Wide(exe).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workDir.empty() ? nullptr : Wide(workDir).c_str(), &startup, &info))
        RaiseLastPlatformError();
    ScopedHandle thread(info.hThread);
    process_.Reset(info.hProcess);
    id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Running() const {
    return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) const {
    if (!process_) return std::nullopt;
    if (::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.Get(), &code)) return std::nullopt;
    return code;
}

void ChildProcess::Kill() {
    if (!process_) return;
    if (Running()) {
        ::TerminateProcess(process_.Get(), 99);
        ::WaitForSingleObject(process_.Get(), 5000);
    }
    process_.Reset();
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
    struct Search {
        DWORD process;
        std::vector<HWND> found;
    } search{processId, {}};
    ::EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->process) s->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> found;
    ::EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string ClassNameOf(HWND hwnd) {
    wchar_t name[256] = {};
    const int n = ::GetClassNameW(hwnd, name, 256);
    return Narrow(std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0));
}

std::string TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                               2000, &copied))
        return {};
    text.resize(std::min<size_t>(copied, length));
    return Narrow(text);
}

std::vector<std::string> ControlTexts(HWND parent) {
    std::vector<std::string> texts;
    for (HWND child : ChildWindows(parent)) texts.push_back(TextOf(child));
    return texts;
}

HWND FindWindowOf(DWORD processId, const std::string& className, const std::string& caption) {
    for (HWND hwnd : TopLevelWindows(processId)) {
        if (!::IsWindowVisible(hwnd) || ClassNameOf(hwnd) != className) continue;
        if (caption.empty() || TextOf(hwnd) == caption) return hwnd;
    }
    return nullptr;
}

HWND FindDialogOf(DWORD processId) {
    const HWND dialog = FindWindowOf(processId, "#32770");
    if (!dialog) return nullptr;
    // A box becomes visible before its dialog procedure has put the texts in: until then it is
    // not there for a reader.
    for (const std::string& text : ControlTexts(dialog))
        if (!text.empty()) return dialog;
    return nullptr;
}

HWND AnyDialogOf(DWORD processId) {
    for (HWND hwnd : TopLevelWindows(processId))
        if (ClassNameOf(hwnd) == "#32770") return hwnd;
    return nullptr;
}

HWND WaitForWindow(const std::function<HWND()>& find, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (HWND hwnd = find()) return hwnd;
        if (std::chrono::steady_clock::now() >= end) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

HWND ChildWithBounds(HWND parent, const std::string& className, const RECT& bounds) {
    for (HWND child : ChildWindows(parent)) {
        if (::GetParent(child) != parent || ClassNameOf(child) != className) continue;
        RECT r{};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        if (::EqualRect(&r, &bounds)) return child;
    }
    return nullptr;
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0) break;
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<size_t>(length));
        items.push_back(Narrow(text));
    }
    return items;
}

int ComboSelection(HWND combo) { return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)); }

bool SetEditText(HWND edit, const std::string& text) {
    const std::wstring wide = Wide(text);
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG, 5000,
                                 &result) != 0 &&
           result == TRUE;
}

bool WaitForPostedMessages(HWND edit, std::chrono::milliseconds timeout) {
    DWORD_PTR modified = 0;
    if (!::SendMessageTimeoutW(edit, EM_GETMODIFY, 0, 0, SMTO_ABORTIFHUNG, 5000, &modified)) return false;
    // Sent messages overtake posted ones: the flag is cleared at once, set again only in turn.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(edit, EM_SETMODIFY, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    if (!::PostMessageW(edit, EM_SETMODIFY, TRUE, 0)) return false;
    const auto end = std::chrono::steady_clock::now() + timeout;
    bool handled = false;
    for (;;) {
        DWORD_PTR now = 0;
        handled = ::SendMessageTimeoutW(edit, EM_GETMODIFY, 0, 0, SMTO_ABORTIFHUNG, 5000, &now) && now;
        if (handled || std::chrono::steady_clock::now() >= end) break;
        ::Sleep(1);
    }
    ::SendMessageTimeoutW(edit, EM_SETMODIFY, modified ? TRUE : FALSE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    return handled;
}

bool ClickControl(HWND control) {
    RECT r{};
    if (!::GetClientRect(control, &r)) return false;
    const LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    return ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at) && ::PostMessageW(control, WM_LBUTTONUP, 0, at);
}

bool ChooseMenuCommand(HWND window, int commandId) {
    return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0) != 0;
}

namespace {

// Bytes in one row of a 24-bit bitmap: rows are padded to four bytes.
DWORD RowStride(int width) { return (static_cast<DWORD>(width) * 3 + 3) & ~3u; }

BITMAPINFOHEADER Bitmap24Header(int width, int height) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files keep their rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = RowStride(width) * static_cast<DWORD>(height);
    return header;
}

// What the screen shows inside `r`, as the rows of a 24-bit bitmap; empty when it cannot be read.
std::string ScreenPixels(const RECT& r) {
    const int width = r.right - r.left, height = r.bottom - r.top;
    const WindowDc screen(nullptr);
    const ScopedMemoryDc memory(::CreateCompatibleDC(screen.Get()));
    BITMAPINFO info{};
    info.bmiHeader = Bitmap24Header(width, height);
    void* bits = nullptr;
    const ScopedBitmap bitmap(::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !memory) return {};
    const SelectObjectScope selected(memory.Get(), bitmap.Get());
    if (!::BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), r.left, r.top, SRCCOPY)) return {};
    ::GdiFlush();
    return std::string(static_cast<const char*>(bits), info.bmiHeader.biSizeImage);
}

// Whether the window and its controls have painted everything they were asked to.
bool Painted(HWND window) {
    if (::GetUpdateRect(window, nullptr, FALSE)) return false;
    for (HWND child : ChildWindows(window))
        if (::GetUpdateRect(child, nullptr, FALSE)) return false;
    return true;
}

}  // namespace

bool SaveWindowShot(HWND window, const std::string& bmpPath, bool activate) {
    if (activate) ::SetForegroundWindow(window);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r{};
    if (!::GetWindowRect(window, &r)) return false;
    // Wine hands what a window painted on to the display when the window's thread next waits for
    // messages: the picture is taken once the window has painted and two looks at the screen, with
    // the window's thread answering a message in between, agree. A window that never settles (a
    // caret blinking at the wrong moment, every time) is taken as it is after a few seconds.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const auto late = [&end] { return std::chrono::steady_clock::now() >= end; };
    while (!Painted(window) && !late()) ::Sleep(1);
    std::string pixels = ScreenPixels(r);
    for (;;) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        std::string again = ScreenPixels(r);
        const bool settled = !again.empty() && again == pixels;
        pixels = std::move(again);
        if (settled || late()) break;
    }
    if (pixels.empty()) return false;

    const BITMAPINFOHEADER header = Bitmap24Header(r.right - r.left, r.bottom - r.top);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    const ScopedFileHandle out(
        ::CreateFileW(Wide(bmpPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return out && ::WriteFile(out.Get(), &file, sizeof(file), &written, nullptr) &&
           ::WriteFile(out.Get(), &header, sizeof(header), &written, nullptr) &&
           ::WriteFile(out.Get(), pixels.data(), header.biSizeImage, &written, nullptr) &&
           written == header.biSizeImage;
}

bool PressButton(HWND dialog, int controlId) {
    HWND button = ::GetDlgItem(dialog, controlId);
    if (!button) return false;
    // The notification a click sends; BM_CLICK would need the dialog to be the active window.
    return ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != 0;
}

}  // namespace orv::test
