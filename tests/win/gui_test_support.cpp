#include "gui_test_support.h"

#include "launcher/app_win.h"
#include "launcher/base/events.h"

namespace orv::test {

void EnsureApplication() {
    static bool done = false;
    if (done) return;
    done = true;
    InitializeApplication(::GetModuleHandleW(nullptr));
    // No test may block on a real box: the real handler is installed only where a test asks for it.
    SetMessageHandler(nullptr);
}

RecordedMessages::RecordedMessages(MsgResult answer) {
    previous_ = SetMessageHandler([this, answer](const MessageRequest& request) {
        seen_.push_back(request);
        return answer;
    });
}

RecordedMessages::~RecordedMessages() { SetMessageHandler(previous_); }

void PumpFor(DWORD milliseconds) {
    const DWORD start = ::GetTickCount();
    do {
        PumpEvents();
        ::Sleep(5);
    } while (::GetTickCount() - start < milliseconds);
}

}  // namespace orv::test
