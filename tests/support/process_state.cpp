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

}  // namespace orv::test
