#include "launcher/integrity/folder_cleaner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/integrity/keep_list.h"
#include "launcher/platform/files.h"
#include "launcher/integrity/statement.h"
#include "signed_statements.h"
#include "support/process_state.h"
#include "support/test_files.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::WriteFile;

constexpr const char* kUrl = "http://127.0.0.1:8740/cstrike/cstrikeclean.json";

// Every entry below `top`, links not followed, as "/"-separated relative paths (folders end in "/").
std::set<std::string> Listing(const fs::path& top) {
    std::set<std::string> all;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
        const bool folder = it->is_directory() && !it->is_symlink();
        all.insert(it->path().lexically_relative(top).generic_string() + (folder ? "/" : ""));
    }
    return all;
}

class FolderCleanerTest : public ::testing::Test {
protected:
    void SetUp() override {
        game_ = root_.Path() + "\\game";
        outside_ = root_.Path() + "\\outside";
        CreateDirectories(game_);
        CreateDirectories(outside_);
        Put(outside_ + "\\precious.txt", "not the game's");
    }
    static void Put(const std::string& path, const std::string& bytes) {
        CreateDirectories(path.substr(0, path.find_last_of('\\')));
        WriteFile(path, bytes);
    }
    void PutGame(const std::vector<std::string>& relatives) {
        for (const std::string& relative : relatives) Put(Game(relative), "data of " + relative);
    }
    std::string Game(const std::string& relative) const { return game_ + "\\" + relative; }
    std::set<std::string> GameListing() const { return Listing(test::FsPath(game_)); }
    std::set<std::string> OutsideListing() const { return Listing(test::FsPath(outside_)); }

    // Runs the cleaner with `document` as the server's keep list (none: the download fails).
    bool Clean(const std::optional<std::string>& document) {
        CleanerServices services;
        services.download = [this, document](const std::string& url, const std::string& path) {
            ++downloads;
            EXPECT_EQ(url, kUrl);
            if (!document) return false;
            WriteFile(path, *document);
            return true;
        };
        // A stand-in for the system's code page: Latin-1 bytes as their characters.
        services.ansiToUtf8 = [](std::string_view bytes) {
            std::string text;
            for (const char c : bytes) {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x80) {
                    text += c;
                } else {
                    text += static_cast<char>(0xC0 | (byte >> 6));
                    text += static_cast<char>(0x80 | (byte & 0x3F));
                }
            }
            return text;
        };
        return CleanGameFolder(game_, kUrl, services);
    }
    // A keyed run (`key` empty: an unkeyed one) against a server that serves `list` and, when given,
    // `statement` as the list's ".sig"; the clock stands at `now`.
    bool CleanKeyed(const std::string& key, const std::string& list, const std::optional<std::string>& statement,
                    int64_t now) {
        CleanerServices services;
        services.publisherKey = key;
        services.now = [now] { return now; };
        services.ansiToUtf8 = [](std::string_view bytes) { return std::string(bytes); };
        services.download = [this, &list, &statement](const std::string& url, const std::string& path) {
            ++downloads;
            if (url == kUrl) {
                WriteFile(path, list);
                return true;
            }
            if (url != std::string(kUrl) + ".sig" || !statement) return false;
            WriteFile(path, *statement);
            return true;
        };
        return CleanGameFolder(game_, kUrl, services);
    }
    std::string CleanError(const std::optional<std::string>& document) {
        try {
            Clean(document);
        } catch (const Error& e) {
            return e.what();
        }
        return "<no error>";
    }

    test::ProcessStateGuard state_;
    test::TempDir root_;
    std::string game_, outside_;
    int downloads = 0;
};

TEST_F(FolderCleanerTest, TheWalkListsFoldersInPreOrderAndFilesWithRelativePaths) {
    PutGame({"a\\x\\deep.txt", "a\\y\\f.txt", "b\\g.txt", "top.txt"});
    CreateDirectories(Game("a\\x\\empty"));
    const FolderWalk walk = WalkFolder(game_);
    std::vector<std::string> folders;
    for (const WalkedEntry& e : walk.folders) folders.push_back(e.path);
    // Pre-order whatever order the file system gives siblings in: each folder comes after its
    // parent and before any folder outside its own branch.
    ASSERT_EQ(folders.size(), 5u);
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::string& f = folders[i];
        const size_t cut = f.find_last_of('\\');
        if (cut != std::string::npos) {
            const auto parent = std::find(folders.begin(), folders.end(), f.substr(0, cut));
            ASSERT_NE(parent, folders.end()) << f;
            for (auto it = parent + 1; it != folders.begin() + static_cast<ptrdiff_t>(i); ++it)
                EXPECT_EQ(it->rfind(f.substr(0, cut) + "\\", 0), 0u) << *it << " interrupts the branch of " << f;
        }
    }
    EXPECT_EQ(std::set<std::string>(folders.begin(), folders.end()),
              (std::set<std::string>{"a", "a\\x", "a\\x\\empty", "a\\y", "b"}));
    std::set<std::string> files;
    for (const WalkedEntry& e : walk.files) {
        files.insert(e.path);
        EXPECT_EQ(e.kind, EntryKind::File);
    }
    EXPECT_EQ(files, (std::set<std::string>{"a\\x\\deep.txt", "a\\y\\f.txt", "b\\g.txt", "top.txt"}));
}

TEST_F(FolderCleanerTest, KeepsWhatTheListNamesWithoutRegardToCaseAndTheFixedNamesOnlyAtTheTop) {
    PutGame({GameExeName, "rev.ini", "rev.bak", "inf.ini", "unins000.exe", SettingsFileName, "sub\\rev.bak",
             "cstrike\\cfg\\autoexec.cfg", "cstrike\\cfg\\mine.cfg", "cstrike\\maps\\de_dust2.bsp",
             "bin\\client.dll", "bin\\foreign.dll", "orphan\\kept-but-folder-goes.txt", "platform\\avatar.dat"});
    test::SetReadOnly(Game("bin\\foreign.dll"), true);
    const KeepList list{{"hl2.exe", "CSTRIKE\\CFG\\AUTOEXEC.CFG", "cstrike\\maps\\de_dust2.bsp", "bin\\client.dll",
                         "orphan\\kept-but-folder-goes.txt"},
                        {"cstrike\\maps", "Bin", "cstrike\\cfg"}};
    ASSERT_TRUE(Clean(WriteKeepList(list)));
    EXPECT_EQ(downloads, 1);
    // cstrike itself is not listed: the folder pass takes it with its listed subfolders.
    EXPECT_EQ(GameListing(), (std::set<std::string>{"bin/", "bin/client.dll", "hl2.exe", "inf.ini", "list.json",
                                                    "rev.bak", "unins000.exe", SettingsFileName}));
    EXPECT_TRUE(state_.messages.empty());
}

TEST_F(FolderCleanerTest, AKeptFolderNeedsItsAncestorsAndListJsonStaysOnlyAfterAFirstRun) {
    PutGame({GameExeName, "cstrike\\cfg\\autoexec.cfg", "cstrike\\cfg\\mine.cfg", "cstrike\\maps\\old.bsp"});
    const std::string document =
        WriteKeepList({{"hl2.exe", "cstrike\\cfg\\autoexec.cfg"}, {"cstrike", "cstrike\\cfg"}});
    // First run: list.json did not exist when the folder was walked, so the fresh copy stays.
    ASSERT_TRUE(Clean(document));
    EXPECT_EQ(GameListing(), (std::set<std::string>{"cstrike/", "cstrike/cfg/", "cstrike/cfg/autoexec.cfg",
                                                    "hl2.exe", "list.json"}));
    EXPECT_EQ(ReadFile(Game("list.json")), document);
    // A later run walks the old copy, which the file pass then removes.
    ASSERT_TRUE(Clean(document));
    EXPECT_FALSE(Exists(Game("list.json")));
    // Unless the list names it.
    ASSERT_TRUE(Clean(WriteKeepList({{"hl2.exe", "LIST.JSON"}, {}})));
    ASSERT_TRUE(Clean(WriteKeepList({{"hl2.exe", "LIST.JSON"}, {}})));
    EXPECT_EQ(GameListing(), (std::set<std::string>{"hl2.exe", "list.json"}));
}

TEST_F(FolderCleanerTest, AFolderWithoutTheGameIsLeftAloneWithAnEnglishMessage) {
    PutGame({"cstrike\\maps\\de_dust2.bsp", "readme.txt"});
    const auto before = GameListing();
    for (const int language : {0, 1}) {
        state_.messages.clear();
        UiLanguage = language;
        EXPECT_FALSE(Clean(WriteKeepList({{}, {}})));
        EXPECT_EQ(state_.messages, std::vector<std::string>{std::string(GameExeName) +
                                                             " not found in folder. Clearing can be dangerous, check "
                                                             "folder with launcher or reinstall the game."});
    }
    EXPECT_EQ(downloads, 0);
    EXPECT_EQ(GameListing(), before);
}

TEST_F(FolderCleanerTest, AFailedDownloadOrADocumentThatIsNoKeepListDeletesNothing) {
    PutGame({GameExeName, "cstrike\\maps\\de_dust2.bsp", "readme.txt"});
    const std::string notJson = "File does not contains JSON-data.";
    const struct {
        std::optional<std::string> document;
        std::string error;
    } cases[] = {
        {std::nullopt, std::string("Error downloading URL: ") + kUrl},
        {"", notJson},
        {"Just some text", notJson},
        {"<html><body>404 Not Found</body></html>", notJson},
        {"[\"hl2.exe\"]", notJson},
        {"\"Files\"", notJson},
        {"{\"Files\": [\"hl2.exe\"]}", notJson},
        {"{\"Files\": [], \"Dirs\": {}}", notJson},
        {"{\"Files\": \"hl2.exe\", \"Dirs\": []}", notJson},
        {"{\"Files\": [], \"Dirs\": [] ", notJson},
    };
    const auto before = GameListing();
    for (const auto& c : cases) {
        EXPECT_EQ(CleanError(c.document), c.error) << c.document.value_or("<no download>");
        auto after = GameListing();
        after.erase("list.json");
        EXPECT_EQ(after, before) << c.document.value_or("<no download>");
    }
    EXPECT_TRUE(state_.messages.empty());
}

TEST_F(FolderCleanerTest, AKeyedBuildFollowsOnlyAKeepListTheKeySigned) {
    SKIP_WITHOUT_SIGNING();
    const int64_t now = *ParseUtcTime("2026-12-10T00:00:00Z");
    const std::string name = std::string(GameCode) + "clean.json";
    const std::string list = WriteKeepList({{"hl2.exe", "cstrike\\cfg\\autoexec.cfg"}, {"cstrike", "cstrike\\cfg"}});
    const auto signedFor = [&](StatementKind kind, const std::string& game, const std::string& covered,
                               int64_t expires = test::kFarExpiry) {
        return test::SignedText(test::StatementFor(kind, game, kind == StatementKind::KeepList ? name : "inf.ini",
                                                   covered, 1, expires));
    };
    const std::string good = signedFor(StatementKind::KeepList, GameCode, list);
    const std::string key = test::TestPublicKeyHex();
    const struct {
        const char* what;
        std::string key;
        std::optional<std::string> statement;
        std::string served;  // the list as served
        bool cleans;
    } cases[] = {
        {"signed", key, good, list, true},
        {"no statement", key, std::nullopt, list, false},
        {"another key", test::OtherPublicKeyHex(), good, list, false},
        {"a changed list", key, good, list + " ", false},
        {"expired", key, signedFor(StatementKind::KeepList, GameCode, list, now), list, false},
        {"another kind", key, signedFor(StatementKind::Catalogue, GameCode, list), list, false},
        {"another game", key, signedFor(StatementKind::KeepList, "dod", list), list, false},
        {"too large", key, good + std::string(kStatementMaxBytes, '#'), list, false},
        {"a key that does not decode", "00", good, list, false},
    };
    const std::set<std::string> cleaned{"cstrike/", "cstrike/cfg/", "cstrike/cfg/autoexec.cfg", "hl2.exe",
                                        "inf.ini", "inf.ini.sig", "list.json"};
    UiLanguage = 1;
    for (const auto& c : cases) {
        PutGame({GameExeName, "cstrike\\cfg\\autoexec.cfg", "cstrike\\maps\\de_dust2.bsp", "inf.ini", "inf.ini.sig",
                 "list.json.sig"});
        const auto before = GameListing();
        state_.messages.clear();
        EXPECT_EQ(CleanKeyed(c.key, c.served, c.statement, now), c.cleans) << c.what;
        if (c.cleans) {
            EXPECT_EQ(GameListing(), cleaned) << c.what;
            EXPECT_TRUE(state_.messages.empty()) << c.what;
        } else {
            auto expected = before;
            // The downloaded files go, and an earlier run's statement, which vouches for nothing.
            expected.erase("list.json");
            expected.erase("list.json.sig");
            EXPECT_EQ(GameListing(), expected) << c.what;
            ASSERT_EQ(state_.messages.size(), 1u) << c.what;
            EXPECT_EQ(state_.messages[0].rfind("The keep list of the update server is not signed by the publisher: ", 0),
                      0u)
                << c.what << ": " << state_.messages[0];
        }
    }
    UiLanguage = 0;
    state_.messages.clear();
    EXPECT_FALSE(CleanKeyed(key, list + " ", good, now));
    ASSERT_EQ(state_.messages.size(), 1u);
    EXPECT_EQ(state_.messages[0].rfind("Список сохраняемых файлов с сервера обновлений не подписан издателем: ", 0), 0u);
}

TEST_F(FolderCleanerTest, AnUnkeyedBuildFetchesNoStatementAndKeepsNoCatalogueStatement) {
    PutGame({GameExeName, "inf.ini", "inf.ini.sig"});
    ASSERT_TRUE(CleanKeyed("", WriteKeepList({{"hl2.exe"}, {}}), "not a statement", 0));
    EXPECT_EQ(downloads, 1);
    EXPECT_EQ(GameListing(), (std::set<std::string>{"hl2.exe", "inf.ini", "list.json"}));
    EXPECT_TRUE(state_.messages.empty());
}

TEST_F(FolderCleanerTest, AnUnreadableListIsReportedAsNotDownloaded) {
    PutGame({GameExeName, "readme.txt"});
    CleanerServices services;
    // A download that claims success but leaves a folder where the file should be.
    services.download = [](const std::string&, const std::string& path) {
        CreateDirectories(path);
        return true;
    };
    services.ansiToUtf8 = [](std::string_view bytes) { return std::string(bytes); };
    try {
        CleanGameFolder(game_, kUrl, services);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Checklist file did not download.");
    }
    EXPECT_TRUE(Exists(Game("readme.txt")));
}

TEST_F(FolderCleanerTest, NamesThatLeaveTheFolderProtectNothingAndReachNothingOutside) {
    PutGame({GameExeName, "cstrike\\cfg\\autoexec.cfg", "readme.txt"});
    const auto outsideBefore = OutsideListing();
    const std::string document =
        "{\"Files\": [\"hl2.exe\", \"..\\\\outside\\\\precious.txt\", \"cstrike\\\\..\\\\readme.txt\", "
        "\"C:\\\\readme.txt\", \"\\\\readme.txt\", 42, null], "
        "\"Dirs\": [\"..\", \"..\\\\outside\", \"C:\\\\\", \"\\\\cstrike\", \"cstrike\\\\.\"]}";
    ASSERT_TRUE(Clean(document));
    EXPECT_EQ(GameListing(), (std::set<std::string>{"hl2.exe", "list.json"}));
    EXPECT_EQ(OutsideListing(), outsideBefore);
    EXPECT_EQ(ReadFile(outside_ + "\\precious.txt"), "not the game's");
}

#ifndef _WIN32
// A POSIX name may hold "\", which the file layer reads as a separator once the name is joined into
// a path: such names are left alone, and what they would name stays untouched.
TEST_F(FolderCleanerTest, APosixNameHoldingABackslashIsLeftAloneAndReachesNothingOutside) {
    const fs::path game = test::FsPath(game_);
    const struct {
        const char* name;
        std::vector<fs::path> make;  // below the game folder; a last element ending in "/" is a folder
    } cases[] = {
        {"a file naming a file outside", {"..\\outside\\precious.txt"}},
        {"a folder naming the folder outside", {"..\\outside/"}},
        {"a file inside a removed folder", {"cstrike/..\\..\\outside\\precious.txt"}},
        {"a folder inside a removed folder", {"cstrike/..\\..\\outside/"}},
    };
    for (const auto& c : cases) {
        PutGame({GameExeName});
        for (const fs::path& relative : c.make) {
            const std::string text = relative.string();
            if (text.ends_with("/")) {
                fs::create_directories(game / text.substr(0, text.size() - 1));
            } else {
                fs::create_directories((game / relative).parent_path());
                std::ofstream(game / relative) << "odd name";
            }
        }
        const auto outsideBefore = OutsideListing();
        ASSERT_TRUE(Clean("{\"Files\": [\"hl2.exe\"], \"Dirs\": []}")) << c.name;
        EXPECT_EQ(OutsideListing(), outsideBefore) << c.name;
        EXPECT_EQ(ReadFile(outside_ + "\\precious.txt"), "not the game's") << c.name;
        for (const fs::path& relative : c.make) {
            const std::string text = relative.string();
            EXPECT_TRUE(fs::exists(game / (text.ends_with("/") ? text.substr(0, text.size() - 1) : text)))
                << c.name << ": the odd name is left as it is";
        }
        EXPECT_TRUE(Exists(Game(GameExeName))) << c.name;
        fs::remove_all(game);
        CreateDirectories(game_);
    }
}
#endif

TEST_F(FolderCleanerTest, ByteOrderMarksAndTheAnsiPageDecideTheNames) {
    PutGame({GameExeName, "\xC3\xA9t\xC3\xA9.cfg", "\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0.cfg", "plain.cfg"});
    // Without a mark the bytes are in the system's page (the test's stand-in reads Latin-1);
    // with the UTF-8 mark they are UTF-8, with letter case folded for Cyrillic too.
    ASSERT_TRUE(Clean("{\"Files\": [\"hl2.exe\", \"\xC9T\xC9.CFG\"], \"Dirs\": []}"));
    EXPECT_TRUE(Exists(Game("\xC3\xA9t\xC3\xA9.cfg")));
    EXPECT_FALSE(Exists(Game("\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0.cfg")));
    PutGame({"\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0.cfg"});
    ASSERT_TRUE(Clean("\xEF\xBB\xBF{\"Files\": [\"hl2.exe\", \"\xD0\x98\xD0\x93\xD0\xA0\xD0\x90.cfg\"], \"Dirs\": []}"));
    EXPECT_TRUE(Exists(Game("\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0.cfg")));
    EXPECT_FALSE(Exists(Game("\xC3\xA9t\xC3\xA9.cfg")));
    EXPECT_FALSE(Exists(Game("plain.cfg")));
}

TEST_F(FolderCleanerTest, LinksInsideTheFolderAreRemovedAsLinksAndNeverFollowed) {
    PutGame({GameExeName, "cstrike\\cfg\\autoexec.cfg"});
    Put(outside_ + "\\sub\\inner.txt", "inner");
    std::error_code error;
    fs::create_directory_symlink(test::FsPath(outside_), test::FsPath(Game("linked")), error);
    if (!error) fs::create_directory_symlink(test::FsPath(outside_), test::FsPath(Game("cstrike\\linked")), error);
    if (!error) fs::create_directory_symlink(test::FsPath(outside_), test::FsPath(Game("kept-link")), error);
    if (!error) fs::create_symlink(test::FsPath(outside_ + "\\precious.txt"), test::FsPath(Game("file-link")), error);
    if (error) GTEST_SKIP() << "this system makes no symbolic links here: " << error.message();
    const auto outsideBefore = OutsideListing();

    const FolderWalk walk = WalkFolder(game_);
    for (const WalkedEntry& e : walk.files) EXPECT_EQ(e.path.find("inner"), std::string::npos) << "followed a link";
    // The link in an unlisted folder goes with it (folder pass), the top one on its own (folder
    // pass), the file link in the file pass; a listed link stays and is still not entered.
    ASSERT_TRUE(Clean(WriteKeepList({{"hl2.exe"}, {"kept-link"}})));
    EXPECT_EQ(OutsideListing(), outsideBefore);
    EXPECT_EQ(ReadFile(outside_ + "\\precious.txt"), "not the game's");
    EXPECT_EQ(ReadFile(outside_ + "\\sub\\inner.txt"), "inner");
    EXPECT_EQ(GameListing(), (std::set<std::string>{"hl2.exe", "kept-link", "list.json"}));
}

TEST_F(FolderCleanerTest, PathsBeyondTheClassicLimitAreWalked) {
    std::string deep = "cstrike";
    while (deep.size() < 300) deep += "\\a-rather-long-folder-name";
    PutGame({GameExeName, deep + "\\kept.txt", deep + "\\foreign.txt"});
    const FolderWalk walk = WalkFolder(LongPathForm(game_));
    std::set<std::string> files;
    for (const WalkedEntry& e : walk.files) files.insert(e.path);
    EXPECT_EQ(files, (std::set<std::string>{"hl2.exe", deep + "\\kept.txt", deep + "\\foreign.txt"}));
    // Removal under the long form reaches the deepest file too (and leaves nothing that the
    // temporary folder's own clean-up, with classic paths, could trip over).
    RemoveEntry(LongPathForm(game_) + "\\cstrike", EntryKind::Folder);
    EXPECT_EQ(GameListing(), (std::set<std::string>{"hl2.exe"}));
}

}  // namespace
}  // namespace orv
