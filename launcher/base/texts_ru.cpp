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
    // CatalogueUnreachable
    "Ошибка загрузки %s видимо сервер недоступен, либо интернет не работает",
    // CatalogueNotSigned
    "Каталог сервера обновлений %s не подписан издателем лаунчера. Лаунчер работает без сервера.",
    // NicknameTooLong
    "Длина ника превышает %s символ(ов).",
    // ClanTagTooLong
    "Длина клантега превышает %s символ(ов).",
    // ChangeNickname
    "Пожалуйста смените ник.",
    // UnsafeLoaderPath
    "Загрузчик игры \"%s\" из каталога сервера лежит вне папки игры и не будет запущен.",
    // UnsafeConnectLink
    "Адрес сервера \"%s\" в ссылке недопустим, игра не будет запущена.",
    // MainCaptionSuffix
    " Лаунчер",
    // LabelGameName
    "Игра",
    // LabelGameVersion
    "Выберите версию",
    // LabelNickname
    "Ваш ник:",
    // LabelClanTag
    "КланТэг:",
    // MenuLanguage
    "Язык / Language",
    // MenuAbout
    "О программе",
    // TrayMenuExit
    "Выход",
    // AboutVersion
    "Orvanta версия 1.2",
    // AboutQuestions
    "Все вопросы, отзывы, замечания",
    // AboutWriteTo
    "можно написать на e-mail:",
    // NicknameInitial
    "You name",
    // ClanTagInitial
    "ClanTag",
    // OfflineTitle
    "Автономный режим Orvanta",
    // OfflineHeading
    "Orvanta находится в автономном режиме",
    // OfflineText
    "Невозможно подключиться к серверу. Возможно, сервер отключен или у вас отсутствует подключение к "
    "интернету.",
    // OfflineDetails
    "Подробности",
    // ChecklistDownloading
    "Выкачиваем cheklist",
    // CheckingFile
    "Проверяется файл: ",
    // CountersBeforeCheck
    "Всего/Проверено/Выкачено файлов: ",
    // CountersAfterFile
    "Всего/Проверено/Загружено файлов: ",
    // CountersAtEnd
    "Всего/Проверено/Загруженно файлов: ",
    // ChecklistUnreachable
    "Ошибка загрузки %s видимо сервер недоступен, либо интернет не работает",
    // ChecklistUnpackFailed
    "Ошибка распаковки %s проверка остановлена.",
    // GameFileUnreachable
    "Ошибка загрузки %s видимо сервер недоступен, либо интернет не работает",
    // DownloadRetrying
    "Связь прервалась, повторная попытка (%s из %s) через %s с: %s",
    // ChecklistNotSigned
    "Список файлов этой сборки не подписан издателем: %s",
    // GameFileNotSigned
    "Файл %s с сервера не совпадает с подписью издателя",
    // CheckSucceeded
    "Проверка файлов прошла успешно",
    // UnpackFailedQuestion
    "Error while unpacking the file, what should I do ??",
    // UnpackFailedCaption
    "Think please :)",
    // RetrySkipped
    "Retry Error! Skipped.",
    // UnsafeChecklistPaths
    "Файлы из списка проверки, которые указывают за пределы папки игры, пропущены, версия игры не записана:\n%s",
    // UnsafeChecklistPathsMore
    "... и ещё %s",
    // SettingsCaption
    "Настройки",
    // SettingsRepairGame
    "Востановить игру",
    // GameVersionQuestionStart
    "Вышла новая версия игры = ",
    // GameVersionQuestionEnd
    " Выполнить обновление?",
    // UpdateAvailableCaption
    "Доступно обновление",
    // GameVersionNotificationHint
    "Вы можете отключить оповещение о новой версии в настройках.",
    // LauncherOutdatedQuestionManual
    "Ваша версия лаунчера устарела. Перейти на страницу загрузки обновления лаунчера?",
    // LauncherOutdatedWarningManual
    "Ваша версия лаунчера устарела. Сейчас Вы перейдете на страницу обновления лаунчера.",
    // LauncherOutdatedQuestionInstaller
    "Ваша версия лаунчера устарела. Загрузить установщик обновления до новой версии лаунчера?",
    // LauncherOutdatedWarningInstaller
    "Ваша версия лаунчера устарела. Сейчас Вам будем загружен установщик для обновления до новой версии лаунчера.",
    // LauncherOutdatedQuestionDirect
    "Ваша версия лаунчера устарела. Загрузить обновления до новой версии лаунчера?",
    // LauncherOutdatedWarningDirect
    "Ваша версия лаунчера устарела. Сейчас Вам будем загружено обновление до новой версии лаунчера.",
    // LauncherOutdatedQuestionOther
    "Ваша версия лаунчера устарела. Перейти на страницу загрузки обновления лаунчера?",
    // SelfUpdateFailedCaption
    "Ошибка при автообновлении",
    // SelfUpdateFailedQuestion
    "Произошла ошибка при автоматическом обновлении лаунчера. Перейти на страницу загрузки лаунчера, для обновления лаунчера вручную?",
    // SelfUpdateInstallerDownloading
    "Идет загрузка установщика обновления для лаунчера",
    // SelfUpdateInstallerUnpacking
    "Идет распаковка установщика обновления для лаунчера",
    // SelfUpdateDownloading
    "Идет загрузка обновления для лаунчера",
    // SelfUpdateUnpacking
    "Идет распаковка обновления для лаунчера",
    // InstallStarting
    "Starting",
    // SettingsPrivateRank
    "Приватный ранг",
    // SettingsCompetitiveRank
    "Звание",
    // SettingsChangeAvatar
    "Сменить аватарку",
    // SettingsRunOptions
    "Опции запуска (%s)",
    // SettingsRestoreRunOptionsHint
    "Восстановить стандартные опции запуска",
    // SettingsNotifyNewVersion
    "Уведомлять о новой версии игры",
    // CleanerNoGame
    "%s not found in folder. Clearing can be dangerous, check folder with launcher or reinstall the game.",
    // CleanerDownloadFailed
    "Error downloading URL: %s",
    // CleanerListUnreadable
    "Checklist file did not download.",
    // CleanerListNotSigned
    "Список сохраняемых файлов с сервера обновлений не подписан издателем: %s. Ничего не удалено.",
    // AvatarCaption
    "Выбор Аватара",
    // AvatarSelect
    "Выбрать Аватар",
    // AvatarSave
    "Сохранить",
    // AvatarSizeAdvice
    "Выберите изображение размером 64 на 64 (рекомендуется)",
    // AvatarSizeAdviceCaption
    "Внимание!",
    // AvatarCopied
    "Файл для аватарки успешно скопирован!\nМожно закрыть окно.",
    // AvatarCopyFailed
    "Что-то пошло не так! Код ошибки: ",
    // InvalidImage
    "Invalid image",
    // UnknownPictureExtension
    "Unknown picture file extension (.%s)",
};

}  // namespace orv::texts_detail
