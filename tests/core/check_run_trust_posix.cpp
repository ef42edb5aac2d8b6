// The check-and-repair run of a build signed by the publisher: a keyed launcher walks only a
// checklist its key vouches for and installs only files whose SHA-256 the hash list names; an
// unkeyed one runs as it always did. The statements are signed here with the test key (OpenSSL,
// so native only).
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/events.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/checklist_trust.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/integrity/statement.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/startup_sequence.h"
#include "support/process_state.h"
#include "support/test_files.h"
#include "tools/publish.h"
#include "tools/release_signing.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

constexpr const char* kBase = "http://updates.test/base/";
constexpr int64_t kNow = 1900000000;  // 2030-03-17
const std::string kKeyPath = std::string(ORVANTA_TEST_DATA) + "/signing/key.pem";

// CRC-32 is linear: the last four bytes can be chosen to give any CRC-32 at all. Rewrites them so
// that `bytes` keeps the CRC-32 it had before it was changed.
void ForgeCrc32(std::string& bytes, uint32_t wanted) {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    std::array<int, 256> byTopByte{};
    for (int i = 0; i < 256; ++i) byTopByte[table[i] >> 24] = i;
    const size_t n = bytes.size() - 4;
    const uint32_t before = Crc32Update(0xFFFFFFFFu, bytes.data(), n);
    // Four zero bytes after a register are one step each; undo them from the wanted register.
    uint32_t reg = wanted ^ 0xFFFFFFFFu;
    for (int step = 0; step < 4; ++step) {
        const uint32_t low = static_cast<uint32_t>(byTopByte[reg >> 24]);
        reg = ((reg ^ table[low]) << 8) | low;
    }
    const uint32_t tail = reg ^ before;
    for (int i = 0; i < 4; ++i) bytes[n + i] = static_cast<char>((tail >> (8 * i)) & 0xFF);
}

TEST(ForgeCrc32Helper, KeepsTheCrcOfChangedBytes) {
    std::string bytes = test::MakeData(5000, 7, false);
    const uint32_t crc = Crc32Of(bytes);
    bytes[10] ^= 0x55;
    ForgeCrc32(bytes, crc);
    EXPECT_EQ(Crc32Of(bytes), crc);
}

class RecordingView final : public CheckRunView {
public:
    void SetStatus(const std::string&) override {}
    void SetCounters(const std::string&) override {}
    void ResetOverall(int) override { position = 0; }
    int OverallPosition() const override { return position; }
    void SetOverallPosition(int p) override { position = p; }
    void SetOverallWidth(int) override {}
    void SetFileMax(int) override {}
    void FillFileProgress() override {}
    void BringToFront() override {}
    void RequestClose() override { ++closeRequests; }
    void Stop() override { StopFlag = 1; }
    int position = 0, closeRequests = 0;
};

std::string Native(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// What the fixture signs; each case changes one thing.
struct Signing {
    uint64_t pinned = 3, checklistVersion = 3;
    int64_t expires = kNow + 3600;
    std::string catalogueGame = GameCode, checklistGame = GameCode;
    std::string pinnedName = "css77", checklistName = "css77";
    bool wrongCatalogueDigest = false;
    std::function<void(std::string& hashList)> editHashList;
    std::function<void(std::string& statement)> editStatement;  // the checklist's, after signing
    uint64_t entriesDelta = 0;
};

class CheckRunTrustTest : public ::testing::Test {
public:
    void SetUp() override {
        savedStop_ = StopFlag;
        CreateLzmaAloneInstance();
        game_ = dir_.File("game");
        CreateDirectories(game_);
        GameFolder = game_;
        UiLanguage = UiEnglish;
        AppName = "css";
        StopFlag = 0;
        files_ = {
            {"hl2.exe", test::MakeData(70000, 1, false)},
            {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
            {"cstrike\\cfg\\empty.cfg", ""},
        };
        for (const auto& [name, bytes] : files_) {
            const std::string path = dir_.File("build") + "\\" + name;
            CreateDirectories(path.substr(0, path.find_last_of('\\')));
            WriteFile(path, bytes);
        }
        publish::PublishOptions o;
        o.buildDir = dir_.File("build");
        o.serverRoot = dir_.File("www");
        o.serverBase = kBase;
        o.gameName = "Counter-Strike";
        o.buildName = "v77";
        o.checklistName = "css77";
        o.downloadPath = "cstrike/builds/v77";
        o.appName = "css";
        o.jobs = 1;
        publish::Publish(o, [](const std::string&) {});
        WriteFile(Game("inf.ini"), ReadFile(Native(Server(CataloguePath()))));

        platform_ = PortableCheckRunPlatform();
        platform_.serverBase = kBase;
        platform_.publisherKey = publish::SigningPublicKeyHex(kKeyPath);
        platform_.now = [] { return kNow; };
        platform_.catalogueCodec = CodePageCodec(CodePage::Windows1251);
        platform_.checklistPage = CodePage::Windows1251;
        platform_.setCurrentFolder = [](const std::string&) {};
        platform_.downloadFile = [this](const std::string& url, const std::string& path) { return Fetch(url, path); };
        platform_.downloadBounded = [this](const std::string& url, const std::string& path, uint64_t maxBytes) {
            bounds_[url] = maxBytes;
            return Fetch(url, path) && fs::file_size(test::FsPath(path)) <= maxBytes;
        };
        platform_.engine.newFetcher = [this] { return std::make_unique<LocalFetcher>(*this); };
        platform_.replaceFile = [](const std::string& from, const std::string& to) {
            std::error_code error;
            fs::rename(test::FsPath(from), test::FsPath(to), error);
            return !error;
        };
        platform_.makeNormal = [](const std::string&) {};
        platform_.createFolder = [](const std::string& path) {
            std::error_code error;
            fs::create_directory(test::FsPath(path), error);
        };
    }
    void TearDown() override { StopFlag = savedStop_; }

    class LocalFetcher final : public Fetcher {
    public:
        explicit LocalFetcher(CheckRunTrustTest& test) : test_(test) {}
        FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>&,
                        const FetchProgress&) override {
            FetchResult result;
            result.ok = test_.Fetch(url, path);
            if (!result.ok) result.failed = FetchStep::Request;
            return result;
        }
        FetchResult Head(const std::string&) override { return FetchResult{}; }

    private:
        CheckRunTrustTest& test_;
    };

    std::string Game(const std::string& relative) const { return game_ + "\\" + relative; }
    std::string Server(const std::string& relative) const { return dir_.File("www") + "\\" + relative; }
    std::string ServerChecklist(const std::string& extension) const {
        return Native(Server(std::string(GameCode) + "\\css77" + extension));
    }
    std::string ServerFile(const std::string& entryPath) const {
        return Native(Server(GameFileUrl("cstrike/builds/v77", entryPath)));
    }
    bool Fetch(const std::string& url, const std::string& path) {
        const std::string base = kBase;
        if (url.rfind(base, 0) != 0) return false;
        const std::string source = Native(Server(url.substr(base.size())));
        if (!fs::exists(source)) return false;
        WriteFile(path, ReadFile(source));
        return true;
    }

    static std::string Sign(const Statement& s) {
        const std::string body = StatementBody(s);
        return body + StatementSignatureLine(publish::SigningPublicKey(kKeyPath),
                                             publish::SignDigest(kKeyPath, Sha256Of(body)));
    }

    // The hash list of the published checklist, from the build's own files.
    std::string HashList(uint64_t& entries) const {
        const std::string plain = dir_.File("plain.dim");
        EXPECT_TRUE(TLZMAAlone().Main(ServerChecklist(".dim.lzma"), plain, "d"));
        ChecklistReader reader = ChecklistReader::Open(plain, CodePage::Windows1251);
        std::string list;
        entries = 0;
        while (!reader.AtEnd()) {
            const ChecklistEntry entry = reader.Next();
            std::string bytes;
            if (!entry.IsFolder() && entry.path != "\\.") bytes = ReadFile(Native(dir_.File("build") + entry.path));
            list += HashListLine(HashListEntry{Sha256Of(bytes), bytes.size()});
            ++entries;
        }
        return list;
    }

    void SignBuild(const Signing& g) {
        uint64_t& entries = entries_;
        std::string hashList = HashList(entries);
        if (g.editHashList) g.editHashList(hashList);
        WriteFile(ServerChecklist(".dim.sha256"), hashList);

        Statement catalogue;
        catalogue.kind = StatementKind::Catalogue;
        catalogue.game = g.catalogueGame;
        catalogue.name = "inf.ini";
        catalogue.version = 9;
        catalogue.expires = g.expires;
        const FileDigest inf = Sha256OfFile(Game("inf.ini"));
        catalogue.sha256 = inf.sha256;
        if (g.wrongCatalogueDigest) catalogue.sha256[0] ^= 1;
        catalogue.size = inf.size;
        catalogue.pins = {StatementPin{g.pinned, g.pinnedName}};
        WriteFile(Game(CatalogueStatementFileName()), Sign(catalogue));

        Statement checklist;
        checklist.kind = StatementKind::Checklist;
        checklist.game = g.checklistGame;
        checklist.name = g.checklistName;
        checklist.version = g.checklistVersion;
        checklist.expires = g.expires;
        const FileDigest lzma = Sha256OfFile(ServerChecklist(".dim.lzma"));
        checklist.sha256 = lzma.sha256;
        checklist.size = lzma.size;
        const std::string signedList = ReadFile(ServerChecklist(".dim.sha256"));
        checklist.hashesSha256 = Sha256Of(signedList);
        checklist.hashesSize = signedList.size();
        checklist.entries = entries + g.entriesDelta;
        std::string text = Sign(checklist);
        if (g.editStatement) g.editStatement(text);
        WriteFile(ServerChecklist(".dim.sig"), text);
    }

    // A server file of the same size and CRC-32 as the build's, with other bytes.
    void ForgeServerFile(const std::string& name) {
        std::string forged = files_.at(name);
        forged[100] ^= 0x5A;
        ForgeCrc32(forged, Crc32Of(files_.at(name)));
        const std::string plain = dir_.File("forged.plain");
        WriteFile(plain, forged);
        ASSERT_TRUE(TLZMAAlone().Main(plain, ServerFile("\\" + name), "e"));
        forged_ = forged;
    }

    CheckRunResult Run() { return RunCheck(CheckRunRequest{}, view_, platform_); }
    // The game folder's files, other than the catalogue and its statement.
    std::map<std::string, std::string> GameFiles() const {
        std::map<std::string, std::string> found;
        for (const auto& item : fs::recursive_directory_iterator(Native(game_))) {
            const std::string name = fs::relative(item.path(), Native(game_)).string();
            if (name == "inf.ini" || name == CatalogueStatementFileName()) continue;
            found[name] = item.is_directory() ? "<folder>" : ReadFile(item.path().string());
        }
        return found;
    }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    std::string game_;
    std::map<std::string, std::string> files_;
    std::string forged_;
    uint64_t entries_ = 0;
    std::map<std::string, uint64_t> bounds_;
    CheckRunPlatform platform_;
    RecordingView view_;
    int32_t savedStop_ = 1;
};

TEST_F(CheckRunTrustTest, AGoodSignedBuildIsRepairedAndItsFilesAreBoundedAndGone) {
    SignBuild(Signing{});
    WriteFile(Game("hl2.exe"), "old");
    const CheckRunResult result = Run();
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.downloaded, 2);
    for (const auto& [name, bytes] : files_) EXPECT_TRUE(ReadFile(Native(Game(name))) == bytes) << name;
    EXPECT_EQ(state_.messages, std::vector<std::string>{"File checker was successful"});
    const std::string stem = std::string(kBase) + GameCode + "/css77.dim";
    EXPECT_EQ(bounds_[stem + ".sig"], kStatementMaxBytes);
    EXPECT_EQ(bounds_[stem + ".sha256"], HashListLimit(entries_));
    EXPECT_GE(entries_, 5u) << "two folders and three files at least";
    for (const char* left : {"css77.dim", "css77.dim.lzma", "css77.dim.sig", "css77.dim.sha256"})
        EXPECT_FALSE(fs::exists(Native(Game(left)))) << left;
}

TEST_F(CheckRunTrustTest, AForgedFileOfTheSameSizeAndCrcIsRefusedKeyedAndTakenUnkeyed) {
    for (const bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        SignBuild(Signing{});
        ForgeServerFile("hl2.exe");
        WriteFile(Game("hl2.exe"), "the old one");
        if (!keyed) platform_.publisherKey.clear();
        StopFlag = 0;
        state_.messages.clear();
        const test::QuestionAnswers answers(MsgResult::Ignore);
        const CheckRunResult result = Run();
        if (keyed) {
            EXPECT_EQ(ReadFile(Native(Game("hl2.exe"))), "the old one");
            ASSERT_FALSE(answers.Texts().empty());
            EXPECT_EQ(answers.Texts()[0], "The file \\hl2.exe from the server does not match the publisher's signature");
            EXPECT_EQ(view_.closeRequests, 1) << "as after a failed download";
        } else {
            EXPECT_TRUE(ReadFile(Native(Game("hl2.exe"))) == forged_) << "size and CRC-32 alone cannot tell";
            EXPECT_TRUE(result.completed);
        }
        EXPECT_FALSE(fs::exists(Native(Game("hl2.exe.lzma"))));
        view_.closeRequests = 0;
    }
}

TEST_F(CheckRunTrustTest, AnyFaultOfTheStatementsOrTheHashListLeavesTheGameFolderAsItWas) {
    const auto cut = [](std::string& text) { text.resize(text.size() / 2); };
    const struct {
        const char* name;
        std::function<void(Signing&)> change;
        std::function<void(CheckRunTrustTest&)> after;  // once the build is signed
    } cases[] = {
        {"rollback: the checklist is not the pinned version", [](Signing& g) { g.checklistVersion = 2; }, {}},
        {"expired", [](Signing& g) { g.expires = kNow; }, {}},
        {"catalogue of another game", [](Signing& g) { g.catalogueGame = "other"; }, {}},
        {"checklist of another game", [](Signing& g) { g.checklistGame = "other"; }, {}},
        {"another checklist's statement", [](Signing& g) { g.checklistName = "css76"; }, {}},
        {"the catalogue pins another checklist", [](Signing& g) { g.pinnedName = "css76"; }, {}},
        {"the catalogue statement covers another inf.ini", [](Signing& g) { g.wrongCatalogueDigest = true; }, {}},
        {"truncated statement", [&](Signing& g) { g.editStatement = cut; }, {}},
        {"malformed statement", [](Signing& g) { g.editStatement = [](std::string& t) { t[0] = 'X'; }; }, {}},
        {"huge statement",
         [](Signing& g) { g.editStatement = [](std::string& t) { t.append(kStatementMaxBytes, '\n'); }; }, {}},
        {"entries one more than the checklist has", [](Signing& g) { g.entriesDelta = 1; }, {}},
        {"malformed hash line (signed as such)",
         [](Signing& g) { g.editHashList = [](std::string& l) { l[0] = 'G'; }; }, {}},
        {"a hash line with another size (signed as such)",
         [](Signing& g) {
             g.editHashList = [](std::string& l) { l.replace(l.find(" 0\n"), 3, " 1\n"); };
         },
         {}},
        {"the hash list is cut after signing", {},
         [&](CheckRunTrustTest& t) {
             std::string list = ReadFile(t.ServerChecklist(".dim.sha256"));
             cut(list);
             WriteFile(t.ServerChecklist(".dim.sha256"), list);
         }},
        {"the hash list is huge", {},
         [](CheckRunTrustTest& t) {
             WriteFile(t.ServerChecklist(".dim.sha256"), std::string(HashListLimit(t.entries_) + 1, 'a'));
         }},
        {"no checklist statement", {}, [](CheckRunTrustTest& t) { fs::remove(t.ServerChecklist(".dim.sig")); }},
        {"no hash list", {}, [](CheckRunTrustTest& t) { fs::remove(t.ServerChecklist(".dim.sha256")); }},
        {"no catalogue statement", {},
         [](CheckRunTrustTest& t) { fs::remove(Native(t.Game(CatalogueStatementFileName()))); }},
        {"the launcher holds another key", {},
         [](CheckRunTrustTest& t) {
             t.platform_.publisherKey = ReadFile(std::string(ORVANTA_TEST_DATA) + "/signing/other-public.hex");
             while (!t.platform_.publisherKey.empty() && t.platform_.publisherKey.back() == '\n')
                 t.platform_.publisherKey.pop_back();
         }},
        {"the launcher's key does not decode", {}, [](CheckRunTrustTest& t) { t.platform_.publisherKey = "zz"; }},
    };
    const std::string key = platform_.publisherKey;
    WriteFile(Game("hl2.exe"), "the old one");
    const std::map<std::string, std::string> before = GameFiles();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Signing g;
        if (c.change) c.change(g);
        platform_.publisherKey = key;
        SignBuild(g);
        if (c.after) c.after(*this);
        StopFlag = 0;
        state_.messages.clear();
        const CheckRunResult result = Run();
        EXPECT_FALSE(result.completed);
        ASSERT_EQ(state_.messages.size(), 1u);
        EXPECT_EQ(state_.messages[0].rfind("The checklist of this build is not signed by the publisher: ", 0), 0u)
            << state_.messages[0];
        EXPECT_EQ(GameFiles(), before) << "nothing was made, replaced or left behind";
        EXPECT_EQ(StopFlag, 1);
    }
}

TEST_F(CheckRunTrustTest, TheRefusalIsToldInRussianToo) {
    Signing rollback;
    rollback.checklistVersion = 4;
    SignBuild(rollback);
    UiLanguage = UiRussian;
    Run();
    ASSERT_EQ(state_.messages.size(), 1u);
    EXPECT_EQ(state_.messages[0].rfind("Список файлов этой сборки не подписан издателем: ", 0), 0u);
}

}  // namespace
}  // namespace orv
