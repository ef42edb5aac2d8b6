// Shared pieces of the in-process GUI tests: the application set up once on the test thread, and
// a recorder that answers every message box instead of showing it.
#pragma once

#include <windows.h>

#include <vector>

#include "launcher/base/message_box.h"

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

// Processes the GUI thread's pending messages for a while (windows that paint or post to themselves).
void PumpFor(DWORD milliseconds);

}  // namespace orv::test
