#include "launcher/base/app_state.h"

#include "game_profile.h"

namespace orv {

int UiLanguage = UiRussian;
std::string GameFolder;
std::string ApplicationTitle = "Orvanta";
void* MainWindowHandle = nullptr;
int32_t StopFlag = 1;

bool OfflineMode = false;
bool SelfUpdateNeeded = false;
int TypeOfSelfUpdate = 1;
std::string ManualUpdateUrl = std::string(NewsSiteBase) + "download/";
int ShowNotificationSelfUpdate = 7;
int AllowCancelSelfUpdate = 3;
bool ForceUpdateRequested = false;
bool WindowShown = false;
bool CreationFinished = false;

std::string NewsUrl = "about:blank";
std::string AppName;
std::string ServerBaseVersion = "0";
std::string ServerBuildVersion = "0";
bool UseSteamCmd = false;
std::string LocalBaseVersion = "0";
std::string LocalBuildVersion = "0";

}  // namespace orv
