// "orvanta-tool sign": every signed statement of a server root signed afresh, with a higher version
// and a new expiry, without packing anything: what keeps signatures from expiring (a daily cron
// job) and what adds or drops a key. A build published without a key gets its hash list here,
// from its ".lzma" files on the server, found as "check --server-root" finds them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/codepage.h"
#include "tools/statement_signing.h"

namespace orv::publish {

struct SignServerOptions {
    std::string serverRoot;
    // The address the catalogue's download addresses were published for.
    std::string serverBase = UpdateServerBase;
    std::string gameCode = GameCode;
    CodePage codePage = CodePage::Windows1251;  // of the checklists' paths
    StatementSigning signing;
};

struct SignedStatement {
    std::string path;  // below the server root
    uint64_t version = 0;
    bool hashListComputed = false;  // checklists: the hash list was made from the server's files
};

// Checklists of the catalogue, then "upt.exe.sig" when the installer is there, then "inf.ini.sig",
// each once the files it covers are in place. Raises Error; statements signed by then stay (each
// is whole, and the next run signs them again).
std::vector<SignedStatement> SignServer(const SignServerOptions& options,
                                        const std::function<void(const std::string& line)>& progress);

std::optional<std::string> ParseSignServerArguments(const std::vector<std::string>& args, SignServerOptions& options);

extern const char* const SignServerUsage;

}  // namespace orv::publish
