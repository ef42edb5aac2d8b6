// English texts, in the order of TextId.
#include "launcher/base/texts.h"

namespace orv::texts_detail {

const char* const kEnglish[static_cast<int>(TextId::Count)] = {
    // AlreadyRunning
    "The program is already running before, check it is possible minimized to the system tray or "
    "running other user on the system.",
    // SettingsError
    "Ошибка настроек",
    // UnableToWrite
    "Unable to write to %s",
    // ErrorInternetReadFile
    "Error InternetReadFile",
};

}  // namespace orv::texts_detail
