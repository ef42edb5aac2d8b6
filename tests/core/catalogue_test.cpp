#include "launcher/catalogue.h"

#include <gtest/gtest.h>

#include "launcher/base/errors.h"
#include "support/test_files.h"

namespace orv {
namespace {

// Two games in 1251: the operator's own layout, comments and blanks included.
const std::string kCatalogue =
    "; published by hand\r\n"
    "[osn]\r\n"
    "ver = 1.3\r\n"
    "kolnaz=2\r\n"
    "\r\n"
    "[selfupdate]\r\n"
    "typeofselfupdate=2\r\n"
    "\r\n"
    "[naz1]\r\n"
    "naz=\xCA\xF1\r\n"  // "Кс"
    "adr=http://news.example.net/css\r\n"
    "kolver=2\r\n"
    "ver1=v34\r\n"
    "nazcek1=css34\r\n"
    "kolf1=1520\r\n"
    "adrskach1=http://cdn.example.net/css/v34\r\n"
    "ver2=v91\r\n"
    "run=\\revLoader.exe\r\n"
    "appname=  css  \r\n"
    "\r\n"
    "[naz2]\r\n"
    "naz=Day of Defeat\r\n"
    "kolver=junk\r\n"
    "\r\n"
    "[cssserverversion]\r\n"
    "baseversion= 7 \r\n"
    "builserverdversion=9321\r\n"
    "usesteamcmd=1\r\n";

TEST(CatalogueRead, StoredValuesComeAsTheirBytes) {
    const Catalogue c(kCatalogue);
    EXPECT_EQ(c.OfferedLauncherVersion().bytes, "1.3");
    EXPECT_TRUE(c.OfferedLauncherVersion().stored);
    EXPECT_EQ(c.GameCount(), 2);
    EXPECT_EQ(c.GameName(1).bytes, "\xCA\xF1") << "8-bit as stored";
    EXPECT_EQ(c.GameName(1).Decoded(CodePage::Windows1251), "Кс");
    EXPECT_EQ(c.GameName(2).bytes, "Day of Defeat");
    EXPECT_EQ(c.NewsAddress(1).bytes, "http://news.example.net/css");
    EXPECT_EQ(c.BuildCount(1), 2);
    EXPECT_EQ(c.BuildName(1, 2).bytes, "v91");
    EXPECT_EQ(c.ChecklistName(1, 1).bytes, "css34");
    EXPECT_EQ(c.FileCountText(1, 1).bytes, "1520");
    EXPECT_EQ(c.DownloadAddress(1, 1).bytes, "http://cdn.example.net/css/v34");
    EXPECT_EQ(c.LoaderPath(1).bytes, "\\revLoader.exe");
    EXPECT_EQ(c.AppName(1).bytes, "css") << "trimmed";
    EXPECT_EQ(c.ServerBaseVersion("css").bytes, "7") << "trimmed";
    EXPECT_EQ(c.ServerBuildVersion("CSS").bytes, "9321") << "section names ignore ASCII case";
    EXPECT_TRUE(c.UseSteamCmd("css"));
}

TEST(CatalogueRead, MissingKeysGiveTheirDefaults) {
    const Catalogue c(kCatalogue);
    EXPECT_EQ(c.BuildCount(2), 0) << "a count that is not an integer reads as 0";
    EXPECT_EQ(c.BuildName(1, 3).bytes, "No parameter");
    EXPECT_FALSE(c.BuildName(1, 3).stored);
    EXPECT_EQ(c.ChecklistName(1, 2).bytes, "Нет параметра");
    EXPECT_EQ(c.ChecklistName(1, 2).Decoded(CodePage::Windows1251), "Нет параметра") << "a default is UTF-8 already";
    EXPECT_EQ(c.DownloadAddress(1, 2).bytes, "Нет параметра");
    EXPECT_EQ(c.FileCountText(1, 2).bytes, "0");
    EXPECT_EQ(c.NewsAddress(2).bytes, "about:blank");
    EXPECT_EQ(c.LoaderPath(2).bytes, "\\revLoader.exe");
    EXPECT_EQ(c.AppName(2, "CStrike").bytes, "cstrike") << "the game code in lower case";
    EXPECT_EQ(c.AppName(2).bytes, std::string(GameCode));
    EXPECT_EQ(c.ServerBaseVersion("dod").bytes, "0");
    EXPECT_EQ(c.ServerBuildVersion("dod").bytes, "0");
    EXPECT_FALSE(c.UseSteamCmd("dod"));
    EXPECT_EQ(c.GameName(3).bytes, "No parameter");

    const Catalogue empty;
    EXPECT_EQ(empty.GameCount(), 0);
    EXPECT_EQ(empty.OfferedLauncherVersion("9.9").bytes, "9.9");
    EXPECT_FALSE(empty.OfferedLauncherVersion().stored);
    EXPECT_EQ(empty.OfferedLauncherVersion().bytes, std::string(LauncherVersion));
    EXPECT_EQ(Catalogue::GameSection(12), "naz12");
    EXPECT_EQ(Catalogue::ServerVersionSection("css"), "cssserverversion");
}

TEST(CatalogueWrite, ANewBuildOfAKnownGameKeepsEveryOtherLine) {
    Catalogue c(kCatalogue);
    const CataloguePlace place =
        c.PutBuild({"\xCA\xF1", "v92", "css92", "1600", "http://updates.example.net/cstrike/v92", 0, 0});
    EXPECT_EQ(place.game, 1);
    EXPECT_EQ(place.build, 3);
    EXPECT_FALSE(place.newGame);
    EXPECT_TRUE(place.newBuild);
    std::string expected = kCatalogue;
    expected.replace(expected.find("kolver=2"), 8, "kolver=3");
    expected.insert(expected.find("appname=") + std::string("appname=  css  \r\n").size(),
                    "ver3=v92\r\nnazcek3=css92\r\nkolf3=1600\r\nadrskach3=http://updates.example.net/cstrike/v92\r\n");
    EXPECT_EQ(c.Bytes(), expected);
}

TEST(CatalogueWrite, RepublishingABuildRewritesOnlyItsChangedValues) {
    Catalogue c(kCatalogue);
    const CataloguePlace place =
        c.PutBuild({"\xCA\xF1", "v34", "css34", "1521", "http://cdn.example.net/css/v34", 0, 0});
    EXPECT_EQ(place.build, 1);
    EXPECT_FALSE(place.newBuild);
    std::string expected = kCatalogue;
    expected.replace(expected.find("kolf1=1520"), 10, "kolf1=1521");
    EXPECT_EQ(c.Bytes(), expected) << "\"ver = 1.3\" and the other lines keep their bytes";
}

TEST(CatalogueWrite, AnEmptyCatalogueGetsTheMainSectionAndTheFirstGame) {
    Catalogue c;
    const CataloguePlace place = c.PutBuild({"Game", "b1", "list", "3", "http://h/g/b1", 0, 0}, "1.2");
    EXPECT_TRUE(place.newGame);
    EXPECT_TRUE(place.newBuild);
    EXPECT_EQ(c.Bytes(),
              "[osn]\r\nver=1.2\r\nkolnaz=1\r\n"
              "[naz1]\r\nnaz=Game\r\nkolver=1\r\nver1=b1\r\nnazcek1=list\r\nkolf1=3\r\nadrskach1=http://h/g/b1\r\n");
    c.SetAppName(1, "game");
    c.SetServerVersion("game", std::string("5"), std::nullopt);
    EXPECT_EQ(c.AppName(1).bytes, "game");
    EXPECT_EQ(c.ServerBaseVersion("game").bytes, "5");
    EXPECT_FALSE(c.ServerBuildVersion("game").stored);
    c.SetServerVersion("game", std::nullopt, std::string("77"));
    EXPECT_EQ(c.ServerBaseVersion("game").bytes, "5");
    EXPECT_EQ(c.ServerBuildVersion("game").bytes, "77");
}

TEST(CatalogueWrite, NumbersChooseOrAppendAndMayRename) {
    Catalogue c(kCatalogue);
    CataloguePlace place = c.PutBuild({"", "", "css91", "7", "http://x/v91", 1, 2});
    EXPECT_EQ(place.game, 1);
    EXPECT_EQ(place.build, 2);
    EXPECT_EQ(c.GameName(1).bytes, "\xCA\xF1") << "an empty name keeps the stored one";
    EXPECT_EQ(c.BuildName(1, 2).bytes, "v91");
    EXPECT_EQ(c.ChecklistName(1, 2).bytes, "css91");

    place = c.PutBuild({"Renamed", "", "l", "1", "http://x/y", 1, 1});
    EXPECT_EQ(c.GameName(1).bytes, "Renamed");
    EXPECT_EQ(c.BuildName(1, 1).bytes, "v34");

    place = c.PutBuild({"Third", "t1", "l3", "0", "http://x/t1", 3, 0});
    EXPECT_TRUE(place.newGame);
    EXPECT_EQ(c.GameCount(), 3);
    EXPECT_EQ(c.BuildCount(3), 1);
}

TEST(CatalogueWrite, RefusalsLeaveTheCatalogueUntouched) {
    Catalogue c(kCatalogue);
    auto refused = [&](const CatalogueBuild& build, const char* fragment) {
        try {
            c.PutBuild(build);
            ADD_FAILURE() << "accepted, expected: " << fragment;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        }
        EXPECT_EQ(c.Bytes(), kCatalogue);
    };
    refused({"G", "b", "l", "1", "http://x", 4, 0}, "Game number 4 is beyond");
    refused({"G", "b", "l", "1", "http://x", 1, 4}, "Build number 4 is beyond");
    refused({"Day of Defeat", "b", "l", "1", "http://x", 0, 0}, "[naz2] kolver of inf.ini is \"junk\"");
    refused({"", "b", "l", "1", "http://x", 0, 0}, "named by its name or its number");
    refused({"G", " padded", "l", "1", "http://x", 0, 0}, "cannot be stored in inf.ini");
    refused({"G", "b", "l", "1", "http://x\r\n[osn]\r\nkolnaz=0", 0, 0}, "cannot be stored in inf.ini");
    refused({"G", "b", "\"quoted\"", "1", "http://x", 0, 0}, "cannot be stored in inf.ini");
    refused({"G", "b", std::string(3000, 'x'), "1", "http://x", 0, 0}, "cannot be stored in inf.ini");
}

TEST(CatalogueWrite, CountsAtTheLargestIntLeaveNoNextNumber) {
    // A damaged catalogue may count 2147483647 games, or builds of a game: a new one has no number.
    const std::string games = "[osn]\r\nkolnaz=2147483647\r\n[naz1]\r\nnaz=Old\r\nkolver=2147483647\r\n";
    Catalogue c(games);
    for (const CatalogueBuild& build : {CatalogueBuild{"New", "b", "l", "1", "http://x", 0, 0},
                                        CatalogueBuild{"Old", "new build", "l", "1", "http://x", 0, 0}}) {
        try {
            c.PutBuild(build);
            ADD_FAILURE() << "accepted " << build.gameName << " / " << build.buildName;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("counts 2147483647"), std::string::npos) << e.what();
        }
        EXPECT_EQ(c.Bytes(), games);
    }
}

TEST(CatalogueFile, LoadAndSaveKeepTheBytes) {
    test::TempDir dir;
    const std::string path = dir.File("inf.ini");
    EXPECT_EQ(Catalogue::Load(path).GameCount(), 0) << "a missing file is an empty catalogue";
    test::WriteFile(path, kCatalogue);
    Catalogue c = Catalogue::Load(path);
    c.Save(path);
    EXPECT_EQ(test::ReadFile(path), kCatalogue);
}

}  // namespace
}  // namespace orv
