#include "launcher/integrity/check_run.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <optional>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/platform/utf8.h"
#include "launcher/catalogue.h"
#include "launcher/catalogue_reader.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/long_path.h"

namespace orv {
namespace {

int32_t ConvertOrRaise(const std::string& text) {
    const std::optional<int32_t> value = ParseInt32Decimal(text);
    if (!value) throw Error(ConversionErrorText(text));
    return *value;
}

// The code points of the lower-case rule: Latin-1 capitals and the Cyrillic ones (Ѐ-Я, А-Я).
char32_t LowerOf(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

// What one run keeps between entries.
class Run {
public:
    Run(const CheckRunRequest& request, CheckRunView& view, const CheckRunPlatform& platform)
        : request_(request), view_(view), platform_(platform) {}

    CheckRunResult Execute();

private:
    enum class Next { Continue, Leave };

    Next Entry(ChecklistReader& reader);
    // The file is present with the listed size and checksum.
    bool IsGood(const std::string& place, int32_t size, const std::string& crcText);
    // Unpacks a downloaded file into its place; false when anything failed (the place then holds
    // what it held before).
    bool UnpackIntoPlace(const std::string& target, const std::string& place);
    void FinishEntry();
    void RemoveLeftoversBeside(const std::string& place);
    void ShowCounters(CountersMoment moment, int entries);
    int StepOverall();

    const CheckRunRequest& request_;
    CheckRunView& view_;
    const CheckRunPlatform& platform_;
    CheckRunResult result_;
    std::string totalText_;
    int32_t total_ = 0;
    std::string downloadAddress_;
    // Per folder met so far, the folded names of what a cut-off run may have left there: few in a
    // game folder, so this stays small whatever the checklist lists.
    std::map<std::string, std::set<std::u16string>> leftovers_;
};

CheckRunResult Run::Execute() {
    const int language = UiLanguage;
    const Catalogue catalogue = Catalogue::Load(LocalCataloguePath());
    const std::string section = Catalogue::GameSection(request_.gamePosition);
    const std::string buildKey = std::to_string(request_.buildPosition);
    {
        const std::optional<std::string> stored = catalogue.Document().Find(section, request_.addressKeyPrefix + buildKey);
        const CatalogueText address =
            stored ? CatalogueText{*stored, true} : CatalogueText{catalogue_defaults::Unset, false};
        downloadAddress_ = address.Decoded(platform_.catalogueCodec.toUtf8);
    }
    const std::string checklistName =
        catalogue.ChecklistName(request_.gamePosition, request_.buildPosition).Decoded(platform_.catalogueCodec.toUtf8);

    platform_.setCurrentFolder(GameFolder);
    const std::string shownChecklist = ChecklistShownAddress(downloadAddress_, checklistName);
    const std::string compressed = GameFolder + "\\" + CompressedChecklistFileName(checklistName);
    const std::string checklist = GameFolder + "\\" + ChecklistFileName(checklistName);

    // A file left by an earlier attempt must not pass for this one's download.
    platform_.removeFile(compressed);
    if (platform_.downloadFile(ChecklistUrl(checklistName, platform_.serverBase), compressed)) {
        view_.SetStatus(TextIn(TextId::ChecklistDownloading, language));
        PumpEvents();
    } else {
        ShowMessage(FormatText(TextIn(TextId::ChecklistUnreachable, language), shownChecklist));
        view_.RequestClose();
    }

    view_.SetStatus(TextIn(TextId::CheckingFile, language));
    PumpEvents();
    bool unpacked = false;
    try {
        unpacked = platform_.unpackChecklist(compressed, checklist);
    } catch (const std::exception&) {
        unpacked = false;
    }
    if (!unpacked) {
        ShowMessage(FormatText(TextIn(TextId::ChecklistUnpackFailed, language), shownChecklist));
        view_.Stop();
    }
    platform_.removeFile(compressed);

    totalText_ =
        catalogue.FileCountText(request_.gamePosition, request_.buildPosition).Decoded(platform_.catalogueCodec.toUtf8);
    total_ = ConvertOrRaise(totalText_);
    view_.ResetOverall(std::max(total_, 0));

    ChecklistReader reader = platform_.openChecklist ? platform_.openChecklist(checklist, platform_.checklistPage)
                                                     : ChecklistReader::Open(checklist, platform_.checklistPage);
    while (!reader.AtEnd()) {
        if (Entry(reader) == Next::Leave) break;
    }

    ShowCounters(CountersMoment::AtEnd, view_.OverallPosition());
    platform_.removeFile(checklist);
    view_.BringToFront();

    if (!result_.refusedPaths.empty()) {
        // Something the build lists was not put in place: the folder is not that version.
        ShowMessage(RefusedPathsText(result_.refusedPaths, language));
    } else if (StopFlag == 0) {
        ShowMessage(TextIn(TextId::CheckSucceeded, language));
        const std::string versionSection = settings_keys::ClientVersionSection(AppName);
        WriteLauncherSetting(versionSection, settings_keys::BaseVersion, ServerBaseVersion);
        WriteLauncherSetting(versionSection, settings_keys::BuildVersion, ServerBuildVersion);
        LocalBaseVersion = ServerBaseVersion;
        LocalBuildVersion = ServerBuildVersion;
        result_.completed = true;
        result_.versionRecorded = true;
    }
    view_.Stop();
    return result_;
}

Run::Next Run::Entry(ChecklistReader& reader) {
    const int language = UiLanguage;
    ChecklistEntry entry = reader.Next();
    if (entry.sizeText != "0") view_.SetFileMax(ConvertOrRaise(entry.sizeText));
    if (StopFlag == 1) return Next::Leave;

    const EntryTarget target = ResolveEntry(entry);
    if (target.kind == TargetKind::Refused) {
        result_.refusedPaths.push_back(entry.path);
        return Next::Continue;
    }
    if (target.kind == TargetKind::GameRoot) return Next::Continue;
    if (target.kind == TargetKind::Folder) {
        platform_.createFolder(GameFolder + target.path);
        return Next::Continue;
    }
    const std::string place = EntryPlace(GameFolder, target.path);

    if (entry.sizeText == "0") {
        platform_.createEmptyFile(place);
        ++result_.checked;
        StepOverall();
        view_.SetOverallWidth(OverallProgressWidth(total_, result_.checked));
        PumpEvents();
        return Next::Continue;
    }
    const int32_t size = ConvertOrRaise(entry.sizeText);

    const std::string lowered = platform_.lowerCase ? platform_.lowerCase(entry.path) : LowerCaseText(entry.path);
    view_.SetStatus(CheckingFileText(entry.path, lowered, language));
    if (IsLongStatusPath(entry.path)) ShowCounters(CountersMoment::BeforeLongPath, view_.OverallPosition() - 1);
    PumpEvents();

    RemoveLeftoversBeside(place);

    if (!IsGood(place, size, entry.crcText)) {
        const std::string url = GameFileUrl(downloadAddress_, entry.path);
        const std::string download = DownloadTargetPath(place);
        if (platform_.downloadGameFile(url, download, size, StopFlag)) {
            ++result_.downloaded;
            ShowCounters(CountersMoment::AfterFile, view_.OverallPosition());
            PumpEvents();
        } else {
            ShowMessage(FormatText(TextIn(TextId::GameFileUnreachable, language), url));
            view_.RequestClose();
        }
        if (StopFlag == 1) {
            // The stop came during the transfer or the checksum: nothing may be unpacked.
            platform_.removeFile(download);
            return Next::Leave;
        }

        platform_.makeNormal(place);
        if (!UnpackIntoPlace(download, place)) {
            const MsgResult answer = ShowMessageBox(MessageRequest{TextIn(TextId::UnpackFailedQuestion, language),
                                                                   TextIn(TextId::UnpackFailedCaption, language),
                                                                   mb::AbortRetryIgnore | mb::IconError,
                                                                   MainWindowHandle});
            platform_.removeFile(download);
            if (answer == MsgResult::Abort) {
                view_.Stop();
                return Next::Leave;
            }
            if (answer == MsgResult::Retry) ShowMessage(TextIn(TextId::RetrySkipped, language));
            return Next::Continue;
        }
        platform_.removeFile(download);
        platform_.makeNormal(place);
    }
    FinishEntry();
    return Next::Continue;
}

// A run cut off while repairing a file left its download or its unpacked content beside it;
// nothing else would ever remove them. Under Wine, asking for a missing file costs a search of its
// folder without regard to letter case (about 35 us), and removing one an open through the Wine
// server (about 65 us): each folder is listed once instead (about 200 us), which a game's folders,
// holding many files each, repay many times over.
void Run::RemoveLeftoversBeside(const std::string& place) {
    const std::vector<std::string> beside = LeftoversBeside(place);
    if (!platform_.listFolder) {
        for (const std::string& leftover : beside)
            if (platform_.fileExists(leftover)) platform_.removeFile(leftover);
        return;
    }
    const size_t cut = place.find_last_of('\\');
    const std::string folder = cut == std::string::npos ? std::string() : place.substr(0, cut);
    auto listed = leftovers_.find(folder);
    if (listed == leftovers_.end()) {
        std::set<std::u16string> names;
        for (const FolderEntry& entry : platform_.listFolder(folder))
            if (entry.kind == EntryKind::File && IsLeftoverName(entry.name)) names.insert(FoldLetterCase(entry.name));
        listed = leftovers_.emplace(folder, std::move(names)).first;
    }
    if (listed->second.empty()) return;
    for (const std::string& leftover : beside) {
        const auto found = listed->second.find(FoldLetterCase(leftover.substr(cut + 1)));
        if (found == listed->second.end()) continue;
        platform_.removeFile(leftover);
        listed->second.erase(found);
    }
}

bool Run::IsGood(const std::string& place, int32_t size, const std::string& crcText) {
    if (!platform_.fileExists(place)) return false;
    platform_.makeNormal(place);
    PumpEvents();
    if (platform_.fileSize(place) != size) return false;
    return Crc32Text(platform_.fileCrc32(place, StopFlag)) == crcText;
}

bool Run::UnpackIntoPlace(const std::string& target, const std::string& place) {
    // The download is spent once unpacked. Gone before the file is replaced, it cannot outlive a run
    // cut off in between beside a file that a later run finds good and never fetches.
    const auto unpackSpent = [this](const std::string& input, const std::string& output) {
        const bool unpacked = platform_.unpackGameFile(input, output);
        if (unpacked) platform_.removeFile(input);
        return unpacked;
    };
    return orv::UnpackIntoPlace(target, place, unpackSpent, platform_.replaceFile, platform_.removeFile);
}

void Run::FinishEntry() {
    ++result_.checked;
    StepOverall();
    view_.SetOverallWidth(OverallProgressWidth(total_, result_.checked));
    PumpEvents();
    ShowCounters(CountersMoment::AfterFile, view_.OverallPosition());
    PumpEvents();
    view_.FillFileProgress();
}

int Run::StepOverall() {
    // The bar is a counter held within 0 to the total.
    const int position = std::min(view_.OverallPosition() + 1, std::max(total_, 0));
    view_.SetOverallPosition(position);
    return position;
}

void Run::ShowCounters(CountersMoment moment, int entries) {
    view_.SetCounters(CountersText(moment, totalText_, entries, result_.downloaded, UiLanguage));
}

}  // namespace

bool IsLongStatusPath(std::string_view path) { return Utf8ToUtf16(std::string(path)).size() >= StatusPathLimit; }

std::string CheckingFileText(std::string_view path, std::string_view lowered, int language) {
    std::string text = TextIn(TextId::CheckingFile, language);
    if (!IsLongStatusPath(path)) return text.append(language == UiRussian ? path : lowered);
    const std::u16string wide = Utf8ToUtf16(std::string(path));
    // The last 36 characters: a path of exactly 35 shows whole.
    const size_t shown = std::min(wide.size(), StatusPathLimit + 1);
    return text.append("...").append(Utf16ToUtf8(wide.substr(wide.size() - shown)));
}

std::string CountersText(CountersMoment moment, std::string_view totalText, int entries, int downloaded,
                         int language) {
    TextId id = TextId::CountersAfterFile;
    if (moment == CountersMoment::BeforeLongPath) id = TextId::CountersBeforeCheck;
    if (moment == CountersMoment::AtEnd) id = TextId::CountersAtEnd;
    std::string text = TextIn(id, language);
    text.append(totalText).append(" / ").append(std::to_string(entries)).append(" / ");
    return text.append(std::to_string(downloaded));
}

int OverallProgressWidth(int32_t total, int checked) {
    if (total <= 0) return CheckProgressFullWidth;
    const double width = std::trunc(static_cast<double>(CheckProgressFullWidth) / total * checked);
    // A window cannot be wider than this anyway; the cut keeps the conversion defined.
    constexpr double kWidest = std::numeric_limits<int16_t>::max();
    return static_cast<int>(std::clamp(width, 0.0, kWidest));
}

std::string LowerCaseText(std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(std::string(utf8));
    for (char16_t& c : wide) c = static_cast<char16_t>(LowerOf(c));
    return Utf16ToUtf8(wide);
}

std::string RefusedPathsText(const std::vector<std::string>& paths, int language) {
    std::string list;
    for (size_t i = 0; i < paths.size() && i < RefusedPathsShown; ++i) {
        if (!list.empty()) list += "\n";
        // A hostile line may be megabytes long; its start tells the player enough.
        const std::string& path = paths[i];
        size_t cut = std::min(path.size(), RefusedPathShownBytes);
        while (cut < path.size() && cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
        list.append(path, 0, cut);
        if (cut < path.size()) list += "...";
    }
    if (paths.size() > RefusedPathsShown)
        list.append("\n").append(FormatText(TextIn(TextId::UnsafeChecklistPathsMore, language),
                                            std::to_string(paths.size() - RefusedPathsShown)));
    return FormatText(TextIn(TextId::UnsafeChecklistPaths, language), list);
}

bool HasAttributesToClear(uint32_t attributes) {
    // FILE_ATTRIBUTE_NORMAL and FILE_ATTRIBUTE_ARCHIVE, without <windows.h>. INVALID_FILE_ATTRIBUTES
    // (a file that could not be asked) is tried all the same.
    constexpr uint32_t kNormal = 0x80;
    constexpr uint32_t kArchive = 0x20;
    return attributes != kNormal && attributes != kArchive;
}

CheckRunPlatform PortableCheckRunPlatform() {
    CheckRunPlatform platform;
    platform.unpackChecklist = [](const std::string& input, const std::string& output) {
        if (!LzmaAloneInstance) return false;
        return LzmaAloneInstance->Main(input, output, "d");
    };
    platform.fileExists = &FileExists;
    platform.fileSize = &FileSize64;
    platform.fileCrc32 = [](const std::string& path, const int32_t& stop) { return FileCrc32(path, stop); };
    platform.createEmptyFile = &CreateEmptyFile;
    platform.removeFile = &RemoveFile;
    platform.listFolder = &ListFolder;
    platform.openChecklist = &ChecklistReader::Open;
    return platform;
}

CheckRunPlatform WithExtendedLengthPaths(CheckRunPlatform platform) {
    const auto one = [](auto service) {
        return [service](const std::string& path) { return service(ExtendedLengthPath(path)); };
    };
    const auto two = [](auto service) {
        return [service](const std::string& first, const std::string& second) {
            return service(ExtendedLengthPath(first), ExtendedLengthPath(second));
        };
    };
    CheckRunPlatform& p = platform;
    if (p.downloadFile) {
        p.downloadFile = [service = p.downloadFile](const std::string& url, const std::string& path) {
            return service(url, ExtendedLengthPath(path));
        };
    }
    if (p.unpackChecklist) p.unpackChecklist = two(p.unpackChecklist);
    if (p.downloadGameFile) {
        p.downloadGameFile = [service = p.downloadGameFile](const std::string& url, const std::string& path,
                                                            int32_t size, int32_t& stop) {
            return service(url, ExtendedLengthPath(path), size, stop);
        };
    }
    if (p.unpackGameFile) p.unpackGameFile = two(p.unpackGameFile);
    if (p.replaceFile) p.replaceFile = two(p.replaceFile);
    if (p.fileExists) p.fileExists = one(p.fileExists);
    if (p.makeNormal) p.makeNormal = one(p.makeNormal);
    if (p.fileSize) p.fileSize = one(p.fileSize);
    if (p.fileCrc32) {
        p.fileCrc32 = [service = p.fileCrc32](const std::string& path, const int32_t& stop) {
            return service(ExtendedLengthPath(path), stop);
        };
    }
    if (p.createEmptyFile) p.createEmptyFile = one(p.createEmptyFile);
    if (p.createFolder) p.createFolder = one(p.createFolder);
    if (p.removeFile) p.removeFile = one(p.removeFile);
    if (p.listFolder) p.listFolder = one(p.listFolder);
    if (!p.openChecklist) p.openChecklist = &ChecklistReader::Open;
    p.openChecklist = [service = p.openChecklist](const std::string& path, const AnsiTextDecoder& decode) {
        return service(ExtendedLengthPath(path), decode);
    };
    return platform;
}

CheckRunResult RunCheck(const CheckRunRequest& request, CheckRunView& view, const CheckRunPlatform& platform) {
    Run run(request, view, platform);
    return run.Execute();
}

}  // namespace orv
