// Saves killed at random moments and saves into a full disk, for every file the launcher rewrites
// in the game folder: the settings file, the loader's "rev.ini", the game's config and a repaired
// game file. A killed save leaves its file with the old or the new complete content; what it leaves
// beside the file does not trip the next save; a save into a full disk changes nothing and says so.
//
// ORVANTA_SAVE_KILLS sets the kills per file (scripts/faults runs a few hundred).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/config/launcher_settings.h"
#include "support/process_state.h"
#include "support/saved_files.h"
#include "support/small_disk_posix.h"
#include "support/test_files.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

const std::vector<test::SavedFile>& SavedFiles() {
    static const std::vector<test::SavedFile> files = test::SavedFiles([](const std::string& from, const std::string& to) {
        return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
    });
    return files;
}

std::vector<std::string> LeftoverNames(const std::string& path) {
    std::vector<std::string> names = test::LeftoverPaths(path);
    for (std::string& name : names) name = NativePath(name);
    return names;
}

class SaveFaultTest : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        folder_ = dir_.File("game");
        fs::create_directories(folder_);
        GameFolder = folder_;
        UiLanguage = UiEnglish;
    }
    const test::SavedFile& File() const { return SavedFiles()[GetParam()]; }
    std::string Content() const { return test::ReadFile(NativePath(File().path())); }
    // The two complete contents, as the save itself writes them.
    void LearnContents() {
        for (int variant : {1, 0}) {
            File().save(variant);
            contents_[variant] = Content();
        }
        ASSERT_NE(contents_[0], contents_[1]);
    }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    std::string folder_;
    std::string contents_[2];
};

int KillsPerFile() {
    const char* text = std::getenv("ORVANTA_SAVE_KILLS");
    const int kills = text ? std::atoi(text) : 0;
    return kills > 0 ? kills : 25;
}

TEST_P(SaveFaultTest, AKilledSaveLeavesTheOldOrTheNewContent) {
    File().prepare();
    LearnContents();
    // Kills land anywhere in up to three saves; how long a pair of saves takes sets the range.
    const auto start = std::chrono::steady_clock::now();
    File().save(1);
    File().save(0);
    const auto pair = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::mt19937 random(static_cast<unsigned>(GetParam() * 7919 + 1));
    std::uniform_int_distribution<long long> moment(0, 3 * pair.count() / 2 + 200);

    const int kills = KillsPerFile();
    int oldContent = 0, newContent = 0, leftovers = 0, lost = 0;
    for (int kill = 0; kill < kills; ++kill) {
        const std::string before = Content();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (int i = 1;; ++i) File().save(i & 1);
            } catch (...) {
            }
            ::_exit(3);
        }
        // The fault is the moment itself: a random point in the child's run of saves.
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << File().what << ": the saving child ended by itself, status " << status;
        const std::string after = Content();
        if (after == contents_[0] || after == contents_[1]) {
            (after == before ? oldContent : newContent)++;
        } else {
            ++lost;
            ADD_FAILURE() << File().what << ": kill " << kill << " left " << after.size() << " bytes of neither content";
        }
        for (const std::string& name : LeftoverNames(File().path())) leftovers += fs::exists(name);
    }
    // The next run saves over whatever the kills left and leaves nothing beside the file.
    File().save(1);
    EXPECT_EQ(Content(), contents_[1]);
    for (const std::string& name : LeftoverNames(File().path())) EXPECT_FALSE(fs::exists(name)) << name;
    std::printf("[ kills    ] %s: %d kills, %d left the old content, %d the new, %d left a part file, %d lost\n",
                File().what, kills, oldContent, newContent, leftovers, lost);
}

TEST_P(SaveFaultTest, ASaveIntoAFullDiskChangesNothingAndALaterOneWithSpaceSucceeds) {
    test::SmallDisk disk(folder_, 4u << 20);
    if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNot();
    File().prepare();
    LearnContents();
    File().save(0);
    disk.Fill(0);
    try {
        File().save(1);
        ADD_FAILURE() << File().what << ": a save into a full disk reported success";
    } catch (const Error& error) {
        if (File().path() == LauncherSettingsPath()) {
            EXPECT_EQ(error.what(), "Unable to write to " + LauncherSettingsPath());
        }
    }
    EXPECT_EQ(Content(), contents_[0]) << File().what << ": good bytes lost";
    for (const std::string& name : LeftoverNames(File().path())) EXPECT_FALSE(fs::exists(name)) << name;
    disk.Empty();
    File().save(1);
    EXPECT_EQ(Content(), contents_[1]);
    std::printf("[ disk full] %s: refused, %zu good bytes kept, saved once there was space\n", File().what,
                contents_[0].size());
}

INSTANTIATE_TEST_SUITE_P(EveryRewrittenFile, SaveFaultTest, ::testing::Range<size_t>(0, 4),
                         [](const ::testing::TestParamInfo<size_t>& param) {
                             std::string name = SavedFiles()[param.param].what;
                             for (char& c : name)
                                 if (c == ' ' || c == '.') c = '_';
                             return name;
                         });

}  // namespace
}  // namespace orv
