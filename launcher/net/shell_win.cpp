#include "launcher/net/shell_win.h"

#include <objbase.h>
#include <shellapi.h>

#include "launcher/base/errors.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

// COM for the calling thread during one shell call. Some shell extensions need an apartment; a
// thread that already has one keeps it. Only an initialisation that succeeded is undone: undoing a
// refused one (a thread already in the multithreaded apartment) would tear down the caller's COM.
class ComForCall {
public:
    ComForCall() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComForCall() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComForCall(const ComForCall&) = delete;
    ComForCall& operator=(const ComForCall&) = delete;

private:
    HRESULT result_;
};

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

void ShellOpen(HWND owner, const std::string& verb, const std::string& file, const std::string& parameters,
               const std::string& folder, int show) {
    const std::wstring wideVerb = Wide(verb), wideFile = Wide(file), wideParameters = Wide(parameters),
                       wideFolder = Wide(folder);
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof(request);  // the size of this build's layout (112 bytes on x64)
    request.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
    request.hwnd = owner;
    request.lpVerb = OrNull(wideVerb);
    request.lpFile = wideFile.c_str();
    request.lpParameters = OrNull(wideParameters);
    request.lpDirectory = OrNull(wideFolder);
    request.nShow = show;

    BOOL accepted = FALSE;
    DWORD error = ERROR_SUCCESS;
    {
        ComForCall com;
        accepted = ::ShellExecuteExW(&request);
        if (!accepted) error = ::GetLastError();  // before COM clean-up can overwrite it
    }
    if (accepted) return;
    // A refusal that names no reason is still a refusal, never a success.
    if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
    throw EOSError(error, PlatformErrorMessage(error));
}

}  // namespace orv
