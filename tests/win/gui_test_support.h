// Shared pieces of the in-process GUI tests: the application set up once on the test thread, and
// a recorder that answers every message box instead of showing it.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/base/message_box.h"
#include "support/process_state.h"
#include "support/test_files.h"

namespace orv::test {

// Sets up the application on the calling (GUI) thread once; later calls do nothing.
void EnsureApplication();

// Records every message-box request while it lives and answers `answer`.
class RecordedMessages {
public:
    explicit RecordedMessages(MsgResult answer = MsgResult::Ok);
    ~RecordedMessages();
    RecordedMessages(const RecordedMessages&) = delete;
    RecordedMessages& operator=(const RecordedMessages&) = delete;

    const std::vector<MessageRequest>& Seen() const { return seen_; }

private:
    MessageHandler previous_;
    std::vector<MessageRequest> seen_;
};

// While it lives, the main window starts in a temporary game folder instead of the test program's:
// the creation sequence runs as in the launcher, with the update server simulated (it serves
// `catalogue`, or does not answer when there is none), the URL scheme left alone, loaders recorded
// instead of started, and process-wide values put back afterwards. With `runSequence` false the
// window keeps the state of its layout (nothing of the sequence runs).
class SimulatedStart {
public:
    struct Options {
        std::optional<std::string> catalogue;      // bytes served as inf.ini; none: unreachable
        std::vector<std::string> arguments{"Orvanta.exe"};
        bool runSequence = true;

        // The window as its layout makes it: nothing of the sequence runs.
        static Options LayoutOnly() {
            Options options;
            options.runSequence = false;
            return options;
        }
        // The server serves `catalogue`; the launcher got `arguments`.
        static Options Serving(std::string catalogue, std::vector<std::string> arguments = {"Orvanta.exe"}) {
            Options options;
            options.catalogue = std::move(catalogue);
            options.arguments = std::move(arguments);
            return options;
        }
    };
    SimulatedStart();
    explicit SimulatedStart(Options options);
    ~SimulatedStart();
    SimulatedStart(const SimulatedStart&) = delete;
    SimulatedStart& operator=(const SimulatedStart&) = delete;

    const std::string& Folder() const { return dir_.Path(); }
    std::string File(const std::string& name) const { return dir_.File(name); }

    std::vector<std::string> loaders;  // paths Play or a connect link handed to the shell
    std::vector<std::string> killed;   // process names a connect link ended
    bool terminated = false;           // a connect link ended the application
    int probes = 0;

    ProcessStateGuard state;  // also records the message boxes

private:
    Options options_;
    TempDir dir_;
};

// How long a GUI test waits for what it expects before it gives up.
inline constexpr std::chrono::seconds kGuiWait{10};

// Processes the GUI thread's messages until `condition` holds or `timeout` passes; whether it held.
// The condition is checked after each round of messages.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// True when the GUI thread's queue holds no posted or sent message: everything posted to the
// thread so far has been handled (the moment after which nothing it started can still arrive).
bool NothingQueued();

}  // namespace orv::test
