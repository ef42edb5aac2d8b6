#include "launcher/connect_link.h"

#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/play.h"

namespace orv {
namespace {

bool IsAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The text without its last character (a whole UTF-8 sequence, not just its last byte).
std::string_view WithoutLastCharacter(std::string_view text) {
    if (text.empty()) return text;
    size_t end = text.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool IsServerAddress(std::string_view address) {
    if (address.empty()) return true;
    if (!IsAsciiAlnum(address.front()) && address.front() != '[') return false;
    for (const char c : address)
        if (!IsAsciiAlnum(c) && std::string_view(".-_:[]").find(c) == std::string_view::npos) return false;
    return true;
}

std::optional<std::string> ConnectAddress(std::string_view argument) {
    std::string address = LowerAscii(WithoutLastCharacter(argument));
    if (!IsServerAddress(address)) return std::nullopt;
    return address;
}

std::string ConnectCommandLine(std::string_view address, std::string_view runOptions, std::string_view gameCode) {
    const std::string prefix = GameCommandPrefix;
    const std::string connect = " +connect " + std::string(address);
    if (LowerAscii(gameCode) == "cstrike") return prefix + " " + std::string(runOptions) + connect;
    return prefix + connect + " " + std::string(runOptions);
}

ConnectOutcome StartConnectLink(std::string_view argument, const std::string& executablePath,
                                const ConnectActions& actions, const AnsiCodec& codec) {
    const std::optional<std::string> address = ConnectAddress(argument);
    if (!address) {
        ShowMessage(FormatText(Tr(TextId::UnsafeConnectLink), std::string(WithoutLastCharacter(argument))));
        actions.terminateApplication();
        return ConnectOutcome::Refused;
    }
    // The link always starts the first game, whatever game the player selected last.
    const LoaderLocation loader = CatalogueLoader(1, codec);
    if (!loader.path) {
        ShowMessage(FormatText(Tr(TextId::UnsafeLoaderPath), loader.run));
        actions.terminateApplication();
        return ConnectOutcome::Refused;
    }

    WriteEmulatorProcName(ConnectCommandLine(*address, LauncherConfig.GameProcName));
    actions.killProcessByName(GameExeName);
    actions.startLoader(*loader.path);
    // Every launcher with this file name ends, this one last: nothing after this call runs when
    // the platform could end this process.
    actions.killProcessByName(FileNameOf(executablePath));
    actions.terminateApplication();
    return ConnectOutcome::Started;
}

}  // namespace orv
