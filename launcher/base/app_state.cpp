#include "launcher/base/app_state.h"

namespace orv {

int UiLanguage = UiRussian;
std::string GameFolder;
std::string ApplicationTitle = "Orvanta";
void* MainWindowHandle = nullptr;
int32_t StopFlag = 1;

}  // namespace orv
