// Tests change the launcher's process-wide values (game folder, settings record, interface
// language, offline state) and answer its message boxes. This guard keeps what was there before,
// records every message box shown while it lives (answered with OK), and puts everything back.
#pragma once

#include <string>
#include <vector>

#include "launcher/base/message_box.h"
#include "launcher/config/launcher_settings.h"

namespace orv::test {

class ProcessStateGuard {
public:
    ProcessStateGuard();
    ~ProcessStateGuard();
    ProcessStateGuard(const ProcessStateGuard&) = delete;
    ProcessStateGuard& operator=(const ProcessStateGuard&) = delete;

    // The message boxes shown so far, and their texts.
    std::vector<MessageRequest> requests;
    std::vector<std::string> messages;

private:
    std::string gameFolder_;
    LauncherSettings config_;
    int uiLanguage_;
    bool offlineMode_;
    std::string newsUrl_;
    MessageHandler previousHandler_;
};

// While it lives: answers the Abort / Retry / Ignore question with `answer` and every other box with
// OK, and records them all.
class QuestionAnswers {
public:
    explicit QuestionAnswers(MsgResult answer);
    ~QuestionAnswers();
    QuestionAnswers(const QuestionAnswers&) = delete;
    QuestionAnswers& operator=(const QuestionAnswers&) = delete;

    std::vector<MessageRequest> seen;
    std::vector<std::string> Texts() const;

private:
    MessageHandler previous_;
};

}  // namespace orv::test
