// Test helper, not an outside program of the launcher: one check-and-repair run of a game folder
// in a process of its own, so that a test can kill it at any moment of the run.
//
//   repairrun <game folder> <server folder> <server base>
//
// The server is a local folder (tests/support/local_check_platform_posix.h): what the kills probe
// is the unpack and the replace of a repaired file, not the transfer. The unpack question is
// answered Abort, every other box OK; the texts go to standard error. Exit code 0 for a run that
// completed, 1 for one that did not, 2 for a bad command line, 3 when the run raised.
#include <cstdio>
#include <exception>
#include <string>

#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/integrity/check_run.h"
#include "support/local_check_platform_posix.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    orv::GameFolder = argv[1];
    orv::UiLanguage = orv::UiEnglish;
    // What the catalogue reading leaves for the run; the version is recorded under it at the end.
    orv::AppName = "css";
    orv::ServerBaseVersion = "5";
    orv::ServerBuildVersion = "77";
    orv::SetMessageHandler([](const orv::MessageRequest& request) {
        std::fprintf(stderr, "repairrun: %s\n", request.text.substr(0, 300).c_str());
        return request.flags & orv::mb::AbortRetryIgnore ? orv::MsgResult::Abort : orv::MsgResult::Ok;
    });
    orv::test::CountingView view;
    const orv::CheckRunPlatform platform = orv::test::LocalCheckRunPlatform(argv[3], argv[2]);
    orv::StopFlag = 0;
    try {
        return orv::RunCheck(orv::CheckRunRequest{}, view, platform).completed ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "repairrun: %s\n", error.what());
        return 3;
    }
}
