// orvanta-tool: the launcher's checksums and ".lzma" container for scripts and server operators.
//   orvanta-tool crc32 FILE...       CRC-32 of each file as decimal text, one per line
//   orvanta-tool lzma d|e IN OUT     unpack or pack the ".lzma" container
//   orvanta-tool publish OPTIONS...  put a game build onto a static HTTP update server
//   orvanta-tool publish-launcher OPTIONS...  put a launcher release onto it
//   orvanta-tool signing-key --public KEY      the public key a launcher build checks releases with
//   orvanta-tool sign OPTIONS...     sign a server's statements afresh
//   orvanta-tool check OPTIONS...    check (and repair) a game folder against a published build
//   orvanta-tool mirror OPTIONS...   copy an update server into a folder served as its mirror
// Exit status: 0 on success, 1 on a failure (message on stderr), 2 on bad arguments (usage text);
// check and mirror have their own (check.h).
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"
#include "tools/check.h"
#include "tools/mirror.h"
#include "tools/publish.h"
#include "tools/publish_launcher.h"
#include "tools/release_signing.h"
#include "tools/sign_server.h"
#ifdef _WIN32
#include "launcher/platform/utf8.h"
#endif

namespace {

using Args = std::vector<std::string>;  // UTF-8, without the program and subcommand names

constexpr int kFailed = 1;
constexpr int kBadArguments = 2;

void Fail(const std::string& message) { std::fprintf(stderr, "orvanta-tool: %s\n", message.c_str()); }

int Crc32Command(const Args& args) {
    if (args.empty()) return kBadArguments;
    int status = 0;
    for (const std::string& path : args) {
        try {
            orv::File::OpenRead(path);  // FileCrc32 reads an unreadable file as 0: report it instead
        } catch (const orv::Error& e) {
            Fail(path + ": " + e.what());
            status = kFailed;
            continue;
        }
        std::printf("%s\n", orv::Crc32Text(orv::FileCrc32(path)).c_str());
    }
    return status;
}

int LzmaCommand(const Args& args) {
    if (args.size() != 3 || (args[0] != "d" && args[0] != "e")) return kBadArguments;
    if (orv::TLZMAAlone().Main(args[1], args[2], args[0])) return 0;
    Fail(args[1] + ": not a usable .lzma file, or its data is damaged");
    return kFailed;
}

int PublishCommand(const Args& args) {
    if (args.size() == 1 && args[0] == "--help") {
        std::printf("usage: orvanta-tool publish OPTIONS...\n%s", orv::publish::PublishUsage);
        return 0;
    }
    orv::publish::PublishOptions options;
    if (const std::optional<std::string> problem = orv::publish::ParsePublishArguments(args, options)) {
        Fail("publish: " + *problem);
        std::fprintf(stderr, "publish options:\n%s", orv::publish::PublishUsage);
        return kBadArguments;
    }
    const orv::publish::PublishSummary summary = orv::publish::Publish(options, [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    for (const std::string& line : orv::publish::SummaryLines(summary, options)) std::printf("%s\n", line.c_str());
    return 0;
}

int PublishLauncherCommand(const Args& args) {
    if (args.size() == 1 && args[0] == "--help") {
        std::printf("usage: orvanta-tool publish-launcher OPTIONS...\n%s", orv::publish::LauncherReleaseUsage);
        return 0;
    }
    orv::publish::LauncherReleaseOptions options;
    if (const std::optional<std::string> problem = orv::publish::ParseLauncherReleaseArguments(args, options)) {
        Fail("publish-launcher: " + *problem);
        std::fprintf(stderr, "publish-launcher options:\n%s", orv::publish::LauncherReleaseUsage);
        return kBadArguments;
    }
    const orv::publish::LauncherReleaseSummary summary = orv::publish::PublishLauncher(options);
    std::printf("launcher %s: %s (%llu bytes), CRC-32 %s%s%s\n", options.version.c_str(),
                summary.downloadUrl.c_str(), static_cast<unsigned long long>(summary.packedBytes),
                summary.fileCrc32.c_str(), summary.signature.empty() ? "" : ", signed",
                summary.installerWritten ? ", installer upt.exe.lzma" : "");
    if (summary.installerStatement != 0)
        std::printf("signed: upt.exe.sig version %llu\n", static_cast<unsigned long long>(summary.installerStatement));
    if (summary.catalogueStatement != 0)
        std::printf("signed: inf.ini.sig version %llu\n", static_cast<unsigned long long>(summary.catalogueStatement));
    return 0;
}

int SigningKeyCommand(const Args& args) {
    if (args.size() != 2 || args[0] != "--public") return kBadArguments;
    std::printf("%s\n", orv::publish::SigningPublicKeyHex(args[1]).c_str());
    return 0;
}

int SignCommand(const Args& args) {
    if (args.size() == 1 && args[0] == "--help") {
        std::printf("usage: orvanta-tool sign OPTIONS...\n%s", orv::publish::SignServerUsage);
        return 0;
    }
    orv::publish::SignServerOptions options;
    if (const std::optional<std::string> problem = orv::publish::ParseSignServerArguments(args, options)) {
        Fail("sign: " + *problem);
        std::fprintf(stderr, "sign options:\n%s", orv::publish::SignServerUsage);
        return kBadArguments;
    }
    orv::publish::SignServer(options, [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    return 0;
}

int CheckCommand(const Args& args) {
    if (args.size() == 1 && args[0] == "--help") {
        std::printf("usage: orvanta-tool check OPTIONS...\n%s", orv::check::CheckUsage);
        return 0;
    }
    orv::check::CheckOptions options;
    if (const std::optional<std::string> problem = orv::check::ParseCheckArguments(args, options)) {
        Fail("check: " + *problem);
        std::fprintf(stderr, "check options:\n%s", orv::check::CheckUsage);
        return orv::check::ExitError;
    }
    static std::atomic<bool> interrupted{false};
    orv::check::StopOnInterrupt(interrupted);
    const std::unique_ptr<orv::check::CheckSink> sink =
        orv::check::NewConsoleSink(options.json, orv::check::StderrIsTerminal());
    try {
        const orv::check::CheckSummary summary =
            orv::check::RunCheck(options, orv::check::SystemCheckPlatform(), *sink, interrupted);
        const int status = orv::check::ExitStatus(summary);
        sink->Finished(summary, status);
        return status;
    } catch (const std::exception& e) {
        if (interrupted) return orv::check::ExitInterrupted;
        Fail(std::string("check: ") + e.what());
        if (options.json) {
            // A script reading the lines learns why there is no summary.
            std::printf("{\"event\":\"error\",\"message\":%s,\"exit\":2}\n", orv::check::JsonString(e.what()).c_str());
        }
        return orv::check::ExitError;
    }
}

int MirrorCommand(const Args& args) {
    if (args.size() == 1 && args[0] == "--help") {
        std::printf("usage: orvanta-tool mirror OPTIONS...\n%s", orv::mirror::MirrorUsage);
        return 0;
    }
    orv::mirror::MirrorOptions options;
    if (const std::optional<std::string> problem = orv::mirror::ParseMirrorArguments(args, options)) {
        Fail("mirror: " + *problem);
        std::fprintf(stderr, "mirror options:\n%s", orv::mirror::MirrorUsage);
        return orv::check::ExitError;
    }
    static std::atomic<bool> interrupted{false};
    orv::check::StopOnInterrupt(interrupted);
    const std::unique_ptr<orv::mirror::MirrorSink> sink =
        orv::mirror::NewMirrorConsoleSink(options.json, orv::check::StderrIsTerminal());
    int status = orv::check::ExitError;
    try {
        const orv::mirror::MirrorSummary summary =
            orv::mirror::RunMirror(options, orv::check::SystemCheckPlatform(), *sink, interrupted);
        status = orv::mirror::MirrorExitStatus(summary);
        sink->Finished(summary, status);
    } catch (const std::exception& e) {
        status = interrupted ? orv::check::ExitInterrupted : orv::check::ExitError;
        if (!interrupted) Fail(std::string("mirror: ") + e.what());
        if (options.json)
            std::printf("{\"event\":\"error\",\"message\":%s}\n", orv::check::JsonString(e.what()).c_str());
    }
    if (options.json) std::printf("{\"event\":\"exit\",\"status\":%d}\n", status);
    std::fflush(stdout);
    return status;
}

struct Subcommand {
    const char* name;
    const char* arguments;  // as shown in the usage text
    int (*run)(const Args& args);
    bool ownExitStatus = false;  // 2 is not "bad arguments, show the usage" but one of its own
};

constexpr Subcommand kSubcommands[] = {
    {"crc32", "FILE...", Crc32Command},
    {"lzma", "d|e IN OUT", LzmaCommand},
    {"publish",
     "--build-dir DIR --server-root ROOT --checklist NAME --game-name TEXT --build-name TEXT\n"
     "                            --download-path PATH|--download-url URL [options: publish --help]",
     PublishCommand},
    {"publish-launcher",
     "--executable FILE --server-root ROOT --version TEXT [options: publish-launcher --help]",
     PublishLauncherCommand},
    {"signing-key", "--public KEY.pem", SigningKeyCommand},
    {"sign", "--server-root ROOT --signing-key KEY.pem [--signing-key KEY2.pem] [options: sign --help]",
     SignCommand},
    {"check",
     "--server URL|--server-root ROOT --game-dir DIR [--repair] [--dry-run] [--json] [--jobs N]\n"
     "                            [--verify-server] [options: check --help]",
     CheckCommand, true},
    {"mirror",
     "--server URL --to DIR [--game-name TEXT] [--build-name TEXT] [--dry-run] [--json]\n"
     "                            [options: mirror --help]",
     MirrorCommand, true},
};

int Usage() {
    for (const Subcommand& sub : kSubcommands)
        std::fprintf(stderr, "%s orvanta-tool %s %s\n", &sub == kSubcommands ? "usage:" : "      ", sub.name,
                     sub.arguments);
    return kBadArguments;
}

int Run(const Args& argv) {
    if (argv.empty()) return Usage();
    for (const Subcommand& sub : kSubcommands) {
        if (argv[0] != sub.name) continue;
        try {
            const int status = sub.run(Args(argv.begin() + 1, argv.end()));
            return status == kBadArguments && !sub.ownExitStatus ? Usage() : status;
        } catch (const std::exception& e) {
            Fail(e.what());
            return kFailed;
        }
    }
    return Usage();
}

}  // namespace

#ifdef _WIN32
// Wide entry (linked with -municode) so that paths outside the ANSI code page arrive intact.
int wmain(int argc, wchar_t** argv) {
    Args args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg(argv[i]);
        args.push_back(orv::Utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
    }
    return Run(args);
}
#else
int main(int argc, char** argv) { return Run(Args(argv + 1, argv + argc)); }
#endif
