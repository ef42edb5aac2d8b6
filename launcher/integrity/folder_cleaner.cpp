#include "launcher/integrity/folder_cleaner.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "game_profile.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/integrity/keep_list.h"
#include "launcher/integrity/statement.h"
#include "launcher/platform/files.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

constexpr const char* kKeepListFileName = "list.json";

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

// Paths are joined and written the Windows way, and the POSIX file layer reads every "\" as "/":
// a POSIX name holding one ("..\outside") would name something else, possibly outside the folder.
// Windows names never hold one, so refusing such a name (leaving it alone) changes nothing there.
bool IsJoinableName(const std::string& name) { return name.find_first_of("\\/") == std::string::npos; }

// Why the server's keep list may not be followed by a keyed build; empty when its statement is
// signed by the key and covers exactly `list`, the bytes that were read. The statement is fetched
// now and removed again whatever it holds: a copy from an earlier run vouches for nothing.
std::string KeepListDistrust(const std::string& keepListUrl, const std::string& listPath, const std::string& list,
                             const CleanerServices& services) {
    const std::string statementPath = listPath + ".sig";
    RemoveFile(statementPath);
    std::string text;
    std::string why;
    if (!services.download(keepListUrl + ".sig", statementPath)) {
        why = "its statement did not download";
    } else {
        // The download service has no limit of its own, so the size is judged before reading.
        const FileProbe probe = ProbeFile(statementPath);
        if (!probe.exists || probe.size < 0) {
            why = "its statement did not download";
        } else if (static_cast<uint64_t>(probe.size) > kStatementMaxBytes) {
            why = "its statement is larger than " + std::to_string(kStatementMaxBytes) + " bytes";
        } else {
            try {
                text = ReadFileBytes(statementPath);
            } catch (const EOSError&) {
                why = "its statement could not be read";
            }
        }
    }
    SetNormalFileAttributes(statementPath);
    RemoveFile(statementPath);
    if (!why.empty()) return why;

    const std::optional<EcdsaPublicKey> key = PublisherKeyFromHex(services.publisherKey);
    if (!key) return "the program's publisher key is not valid";
    StatementExpectation expected;
    expected.kind = StatementKind::KeepList;
    expected.game = GameCode;
    expected.name = std::string(GameCode) + "clean.json";
    expected.now = services.now ? services.now()
                                : std::chrono::duration_cast<std::chrono::seconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
    Statement statement;
    TrustResult trust = VerifyStatement(text, *key, expected, &statement);
    if (trust) trust = CheckCoveredDigest(statement, FileDigest{Sha256Of(list), list.size()});
    return trust ? std::string() : trust.detail;
}

bool IsLinkKind(EntryKind kind) { return kind == EntryKind::FileLink || kind == EntryKind::FolderLink; }

void RemoveFileEntry(const std::string& path, EntryKind kind) {
    // A link goes as it is: making it writable could change the attributes of what it points to.
    if (IsLinkKind(kind)) {
        RemoveLink(path, kind);
        return;
    }
    SetNormalFileAttributes(path);
    RemoveFile(path);
}

}  // namespace

FolderWalk WalkFolder(const std::string& root) {
    FolderWalk walk;
    // An explicit stack rather than recursion: folders can nest as deep as long paths allow. A
    // folder is recorded when it comes off the stack, and its subfolders go on in reverse, so the
    // first subfolder and everything below it come before the next sibling (pre-order).
    std::vector<WalkedEntry> pending{{std::string(), EntryKind::Folder}};
    bool top = true;
    while (!pending.empty()) {
        const WalkedEntry folder = std::move(pending.back());
        pending.pop_back();
        if (!top) walk.folders.push_back(folder);
        top = false;
        // A link to a folder is listed, never entered: what lies behind it is not the game's.
        if (folder.kind != EntryKind::Folder) continue;
        std::vector<WalkedEntry> subfolders;
        for (const FolderEntry& entry : ListFolder(folder.path.empty() ? root : root + "\\" + folder.path)) {
            if (!IsJoinableName(entry.name)) continue;
            WalkedEntry walked{Joined(folder.path, entry.name), entry.kind};
            if (entry.kind == EntryKind::Folder || entry.kind == EntryKind::FolderLink)
                subfolders.push_back(std::move(walked));
            else
                walk.files.push_back(std::move(walked));
        }
        pending.insert(pending.end(), std::make_move_iterator(subfolders.rbegin()),
                       std::make_move_iterator(subfolders.rend()));
    }
    return walk;
}

KeepNames::KeepNames(const std::vector<std::string>& names) {
    folded_.reserve(names.size());
    for (const std::string& name : names) folded_.push_back(FoldLetterCase(name));
    std::sort(folded_.begin(), folded_.end());
}

bool KeepNames::Contains(std::string_view path) const {
    return std::binary_search(folded_.begin(), folded_.end(), FoldLetterCase(std::string(path)));
}

const std::vector<std::string>& FixedKeepNames() {
    static const std::vector<std::string> names{"rev.bak",      "inf.ini",      "unins000.dat", "unins000.exe",
                                                "unins001.dat", "unins001.exe", SettingsFileName};
    return names;
}

void RemoveEntry(const std::string& path, EntryKind kind) {
    if (kind != EntryKind::Folder) return RemoveFileEntry(path, kind);
    // Depth first without recursion; a folder goes once everything listed in it has been handled.
    struct Pending {
        std::string path;
        bool listed;
    };
    std::vector<Pending> pending{{path, false}};
    while (!pending.empty()) {
        if (pending.back().listed) {
            RemoveEmptyFolder(pending.back().path);
            pending.pop_back();
            continue;
        }
        pending.back().listed = true;
        const std::string folder = pending.back().path;
        for (const FolderEntry& entry : ListFolder(folder)) {
            if (!IsJoinableName(entry.name)) continue;
            const std::string child = folder + "\\" + entry.name;
            if (entry.kind == EntryKind::Folder)
                pending.push_back({child, false});
            else
                RemoveFileEntry(child, entry.kind);
        }
    }
}

bool CleanGameFolder(const std::string& gameFolder, const std::string& keepListUrl, const CleanerServices& services) {
    if (!FileExists(gameFolder + "\\" + GameExeName)) {
        ShowMessage(FormatText(Tr(TextId::CleanerNoGame), GameExeName));
        return false;
    }
    // The walk comes first, so a list.json of an earlier run is among the walked files.
    const FolderWalk walk = WalkFolder(LongPathForm(gameFolder));

    const std::string listPath = gameFolder + "\\" + kKeepListFileName;
    if (!services.download(keepListUrl, listPath)) throw Error(FormatText(Tr(TextId::CleanerDownloadFailed), keepListUrl));
    std::string bytes;
    try {
        bytes = ReadFileBytes(listPath);
    } catch (const EOSError&) {
        throw Error(Tr(TextId::CleanerListUnreadable));
    }
    const bool keyed = !services.publisherKey.empty();
    if (keyed) {
        const std::string why = KeepListDistrust(keepListUrl, listPath, bytes, services);
        if (!why.empty()) {
            SetNormalFileAttributes(listPath);
            RemoveFile(listPath);
            ShowMessage(FormatText(Tr(TextId::CleanerListNotSigned), why));
            return false;
        }
    }
    const KeepList list = ReadKeepList(bytes, services.ansiToUtf8);

    std::vector<std::string> files = list.Files;
    files.insert(files.end(), FixedKeepNames().begin(), FixedKeepNames().end());
    // A keyed check run refuses a build whose catalogue statement has gone.
    if (keyed) files.push_back("inf.ini.sig");
    const KeepNames filesToKeep(files);
    for (const WalkedEntry& file : walk.files)
        if (!filesToKeep.Contains(file.path)) RemoveFileEntry(gameFolder + "\\" + file.path, file.kind);

    const KeepNames foldersToKeep(list.Dirs);
    for (const WalkedEntry& folder : walk.folders)
        if (!foldersToKeep.Contains(folder.path)) RemoveEntry(gameFolder + "\\" + folder.path, folder.kind);
    return true;
}

}  // namespace orv
