#include "launcher/startup_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/codepage.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/download_limit.h"
#include "launcher/net/rate_limit.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "core/signed_statements.h"
#include "launcher/base/texts.h"
#include "launcher/catalogue_trust.h"
#include "support/test_files.h"

namespace orv {
namespace {

// Every process-wide value the sequence sets, put back after each test.
struct GlobalSnapshot {
    std::string gameFolder = GameFolder;
    LauncherSettings config = LauncherConfig;
    int uiLanguage = UiLanguage;
    bool offline = OfflineMode;
    bool selfUpdate = SelfUpdateNeeded;
    int type = TypeOfSelfUpdate;
    std::string manualUrl = ManualUpdateUrl;
    int show = ShowNotificationSelfUpdate;
    int allowCancel = AllowCancelSelfUpdate;
    bool force = ForceUpdateRequested;
    bool finished = CreationFinished;
    TLZMAAlone* lzma = LzmaAloneInstance;

    void Restore() const {
        GameFolder = gameFolder;
        LauncherConfig = config;
        UiLanguage = uiLanguage;
        OfflineMode = offline;
        SelfUpdateNeeded = selfUpdate;
        TypeOfSelfUpdate = type;
        ManualUpdateUrl = manualUrl;
        ShowNotificationSelfUpdate = show;
        AllowCancelSelfUpdate = allowCancel;
        ForceUpdateRequested = force;
        CreationFinished = finished;
        LzmaAloneInstance = lzma;
    }
};

class StartupSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        OfflineMode = false;
        SelfUpdateNeeded = true;
        ForceUpdateRequested = false;
        CreationFinished = false;
        UiLanguage = UiRussian;
        previous_ = SetMessageHandler([this](const MessageRequest& request) {
            messages_.push_back(request);
            events_.push_back("message");
            return MsgResult::Ok;
        });
        context_.executablePath = dir_.Path() + "\\Orvanta.exe";
        context_.arguments = {context_.executablePath};

        window_.applyGameLanguage = [this] {
            events_.push_back("language " + LauncherConfig.GameLanguage);
            UiLanguage = LauncherConfig.GameLanguage == "English" ? UiEnglish : UiRussian;
        };
        window_.enablePlay = [this] { events_.push_back("play enabled"); };
        window_.resetCheckProgress = [this] { events_.push_back("progress 0"); };

        platform_.checkGlobalUserOffline = [this] { events_.push_back("offline switch"); };
        platform_.makeFileWritable = [this](const std::string& path) { events_.push_back("writable " + path); };
        platform_.registerUrlScheme = [this](const std::string& exe) { events_.push_back("scheme " + exe); };
        platform_.probeUrl = [this](const std::string& url) {
            events_.push_back("probe " + url);
            return serverUp_;
        };
        platform_.downloadFile = [this](const std::string& url, const std::string& path) {
            events_.push_back("download " + url);
            if (!serverCatalogue_.empty()) test::WriteFile(path, serverCatalogue_);
            return !serverCatalogue_.empty();
        };
        platform_.downloadStatement = [this](const std::string& url, const std::string& path, size_t maxBytes) {
            events_.push_back("statement " + url);
            if (serverStatement_.empty() || serverStatement_.size() > maxBytes) return false;
            test::WriteFile(path, serverStatement_);
            return true;
        };
        platform_.now = [this] { return now_; };
        platform_.connect.killProcessByName = [this](const std::string& name) {
            events_.push_back("kill " + name);
            return 1;
        };
        platform_.connect.startLoader = [this](const std::string& path) { events_.push_back("start " + path); };
        platform_.connect.terminateApplication = [this] { events_.push_back("terminate"); };
        platform_.codec = CodePageCodec(CodePage::Windows1251);
    }
    void TearDown() override {
        SetMessageHandler(previous_);
        snapshot_.Restore();
    }

    StartupResult Run(const std::string& argument2 = "") {
        StartupContext context = context_;
        if (!argument2.empty()) context.arguments = {context_.executablePath, "vtlcstrike://", argument2};
        return RunFormCreate(context, window_, platform_);
    }
    std::string In(const std::string& name) const { return dir_.Path() + "\\" + name; }
    std::string ProcName() const { return IniDocument(test::ReadFile(In("rev.ini"))).Get("Loader", "ProcName", ""); }
    std::string PlainProcName() const { return std::string(GameCommandPrefix) + " " + LauncherConfig.GameProcName; }

    GlobalSnapshot snapshot_;
    test::TempDir dir_;
    StartupContext context_;
    StartupWindowHooks window_;
    StartupPlatform platform_;
    std::vector<std::string> events_;
    std::vector<MessageRequest> messages_;
    bool serverUp_ = true;
    std::string serverCatalogue_ = "[osn]\r\nver=" + std::string(LauncherVersion) + "\r\nkolnaz=1\r\n";
    std::string serverStatement_;
    int64_t now_ = 1800000000;  // 2027-01-15

private:
    MessageHandler previous_;
};

TEST_F(StartupSequenceTest, ANormalFirstStartRunsTheStepsInOrder) {
    const StartupResult r = Run();
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.failedStep, StartupStep::None);
    EXPECT_TRUE(CreationFinished);
    EXPECT_EQ(GameFolder, dir_.Path());
    EXPECT_EQ(events_, (std::vector<std::string>{
                           "offline switch",
                           "language Russian",
                           "scheme " + context_.executablePath,
                           "play enabled",
                           "probe " + CatalogueUrl(),
                           "download " + CatalogueUrl(),
                           "progress 0",
                       }));
    EXPECT_NE(LzmaAloneInstance, nullptr);
    EXPECT_FALSE(OfflineMode);
    EXPECT_FALSE(SelfUpdateNeeded);
    EXPECT_FALSE(ForceUpdateRequested);
    // The defaults, and the plain command line in a new profile; the settings file is not created.
    EXPECT_EQ(LauncherConfig.GameClanTag, "vtl");
    EXPECT_EQ(ProcName(), PlainProcName());
    EXPECT_FALSE(test::Exists(LauncherSettingsPath()));
    EXPECT_EQ(test::ReadFile(In("inf.ini")), serverCatalogue_);
}

// The cap in the settings file holds from the first download of the run, the catalogue's, on.
TEST_F(StartupSequenceTest, TheSettingsCapIsSetBeforeTheCatalogueIsFetched) {
    const struct {
        const char* line;  // in [LauncherSettings]; empty: none
        uint64_t rate;     // bytes per second; 0: no limiter
    } cases[] = {
        {"DownloadLimitKBps=500", 512000},
        {"DownloadLimitKBps=0", 0},
        {"DownloadLimitKBps=fast", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        SetLauncherDownloadLimit(123);
        test::WriteFile(In(SettingsFileName), std::string("[LauncherSettings]\r\n") + c.line + "\r\n");
        uint64_t seen = 1;
        platform_.probeUrl = [&seen](const std::string&) {
            const std::shared_ptr<RateLimiter> limiter = LauncherDownloadLimiter();
            seen = limiter ? limiter->BytesPerSecond() : 0;
            return true;
        };
        EXPECT_TRUE(Run().finished);
        EXPECT_EQ(seen, c.rate);
    }
    SetLauncherDownloadLimit(0);
}

TEST_F(StartupSequenceTest, AFirstStartTakesThePlayersValuesFromRevIniAndTheNicknameFromTheGameConfig) {
    test::WriteFile(In("rev.ini"),
                    "[Emulator]\r\nLanguage=English\r\n[steamclient]\r\nPlayerName=FromRev\r\nClanTag=clan\r\n"
                    "RankLevel=05\r\n[Loader]\r\nProcName=x +connect 1.2.3.4\r\n");
    CreateDirectories(In("cstrike\\cfg"));
    test::WriteFile(In("cstrike\\cfg\\config.cfg"), "name \"FromConfig\"\r\n");

    EXPECT_TRUE(Run().finished);
    EXPECT_EQ(events_.at(1), "writable " + In("rev.ini"));
    EXPECT_EQ(events_.at(2), "language English");
    EXPECT_EQ(LauncherConfig.GameLanguage, "English");
    EXPECT_EQ(LauncherConfig.GameClanTag, "clan");
    EXPECT_EQ(LauncherConfig.GameRankLevel, 5);
    EXPECT_EQ(LauncherConfig.GamePlayerName, "FromConfig");
    EXPECT_EQ(LauncherConfig.GameProcName, "-console -novid");
    EXPECT_EQ(ProcName(), PlainProcName());

    // With a settings file the profile's values are not taken over.
    test::WriteFile(LauncherSettingsPath(), "[GameSettings]\r\nGameClanTag=saved\r\nGameProcName=-novid\r\n");
    EXPECT_TRUE(Run().finished);
    EXPECT_EQ(LauncherConfig.GameClanTag, "saved");
    EXPECT_EQ(LauncherConfig.GameLanguage, "Russian");
    EXPECT_EQ(ProcName(), std::string(GameCommandPrefix) + " -novid");
}

TEST_F(StartupSequenceTest, AnUnreachableServerShowsTheOfflineMessageInTheLanguageJustApplied) {
    serverUp_ = false;
    test::WriteFile(In("inf.ini"), "[osn]\r\nver=0.1\r\n");  // would ask for a self-update online
    EXPECT_TRUE(Run().finished);
    EXPECT_TRUE(OfflineMode);
    EXPECT_FALSE(SelfUpdateNeeded);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text,
              "Ошибка загрузки " + CatalogueUrl() + " видимо сервер недоступен, либо интернет не работает");
    EXPECT_EQ(messages_[0].flags, mb::Ok);
    // The message comes after the probe, before the progress bar is reset; nothing is downloaded.
    EXPECT_EQ(events_.at(events_.size() - 2), "message");
    EXPECT_EQ(test::ReadFile(In("inf.ini")), "[osn]\r\nver=0.1\r\n");

    messages_.clear();
    OfflineMode = false;
    test::WriteFile(LauncherSettingsPath(), "[GameSettings]\r\nGameLanguage=English\r\n");
    EXPECT_TRUE(Run().finished);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "Error loading " + CatalogueUrl() +
                                     " apparently the server is unavailable, or the internet does not work");
}

TEST_F(StartupSequenceTest, AnotherLauncherVersionInTheCatalogueSetsTheSelfUpdateValues) {
    const std::string url = ManualUpdateUrl;
    serverCatalogue_ = "[osn]\r\nver=" + std::string(LauncherVersion) + "\r\n";
    EXPECT_TRUE(Run().finished);
    EXPECT_FALSE(SelfUpdateNeeded);
    EXPECT_EQ(TypeOfSelfUpdate, 1);
    EXPECT_EQ(ManualUpdateUrl, url);
    EXPECT_EQ(ShowNotificationSelfUpdate, 7);
    EXPECT_EQ(AllowCancelSelfUpdate, 3);

    serverCatalogue_ =
        "[osn]\r\nver=9.9\r\n[selfupdate]\r\ntypeofselfupdate=2\r\nurlformanualupdate=https://site.example/new\r\n"
        "shownotificationselfupdate=5\r\n";
    EXPECT_TRUE(Run().finished);
    EXPECT_TRUE(SelfUpdateNeeded);
    EXPECT_EQ(TypeOfSelfUpdate, 2);
    EXPECT_EQ(ManualUpdateUrl, "https://site.example/new");
    EXPECT_EQ(ShowNotificationSelfUpdate, 5);
    EXPECT_EQ(AllowCancelSelfUpdate, 3);

    // Missing or unusable values: type 0, the others as they were. A manual-update "page" that is
    // a program on the machine would be handed to the shell, so only web addresses are taken.
    serverCatalogue_ =
        "[osn]\r\nver=1.20\r\n[selfupdate]\r\nurlformanualupdate=C:\\Windows\\System32\\cmd.exe\r\n"
        "allowcancelselfupdate=x\r\n";
    EXPECT_TRUE(Run().finished);
    EXPECT_TRUE(SelfUpdateNeeded);
    EXPECT_EQ(TypeOfSelfUpdate, 0);
    EXPECT_EQ(ManualUpdateUrl, "https://site.example/new");
    EXPECT_EQ(ShowNotificationSelfUpdate, 5);
    EXPECT_EQ(AllowCancelSelfUpdate, 3);
}

TEST_F(StartupSequenceTest, ForceUpdateLeavesProcNameAndANormalStartResetsAConnectLine) {
    test::WriteFile(In("rev.ini"), "[Loader]\r\nProcName=hl2.exe +connect 1.2.3.4:27015\r\n");
    EXPECT_TRUE(Run("forceupdate").finished);
    EXPECT_TRUE(ForceUpdateRequested);
    EXPECT_EQ(ProcName(), "hl2.exe +connect 1.2.3.4:27015");

    ForceUpdateRequested = false;
    EXPECT_TRUE(Run().finished);
    EXPECT_FALSE(ForceUpdateRequested);
    EXPECT_EQ(ProcName(), PlainProcName());
}

TEST_F(StartupSequenceTest, AConnectLinkStartsTheGameAfterTheCatalogueStep) {
    const StartupResult r = Run("1.2.3.4:27015/");
    EXPECT_EQ(r.connect, ConnectOutcome::Started);
    EXPECT_EQ(ProcName(), PlainProcName() + " +connect 1.2.3.4:27015");
    const std::vector<std::string> tail(events_.end() - 5, events_.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"progress 0", "kill " + std::string(GameExeName),
                                              "start " + In("revLoader.exe"), "kill Orvanta.exe", "terminate"}));
}

TEST_F(StartupSequenceTest, AnErrorEndsTheSequenceAtItsStepWithTheErrorBox) {
    platform_.registerUrlScheme = [](const std::string&) { throw EOSError(5, "Failed to create key vtlcstrike"); };
    test::WriteFile(In("rev.ini"), "[Loader]\r\nProcName=old\r\n");
    const StartupResult r = Run();
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(r.failedStep, StartupStep::UrlScheme);
    EXPECT_FALSE(CreationFinished);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "Failed to create key vtlcstrike.");
    EXPECT_EQ(messages_[0].flags, mb::Ok | mb::IconError);
    // What came before stays done; nothing after the step ran.
    EXPECT_EQ(events_.back(), "message");
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "play enabled"), 0);
    EXPECT_EQ(ProcName(), "old");
    EXPECT_FALSE(SelfUpdateNeeded);  // step 7 ran
}

// A launcher with a publisher key takes the server's catalogue only with a statement of that key
// for exactly those bytes; anything else is an offline start on the copy it took before.
class SignedCatalogueTest : public StartupSequenceTest {
protected:
    void SetUp() override {
        StartupSequenceTest::SetUp();
        SKIP_WITHOUT_SIGNING();
        context_.publisherKey = test::TestPublicKeyHex();
        serverCatalogue_ = kSigned;
        test::WriteFile(In("inf.ini"), kLocal);
        test::WriteFile(In("inf.ini.sig"), "the statement taken before");
        test::WriteFile(In(SettingsFileName), "[LauncherSettings]\r\nCatalogueVersion=5\r\n");
    }
    Statement Catalogue(uint64_t version) const {
        return test::StatementFor(StatementKind::Catalogue, GameCode, "inf.ini", kSigned, version);
    }
    std::string StoredVersion() const {
        return IniDocument(test::ReadFile(In(SettingsFileName))).Get("LauncherSettings", "CatalogueVersion", "");
    }

    // What the publisher signed: a newer launcher, to be fetched as a file swap.
    const std::string kSigned = "[osn]\r\nver=9.9\r\nkolnaz=1\r\n[selfupdate]\r\ntypeofselfupdate=2\r\n";
    const std::string kLocal = "[osn]\r\nver=" + std::string(LauncherVersion) + "\r\nkolnaz=1\r\n";
};

TEST_F(SignedCatalogueTest, ASignedCatalogueReplacesTheLocalCopyAndRaisesTheVersion) {
    serverStatement_ = test::SignedText(Catalogue(6));
    test::WriteFile(DownloadedCataloguePath(), "left by a run that was cut off");
    EXPECT_TRUE(Run().finished);
    EXPECT_FALSE(OfflineMode);
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(SelfUpdateNeeded);
    EXPECT_EQ(TypeOfSelfUpdate, 2);
    EXPECT_EQ(test::ReadFile(In("inf.ini")), kSigned);
    EXPECT_EQ(test::ReadFile(In("inf.ini.sig")), serverStatement_);
    EXPECT_FALSE(test::Exists(DownloadedCataloguePath()));
    EXPECT_FALSE(test::Exists(DownloadedCatalogueStatementPath()));
    EXPECT_EQ(LauncherConfig.CatalogueVersion, 6u);
    EXPECT_EQ(StoredVersion(), "6");
    const auto statement = std::find(events_.begin(), events_.end(), "statement " + CatalogueUrl() + ".sig");
    ASSERT_NE(statement, events_.end());
    EXPECT_EQ(*(statement - 1), "download " + CatalogueUrl());

    // The same version again is the same catalogue; the version read back from the file refuses
    // an older one on the next start, as a crash right after the first would have left it.
    EXPECT_TRUE(Run().finished);
    EXPECT_FALSE(OfflineMode);
    serverStatement_ = test::SignedText(Catalogue(5));
    EXPECT_TRUE(Run().finished);
    EXPECT_TRUE(OfflineMode);
    EXPECT_EQ(StoredVersion(), "6");
}

TEST_F(SignedCatalogueTest, AnythingButAValidStatementIsAnOfflineStartWithNothingReplaced) {
    Statement otherGame = Catalogue(6);
    otherGame.game = "dod";
    Statement otherName = Catalogue(6);
    otherName.name = "inf2.ini";
    Statement otherKind = Catalogue(6);
    otherKind.kind = StatementKind::Installer;
    const struct {
        const char* name;
        std::string statement;
        std::string served;  // the catalogue as the server gives it; empty: it does not download
        std::string key;     // the build's; empty: the tests' key
    } cases[] = {
        {"missing", "", kSigned, ""},
        {"no signature", StatementBody(Catalogue(6)), kSigned, ""},
        {"signed by another key", test::SignedText(Catalogue(6)), kSigned, test::OtherPublicKeyHex()},
        {"a malformed build key", test::SignedText(Catalogue(6)), kSigned, "abc"},
        {"rollback", test::SignedText(Catalogue(4)), kSigned, ""},
        {"expired", test::SignedText(test::StatementFor(StatementKind::Catalogue, GameCode, "inf.ini", kSigned, 6,
                                                        now_)), kSigned, ""},
        {"another game", test::SignedText(otherGame), kSigned, ""},
        {"another name", test::SignedText(otherName), kSigned, ""},
        {"another kind", test::SignedText(otherKind), kSigned, ""},
        {"changed after signing", test::SignedText(Catalogue(6)),
         "[osn]\r\nver=9.9\r\nkolnaz=1\r\n[selfupdate]\r\ntypeofselfupdate=1\r\n", ""},
        {"statement too large", test::SignedText(Catalogue(6)) + std::string(kStatementMaxBytes, '#'), kSigned, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        OfflineMode = false;
        LauncherConfig.CatalogueVersion = 0;
        serverStatement_ = c.statement;
        serverCatalogue_ = c.served;
        context_.publisherKey = c.key.empty() ? test::TestPublicKeyHex() : c.key;
        EXPECT_TRUE(Run().finished);
        EXPECT_TRUE(OfflineMode);
        EXPECT_FALSE(SelfUpdateNeeded);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].text, FormatText(TextIn(TextId::CatalogueNotSigned, UiRussian), CatalogueUrl()));
        EXPECT_EQ(test::ReadFile(In("inf.ini")), kLocal);
        EXPECT_EQ(test::ReadFile(In("inf.ini.sig")), "the statement taken before");
        EXPECT_FALSE(test::Exists(DownloadedCataloguePath()));
        EXPECT_FALSE(test::Exists(DownloadedCatalogueStatementPath()));
        EXPECT_EQ(LauncherConfig.CatalogueVersion, 5u);
        EXPECT_EQ(StoredVersion(), "5");
    }
}

TEST_F(SignedCatalogueTest, ACatalogueThatDoesNotComeOrAFirstRunChangeNothingElse) {
    // As without a key: the copy taken before serves, online and without a word.
    serverStatement_ = test::SignedText(Catalogue(6));
    serverCatalogue_ = "";
    EXPECT_TRUE(Run().finished);
    EXPECT_FALSE(OfflineMode);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(test::ReadFile(In("inf.ini")), kLocal);
    EXPECT_FALSE(test::Exists(DownloadedCatalogueStatementPath()));

    // A first run takes the catalogue but creates no settings file for its version: the next start
    // would no longer be a first run.
    std::filesystem::remove(test::FsPath(In(SettingsFileName)));
    LauncherConfig.CatalogueVersion = 0;
    serverCatalogue_ = kSigned;
    EXPECT_TRUE(Run().finished);
    EXPECT_FALSE(OfflineMode);
    EXPECT_EQ(LauncherConfig.CatalogueVersion, 6u);
    EXPECT_FALSE(test::Exists(In(SettingsFileName)));
}

TEST_F(SignedCatalogueTest, TheMessageSaysSoInBothLanguages) {
    EXPECT_EQ(FormatText(TextIn(TextId::CatalogueNotSigned, UiRussian), "http://u/cstrike/inf.ini"),
              "Каталог сервера обновлений http://u/cstrike/inf.ini не подписан издателем лаунчера. "
              "Лаунчер работает без сервера.");
    test::WriteFile(In(SettingsFileName), "[GameSettings]\r\nGameLanguage=English\r\n");
    EXPECT_TRUE(Run().finished);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "The catalogue of the update server " + CatalogueUrl() +
                                     " is not signed by the publisher of the program. The program works offline.");
}

}  // namespace
}  // namespace orv
