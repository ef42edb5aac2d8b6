// The check run's file handling in the real window against nginx: places too long for a plain
// path, what a killed run left beside a file, the attributes a checked file ends with, and Play
// while a Stop waits for the file being put in place. Run through tests/rig/with-servers.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/platform/long_path.h"
#include "launcher/platform/wide_win.h"
#include "support/hooked_fetcher.h"
#include "win_net/check_run_window_fixture.h"

namespace orv {
namespace {

using test::Exists;
using test::ReadFile;

class CheckRunFilesWindowTest : public CheckRunWindowTest {
protected:
    DWORD Attributes(const std::string& relative) const {
        return ::GetFileAttributesW(Wide(ExtendedLengthPath(Game(relative))).c_str());
    }
    static bool Present(const std::string& path) {
        return ::GetFileAttributesW(Wide(ExtendedLengthPath(path)).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

// A file whose place is 250 characters long: its temporary name beside it is 265, past MAX_PATH.
// Wine takes plain paths of any length, so what the services were given is recorded as well.
TEST_F(CheckRunFilesWindowTest, AFileWhosePlaceIsLongerThanAPlainPathAllowsIsRepaired) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    const std::string folder = "cstrike\\long";
    const size_t placeLength = 250;
    const size_t nameLength = placeLength - Game(folder).size() - 1;
    ASSERT_GT(nameLength, 10u) << "the game folder is too long for the case";
    ASSERT_LT(nameLength, 200u);
    const std::string relative = folder + "\\" + std::string(nameLength - 4, 'n') + ".bin";
    ASSERT_EQ(Game(relative).size(), placeLength);
    PutBuild(relative, test::MakeData(20000, 9, true));
    Publish();
    // Stale content at the long place, so that it is downloaded, unpacked and replaced.
    CreateDirectories(Game(folder));
    test::WriteFile(ExtendedLengthPath(Game(relative)), "stale");

    std::mutex pathsMutex;
    std::vector<std::string> paths;
    const std::string name = std::string(nameLength - 4, 'n');
    adjust = [&](CheckRunPlatform& platform) {
        const auto note = [&paths, &name](const std::string& path) {
            if (path.find(name) != std::string::npos) paths.push_back(path);
        };
        auto normal = platform.makeNormal;
        platform.makeNormal = [&, note, normal](const std::string& path) { note(path), normal(path); };
        auto remove = platform.removeFile;
        platform.removeFile = [&, note, remove](const std::string& path) { return note(path), remove(path); };
        auto engineRemove = platform.engine.removeFile;
        platform.engine.removeFile = [&, note, engineRemove](const std::string& path) {
            {
                const std::lock_guard<std::mutex> lock(pathsMutex);
                note(path);
            }
            return engineRemove(path);
        };
        test::HookFetches(platform, [&, note](const std::string& url, const std::string& path) {
            const std::lock_guard<std::mutex> lock(pathsMutex);
            note(path);
            return url;
        });
        auto replace = platform.replaceFile;
        platform.replaceFile = [&, note, replace](const std::string& from, const std::string& to) {
            note(from), note(to);
            return replace(from, to);
        };
    };
    form_->Events.Image_Button_CheckClick();

    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    EXPECT_TRUE(ReadFile(ExtendedLengthPath(Game(relative))) == files_[relative]) << "not repaired";
    for (const std::string& leftover : LeftoversBeside(Game(relative)))
        EXPECT_FALSE(Present(leftover)) << leftover;
    ASSERT_FALSE(paths.empty());
    for (const std::string& path : paths) {
        EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << path << ": a plain path past the limit";
        EXPECT_EQ(path.find('/'), std::string::npos) << path;
    }
    ExpectIdle();
}

TEST_F(CheckRunFilesWindowTest, WhatAKilledRunLeftBesideAListedFileIsRemoved) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    const std::vector<std::string> left = {"hl2.exe.orvanta-unpack", "hl2.exe.lzma", "bin\\client.dll.lzma",
                                           "cstrike\\maps\\de_dust2.bsp.orvanta-unpack"};
    for (const std::string& name : left) PutGame(name, "cut off");
    PutGame("cstrike\\cfg\\mine.cfg.orvanta-unpack", "beside no listed file");
    // The killed run's unpacked checklist tells that it did not end.
    PutGame("css34.dim", "cut off");

    form_->Events.Image_Button_CheckClick();

    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    for (const std::string& name : left) EXPECT_FALSE(Exists(Game(name))) << name;
    EXPECT_EQ(ReadFile(Game("cstrike\\cfg\\mine.cfg.orvanta-unpack")), "beside no listed file");
    ExpectUnchangedOrRepaired(files_);
    ExpectIdle();
}

TEST_F(CheckRunFilesWindowTest, EveryAttributeOfACheckedFileIsCleared) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("cstrike\\maps\\de_dust2.bsp", "damaged");
    const struct {
        const char* relative;
        DWORD before;
        bool archiveKept;  // archive alone is left: it is no attribute in the way
    } cases[] = {
        {"hl2.exe", FILE_ATTRIBUTE_ARCHIVE, true},
        {"bin\\client.dll", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_HIDDEN, false},
        {"cstrike\\cfg\\autoexec.cfg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM, false},
        {"cstrike\\maps\\de_dust2.bsp", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, false},  // repaired
    };
    for (const auto& c : cases) ASSERT_TRUE(::SetFileAttributesW(Wide(Game(c.relative)).c_str(), c.before)) << c.relative;
    // How this system reports a file without attributes: FILE_ATTRIBUTE_NORMAL on Windows. Wine
    // keeps only read-only, hidden and system and reports archive on every file, so there this
    // shows those three cleared; HasAttributesToClear's own test covers the rest.
    PutGame("probe.bin", "");
    ASSERT_TRUE(::SetFileAttributesW(Wide(Game("probe.bin")).c_str(), FILE_ATTRIBUTE_NORMAL));
    const DWORD none = Attributes("probe.bin");

    form_->Events.Image_Button_CheckClick();

    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    ExpectUnchangedOrRepaired(files_);
    PutGame("archive.bin", "");
    ASSERT_TRUE(::SetFileAttributesW(Wide(Game("archive.bin")).c_str(), FILE_ATTRIBUTE_ARCHIVE));
    const DWORD archive = Attributes("archive.bin");
    for (const auto& c : cases) EXPECT_EQ(Attributes(c.relative), c.archiveKept ? archive : none) << c.relative;
}

// Stop pressed while the run waits for a repaired file's unpack: the run waits for the unpack to end
// and still puts that file in its place. Play and the cleaner stay disabled, and a click on Play starts
// nothing, until the run has returned.
TEST_F(CheckRunFilesWindowTest, AfterAStopDuringAnUnpackPlayWaitsForTheFileToBeInPlace) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("hl2.exe", "an old hl2");
    form_->EditNickname.SetText("Player");
    struct Seen {
        bool playEnabled;
        bool cleanEnabled;
        size_t loadersStarted;
    };
    std::vector<Seen> atReplace;
    bool stopped = false;
    adjust = [&](CheckRunPlatform& platform) {
        test::HookWaits(platform, [&](const std::string& name) {
            if (name != "wait: unpack") return;
            // As the pump delivers a Stop clicked while the engine unpacks.
            form_->Events.Image_Button_StopClick();
            stopped = StopFlag == 1;
        });
        auto replace = platform.replaceFile;
        platform.replaceFile = [&, replace](const std::string& from, const std::string& to) {
            form_->Events.Image_Button_PlayClick();
            const auto seen = [&] {
                return Seen{form_->Image_Button_Play.Enabled(), settings_->Button_CleanGameFolder.Enabled(),
                            start_->loaders.size()};
            };
            atReplace.push_back(seen());
            const bool replaced = replace(from, to);
            atReplace.push_back(seen());
            return replaced;
        };
    };
    form_->Events.Image_Button_CheckClick();

    EXPECT_TRUE(stopped);
    ASSERT_EQ(atReplace.size(), 2u);
    for (const Seen& seen : atReplace) {
        EXPECT_FALSE(seen.playEnabled) << "Play enabled while the file was being replaced";
        EXPECT_FALSE(seen.cleanEnabled) << "the cleaner enabled while the file was being replaced";
        EXPECT_EQ(seen.loadersStarted, 0u) << "the game started while a file was being replaced";
    }
    EXPECT_EQ(form_->Image_Button_Play.Source(), form_->Image_Button_Play_Static.Name());
    EXPECT_EQ(ReadFile(Game("hl2.exe")), files_["hl2.exe"]) << "the unpacked file still took its place";
    EXPECT_FALSE(Exists(Game("hl2.exe.orvanta-unpack")));
    EXPECT_TRUE(Messages().empty()) << "a stopped run shows no success";
    ExpectIdle();
    EXPECT_TRUE(start_->loaders.empty());
}

}  // namespace
}  // namespace orv
