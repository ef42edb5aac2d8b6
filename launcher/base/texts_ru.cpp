// Russian texts, in the order of TextId.
#include "launcher/base/texts.h"

namespace orv::texts_detail {

const char* const kRussian[static_cast<int>(TextId::Count)] = {
    // AlreadyRunning
    "Программа уже запущена ранее, проверьте возможно она свернута в трей или запущена другим "
    "пользователем системы.",
    // SettingsError
    "Ошибка настроек",
    // UnableToWrite
    "Unable to write to %s",
    // ErrorInternetReadFile
    "Error InternetReadFile",
};

}  // namespace orv::texts_detail
