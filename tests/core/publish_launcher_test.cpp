#include "tools/publish_launcher.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/integrity/crc32.h"
#include "launcher/platform/files.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/selfupdate/update_description.h"
#include "support/test_files.h"

namespace orv::publish {
namespace {

TEST(PublishLauncher, WritesWhatTheDirectAndInstallerPathsFetch) {
    test::TempDir work;
    const std::string exe = work.File("Orvanta.exe");
    const std::string installer = work.File("setup.exe");
    test::WriteFile(exe, test::MakeData(300000, 7, true));
    test::WriteFile(installer, "MZ installer");
    const std::string root = work.File("www");
    CreateDirectories(root + "\\cstrike");
    // Another tool's lines and the game entries stay as they are.
    const std::string before = "; kept\r\n[osn]\r\nkolnaz=1\r\nver=1.2\r\n[naz1]\r\nnaz=Game\r\n";
    test::WriteFile(root + "\\cstrike\\inf.ini", before);

    LauncherReleaseOptions o;
    ASSERT_EQ(ParseLauncherReleaseArguments({"--executable", exe, "--installer", installer, "--server-root", root,
                                             "--server-base", "http://127.0.0.1:8740/", "--game-code", "cstrike",
                                             "--version", "1.3", "--type", "2", "--allow-cancel", "3"},
                                            o),
              std::nullopt);
    const LauncherReleaseSummary summary = PublishLauncher(o);

    EXPECT_EQ(summary.downloadUrl, "http://127.0.0.1:8740/cstrike/Orvanta.exe.lzma");
    const auto d = ReadUpdateDescription(test::ReadFile(root + "\\cstrike\\version.txt"), CodePage::Windows1252);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->DownloadURL, summary.downloadUrl);
    EXPECT_TRUE(FileCrc32Matches(FileCrc32(exe), d->FileCRC32));
    const std::string packed = root + "\\cstrike\\Orvanta.exe.lzma";
    EXPECT_EQ(d->LzmaFileSize, static_cast<int64_t>(test::ReadFile(packed).size()));
    EXPECT_EQ(d->LzmaFileCRC32, std::to_string(FileCrc32(packed)));
    ASSERT_TRUE(TLZMAAlone().Main(packed, work.File("unpacked.exe"), "d"));
    EXPECT_EQ(test::ReadFile(work.File("unpacked.exe")), test::ReadFile(exe));
    ASSERT_TRUE(TLZMAAlone().Main(root + "\\cstrike\\upt.exe.lzma", work.File("upt.exe"), "d"));
    EXPECT_EQ(test::ReadFile(work.File("upt.exe")), "MZ installer");
    EXPECT_EQ(test::ReadFile(root + "\\cstrike\\inf.ini"),
              "; kept\r\n[osn]\r\nkolnaz=1\r\nver=1.3\r\n[naz1]\r\nnaz=Game\r\n"
              "[selfupdate]\r\ntypeofselfupdate=2\r\nallowcancelselfupdate=3\r\n");
}

TEST(PublishLauncher, RefusedArguments) {
    const struct {
        std::vector<std::string> args;
        const char* problem;
    } cases[] = {
        {{"--server-root", "r", "--version", "1"}, "--executable is missing"},
        {{"--executable", "x", "--version", "1"}, "--server-root is missing"},
        {{"--executable", "x", "--server-root", "r"}, "--version is missing"},
        {{"--executable", "x", "--server-root", "r", "--version", "1", "--type", "two"}, "--type takes a whole number"},
        {{"--executable", "x", "--server-root", "r", "--version", "1", "--server-base", "http://h"},
         "--server-base must end with /"},
        {{"--executable"}, "--executable needs a value"},
        {{"--bogus", "1"}, "unknown option --bogus"},
    };
    for (const auto& c : cases) {
        LauncherReleaseOptions o;
        EXPECT_EQ(ParseLauncherReleaseArguments(c.args, o), std::optional<std::string>(c.problem));
    }
}

}  // namespace
}  // namespace orv::publish
