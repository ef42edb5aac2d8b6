#include "launcher/net/server_paths.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

constexpr const char* kBase = "http://updates.example.net/launcher/";

TEST(ServerPaths, ResourcesOfAGameLieInItsFolderBelowTheBase) {
    EXPECT_EQ(CatalogueUrl(kBase, "cstrike"), "http://updates.example.net/launcher/cstrike/inf.ini");
    EXPECT_EQ(ChecklistUrl("v34", kBase, "cstrike"), "http://updates.example.net/launcher/cstrike/v34.dim.lzma");
    EXPECT_EQ(UpdateDescriptionUrl(kBase, "cstrike"), "http://updates.example.net/launcher/cstrike/version.txt");
    EXPECT_EQ(UpdateInstallerUrl(kBase, "cstrike"), "http://updates.example.net/launcher/cstrike/upt.exe.lzma");
    EXPECT_EQ(KeepListUrl(kBase, "cstrike"), "http://updates.example.net/launcher/cstrike/cstrikeclean.json")
        << "the keep list's name repeats the game code";
    EXPECT_EQ(MonitoringUrl(kBase, "cstrike"), "http://updates.example.net/launcher/cstrike/monitoring/");
    EXPECT_EQ(KeepListPath("dod"), "dod/dodclean.json");
    EXPECT_EQ(ChecklistPath("Сборка 1", "dod"), "dod/Сборка 1.dim.lzma") << "names are joined as they are";
}

TEST(ServerPaths, DefaultsAreTheBuildConstants) {
    EXPECT_EQ(CatalogueUrl(), std::string(UpdateServerBase) + GameCode + "/inf.ini");
    EXPECT_EQ(ChecklistUrl("b"), std::string(UpdateServerBase) + GameCode + "/b.dim.lzma");
    EXPECT_EQ(KeepListUrl(), std::string(UpdateServerBase) + GameCode + "/" + GameCode + "clean.json");
    EXPECT_EQ(CataloguePath(), std::string(GameCode) + "/inf.ini");
    EXPECT_EQ(ServerUrl(CataloguePath()), CatalogueUrl());
}

TEST(ServerPaths, GameFilesFollowTheDownloadAddressWithSlashes) {
    EXPECT_EQ(GameFileUrl("http://cdn.example.net/css/v34", "\\cstrike\\maps\\de_dust2.bsp"),
              "http://cdn.example.net/css/v34/cstrike/maps/de_dust2.bsp.lzma");
    EXPECT_EQ(GameFileUrl("cstrike/builds/v34", "\\hl2.exe"), "cstrike/builds/v34/hl2.exe.lzma")
        << "a download path gives the file's place below the server root";
    EXPECT_EQ(GameFileUrl("http://h\\x", "\\a"), "http://h/x/a.lzma") << "every backslash of the whole text";
    EXPECT_EQ(ChecklistShownAddress("http://cdn.example.net/css/v34", "v34"),
              "http://cdn.example.net/css/v34/v34.dim.lzma");
    EXPECT_EQ(CompressedChecklistFileName("v34"), "v34.dim.lzma");
    EXPECT_EQ(ChecklistFileName("v34"), "v34.dim");
}

TEST(ServerPaths, DownloadAddressAndPathBelowTheBaseConvertBothWays) {
    EXPECT_EQ(DownloadAddress("cstrike/builds/v34", kBase), "http://updates.example.net/launcher/cstrike/builds/v34");
    EXPECT_EQ(DownloadPathOf("http://updates.example.net/launcher/cstrike/builds/v34", kBase), "cstrike/builds/v34");
    EXPECT_EQ(DownloadPathOf("http://updates.example.net/launcher/cstrike/v34/", kBase), "cstrike/v34");
    EXPECT_FALSE(DownloadPathOf("http://updates.example.net/launcher/", kBase)) << "the base itself";
    EXPECT_FALSE(DownloadPathOf("http://updates.example.net/launcher//", kBase));
    EXPECT_FALSE(DownloadPathOf("http://cdn.example.net/launcher/cstrike", kBase));
    EXPECT_FALSE(DownloadPathOf("http://updates.example.net/launch", kBase));
    EXPECT_FALSE(DownloadPathOf("http://x/a", ""));
}

}  // namespace
}  // namespace orv
