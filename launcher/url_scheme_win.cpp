#include "launcher/url_scheme_win.h"

#include <optional>
#include <utility>

#include "game_profile.h"
#include "launcher/base/errors.h"
#include "launcher/platform/registry_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

constexpr REGSAM kKeyAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// `name` below `parent`; `path` names it under the root in the error.
RegistryKey CreateSchemeKey(HKEY parent, const std::string& name, const std::string& path) {
    LONG status = ERROR_SUCCESS;
    std::optional<RegistryKey> key = CreateRegistryKey(parent, Wide(name), kKeyAccess, &status);
    if (!key) throw EOSError(static_cast<uint32_t>(status), "Failed to create key " + path);
    return std::move(*key);
}

}  // namespace

std::string UrlSchemeName() { return std::string("vtl") + GameCode; }

void RegisterUrlScheme(const std::string& executablePath) {
    RegisterUrlSchemeUnder(HKEY_CLASSES_ROOT, UrlSchemeName(), executablePath);
}

void RegisterUrlSchemeUnder(HKEY root, const std::string& scheme, const std::string& executablePath) {
    const RegistryKey schemeKey = CreateSchemeKey(root, scheme, scheme);
    SetRegistryString(schemeKey.Get(), L"", Wide(scheme + " URI"));
    SetRegistryString(schemeKey.Get(), L"URL Protocol", L"");
    SetRegistryString(schemeKey.Get(), L"Content Type", L"application/x-command");

    const std::string shellPath = scheme + "\\shell";
    const RegistryKey shellKey = CreateSchemeKey(schemeKey.Get(), "shell", shellPath);
    SetRegistryString(shellKey.Get(), L"", L"open");

    const std::string openPath = shellPath + "\\open";
    const RegistryKey openKey = CreateSchemeKey(shellKey.Get(), "open", openPath);

    const RegistryKey commandKey = CreateSchemeKey(openKey.Get(), "command", openPath + "\\command");
    // The shell puts the link in place of %1 unquoted; the path is quoted for folders with blanks.
    SetRegistryString(commandKey.Get(), L"", Wide("\"" + executablePath + "\" %1"));
}

}  // namespace orv
