// The publisher's signed statements as a keyed launcher reads them: publish, publish-launcher and
// sign against the test key pair (tests/data/signing). Native only: the tool signs with OpenSSL.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "launcher/base/errors.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/integrity/statement.h"
#include "support/test_files.h"
#include "tools/publish.h"
#include "tools/publish_launcher.h"
#include "tools/release_signing.h"
#include "tools/sign_server.h"

namespace orv::publish {
namespace {

constexpr const char* kBase = "http://127.0.0.1:8740/";
constexpr int64_t kDay = 24 * 60 * 60;

std::string Fixture(const std::string& name) { return std::string(ORVANTA_TEST_DATA) + "/signing/" + name; }

EcdsaPublicKey KeyOf(const std::string& hexFile) {
    std::string hex = test::ReadFile(Fixture(hexFile));
    while (!hex.empty() && hex.back() == '\n') hex.pop_back();
    return PublisherKeyFromHex(hex).value();
}

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Server {
    test::TempDir dir;
    std::string build = dir.File("build");
    std::string root = dir.File("www");
    std::map<std::string, std::string> files = {
        {"hl2.exe", test::MakeData(70000, 1, false)},
        {"cstrike/cfg/autoexec.cfg", "bind w +forward\r\n"},
        {"cstrike/cfg/empty.cfg", ""},
        {"cstrike/Игрок/ник.txt", "Игрок"},
    };

    Server() {
        for (const auto& [name, bytes] : files) Put(name, bytes);
    }
    void Put(const std::string& name, const std::string& bytes) {
        files[name] = bytes;
        std::filesystem::create_directories(std::filesystem::path(build + "/" + name).parent_path());
        test::WriteFile(build + "/" + name, bytes);
    }
    PublishSummary Publish(const std::vector<std::string>& keys, const std::string& checklist = "css34") const {
        PublishOptions o;
        o.buildDir = build;
        o.serverRoot = root;
        o.serverBase = kBase;
        o.gameCode = "cstrike";
        o.gameName = "Counter-Strike";
        o.buildName = checklist;
        o.checklistName = checklist;
        o.downloadPath = "cstrike/" + checklist;
        o.signing.keys = keys;
        return publish::Publish(o, [](const std::string&) {});
    }
    std::vector<SignedStatement> Sign(const std::vector<std::string>& keys) const {
        SignServerOptions o;
        o.serverRoot = root;
        o.serverBase = kBase;
        o.gameCode = "cstrike";
        o.signing.keys = keys;
        return SignServer(o, [](const std::string&) {});
    }
    std::string File(const std::string& relative) const { return root + "/cstrike/" + relative; }

    // The statement at `relative` as a launcher with `key` takes it; fails the test otherwise.
    Statement Verified(const std::string& relative, StatementKind kind, const std::string& name,
                       const EcdsaPublicKey& key = KeyOf("public.hex")) const {
        Statement s;
        const TrustResult result =
            VerifyStatement(test::ReadFile(File(relative)), key, {kind, "cstrike", name, 0, std::nullopt, Now()}, &s);
        EXPECT_TRUE(result) << relative << ": " << result.detail;
        return s;
    }
    void ExpectCovers(const Statement& s, const std::string& path) const {
        EXPECT_TRUE(CheckCoveredDigest(s, Sha256OfFile(path))) << path;
    }
    // The hash list a launcher walks beside the checklist: one line per entry, in step.
    void ExpectHashListInStep(const std::string& checklist) const {
        const std::string unpacked = dir.File(checklist + ".dim");
        ASSERT_TRUE(TLZMAAlone().Main(File(checklist + ".dim.lzma"), unpacked, "d"));
        ChecklistReader entries = ChecklistReader::Open(unpacked, CodePage::Windows1251);
        HashListReader hashes = HashListReader::Open(File(checklist + ".dim.sha256"));
        size_t walked = 0;
        while (!entries.AtEnd()) {
            const ChecklistEntry e = entries.Next();
            const std::optional<HashListEntry> h = hashes.Next();
            ASSERT_TRUE(h) << e.path;
            std::string name = e.IsFolder() ? "" : e.path.substr(1);
            for (char& c : name)
                if (c == '\\') c = '/';
            const std::string bytes = e.IsFolder() ? std::string() : files.at(name);
            EXPECT_EQ(h->sha256, Sha256Of(bytes)) << e.path;
            EXPECT_EQ(h->size, bytes.size()) << e.path;
            ++walked;
        }
        EXPECT_FALSE(hashes.Next());
        EXPECT_EQ(walked, files.size() + 3);  // and the folders cstrike, cfg and Игрок
    }
};

TEST(SignedPublish, StatementsVerifyAndCoverWhatIsServed) {
    Server server;
    const int64_t before = Now();
    const PublishSummary summary = server.Publish({Fixture("key.pem")});
    EXPECT_EQ(summary.checklistStatement, 1u);
    EXPECT_EQ(summary.catalogueStatement, 1u);

    const Statement checklist = server.Verified("css34.dim.sig", StatementKind::Checklist, "css34");
    server.ExpectCovers(checklist, server.File("css34.dim.lzma"));
    const FileDigest hashes = Sha256OfFile(server.File("css34.dim.sha256"));
    EXPECT_EQ(checklist.hashesSha256, hashes.sha256);
    EXPECT_EQ(checklist.hashesSize, hashes.size);
    EXPECT_GE(checklist.expires, before + DefaultExpiryDays * kDay);
    EXPECT_LE(checklist.expires, Now() + DefaultExpiryDays * kDay);
    server.ExpectHashListInStep("css34");

    const Statement catalogue = server.Verified("inf.ini.sig", StatementKind::Catalogue, "inf.ini");
    server.ExpectCovers(catalogue, server.File("inf.ini"));
    ASSERT_EQ(catalogue.pins.size(), 1u);
    EXPECT_EQ(catalogue.pins[0].checklist, "css34");
    EXPECT_EQ(catalogue.pins[0].version, 1u);

    EXPECT_EQ(summary.keepListStatement, 1u);
    server.ExpectCovers(server.Verified("cstrikeclean.json.sig", StatementKind::KeepList, "cstrikeclean.json"),
                        server.File("cstrikeclean.json"));
}

TEST(SignedPublish, VersionsGrowOnEverySigningAndPinsFollow) {
    Server server;
    server.Publish({Fixture("key.pem")});
    server.Publish({Fixture("key.pem")});  // nothing changed: signed again all the same
    EXPECT_EQ(server.Verified("css34.dim.sig", StatementKind::Checklist, "css34").version, 2u);
    server.Sign({Fixture("key.pem")});
    server.Publish({Fixture("key.pem")}, "css35");

    const Statement catalogue = server.Verified("inf.ini.sig", StatementKind::Catalogue, "inf.ini");
    EXPECT_EQ(catalogue.version, 4u);
    ASSERT_EQ(catalogue.pins.size(), 2u);
    EXPECT_EQ(catalogue.pins[0].checklist, "css34");
    EXPECT_EQ(catalogue.pins[0].version, 3u);
    EXPECT_EQ(catalogue.pins[1].checklist, "css35");
    EXPECT_EQ(catalogue.pins[1].version, 1u);
    // The keep list is re-signed by each run, the sign command's included.
    EXPECT_EQ(server.Verified("cstrikeclean.json.sig", StatementKind::KeepList, "cstrikeclean.json").version, 4u);
}

TEST(SignedPublish, EachKeyGivesASignatureOfItsOwn) {
    Server server;
    server.Publish({Fixture("key.pem"), Fixture("second-key.pem")});
    const EcdsaPublicKey second = SigningPublicKey(Fixture("second-key.pem"));
    for (const EcdsaPublicKey& key : {KeyOf("public.hex"), second}) {
        EXPECT_EQ(server.Verified("inf.ini.sig", StatementKind::Catalogue, "inf.ini", key).signatures.size(), 2u);
        server.Verified("css34.dim.sig", StatementKind::Checklist, "css34", key);
    }
    Statement s;
    EXPECT_EQ(VerifyStatement(test::ReadFile(server.File("inf.ini.sig")), KeyOf("other-public.hex"),
                              {StatementKind::Catalogue, "cstrike", "inf.ini", 0, std::nullopt, Now()}, &s)
                  .failure,
              TrustFailure::NotSigned);
}

TEST(SignedPublish, WithoutAKeyNothingNewIsWritten) {
    Server server;
    server.Publish({});
    for (const auto& entry : std::filesystem::recursive_directory_iterator(server.root)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.ends_with(".sig") || name.ends_with(".sha256")) << entry.path();
    }
}

TEST(SignedPublish, AnotherChecklistWithoutAStatementStopsTheRunBeforeItWrites) {
    Server server;
    server.Publish({});
    const std::string catalogue = test::ReadFile(server.File("inf.ini"));
    try {
        server.Publish({Fixture("key.pem")}, "css35");
        ADD_FAILURE() << "published";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("css34"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("orvanta-tool sign"), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::ReadFile(server.File("inf.ini")), catalogue);
    EXPECT_FALSE(test::Exists(server.File("css35.dim.lzma")));
    EXPECT_FALSE(test::Exists(server.File("inf.ini.sig")));
}

TEST(SignServer, ComputesAMissingOrStaleHashListFromTheServersFiles) {
    Server server;
    server.Publish({});
    std::vector<SignedStatement> signed_ = server.Sign({Fixture("key.pem")});
    ASSERT_EQ(signed_.size(), 3u);
    EXPECT_TRUE(signed_[0].hashListComputed);
    // The keep list an unkeyed publish wrote is signed as it lies.
    EXPECT_EQ(signed_[1].path, "cstrike/cstrikeclean.json.sig");
    server.ExpectCovers(server.Verified("cstrikeclean.json.sig", StatementKind::KeepList, "cstrikeclean.json"),
                        server.File("cstrikeclean.json"));
    server.ExpectHashListInStep("css34");
    server.ExpectCovers(server.Verified("css34.dim.sig", StatementKind::Checklist, "css34"),
                        server.File("css34.dim.lzma"));
    EXPECT_EQ(server.Verified("inf.ini.sig", StatementKind::Catalogue, "inf.ini").pins.at(0).version, 1u);

    signed_ = server.Sign({Fixture("key.pem")});
    EXPECT_FALSE(signed_[0].hashListComputed);  // the statement still covers list and checklist
    EXPECT_EQ(signed_[0].version, 2u);

    // Published again without a key, a file changed but not the number of entries.
    server.Put("cstrike/cfg/autoexec.cfg", "bind s +back\r\n");
    server.Publish({});
    signed_ = server.Sign({Fixture("key.pem")});
    EXPECT_TRUE(signed_[0].hashListComputed);
    server.ExpectHashListInStep("css34");
}

TEST(SignServer, SignsTheInstallerThatPublishLauncherPut) {
    Server server;
    server.Publish({Fixture("key.pem")});
    LauncherReleaseOptions o;
    o.executable = server.dir.File("Orvanta.exe");
    o.installer = server.dir.File("setup.exe");
    test::WriteFile(o.executable, test::MakeData(50000, 2, false));
    test::WriteFile(o.installer, test::MakeData(60000, 3, false));
    o.serverRoot = server.root;
    o.serverBase = kBase;
    o.gameCode = "cstrike";
    o.version = "2.0";
    o.signingKey = Fixture("key.pem");
    const LauncherReleaseSummary release = PublishLauncher(o);
    EXPECT_EQ(release.installerStatement, 1u);
    EXPECT_EQ(release.catalogueStatement, 2u);
    server.ExpectCovers(server.Verified("upt.exe.sig", StatementKind::Installer, "upt.exe"), o.installer);
    const Statement catalogue = server.Verified("inf.ini.sig", StatementKind::Catalogue, "inf.ini");
    server.ExpectCovers(catalogue, server.File("inf.ini"));  // the catalogue with the new version
    EXPECT_EQ(catalogue.pins.at(0).version, 1u);

    const std::vector<SignedStatement> signed_ = server.Sign({Fixture("key.pem")});
    ASSERT_EQ(signed_.size(), 4u);
    EXPECT_EQ(signed_[1].path, "cstrike/upt.exe.sig");
    const Statement installer = server.Verified("upt.exe.sig", StatementKind::Installer, "upt.exe");
    EXPECT_EQ(installer.version, 2u);
    server.ExpectCovers(installer, o.installer);
}

}  // namespace
}  // namespace orv::publish
