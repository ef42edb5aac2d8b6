#include "support/process_state.h"

#include "launcher/base/app_state.h"

namespace orv::test {

ProcessStateGuard::ProcessStateGuard()
    : gameFolder_(GameFolder),
      config_(LauncherConfig),
      uiLanguage_(UiLanguage),
      offlineMode_(OfflineMode),
      newsUrl_(NewsUrl) {
    previousHandler_ = SetMessageHandler([this](const MessageRequest& request) {
        requests.push_back(request);
        messages.push_back(request.text);
        return MsgResult::Ok;
    });
}

ProcessStateGuard::~ProcessStateGuard() {
    SetMessageHandler(previousHandler_);
    GameFolder = gameFolder_;
    LauncherConfig = config_;
    UiLanguage = uiLanguage_;
    OfflineMode = offlineMode_;
    NewsUrl = newsUrl_;
}

QuestionAnswers::QuestionAnswers(MsgResult answer) {
    previous_ = SetMessageHandler([this, answer](const MessageRequest& request) {
        seen.push_back(request);
        return request.flags & mb::AbortRetryIgnore ? answer : MsgResult::Ok;
    });
}

QuestionAnswers::~QuestionAnswers() { SetMessageHandler(previous_); }

std::vector<std::string> QuestionAnswers::Texts() const {
    std::vector<std::string> texts;
    for (const MessageRequest& request : seen) texts.push_back(request.text);
    return texts;
}

}  // namespace orv::test
