// The self-update window's two procedures over a file system and a server of the test's own: what
// each failure leaves behind, and that the launcher under its name survives every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/signed_statements.h"
#include "launcher/integrity/crc32.h"
#include "launcher/selfupdate/update_procedures.h"

namespace orv {
namespace {

constexpr const char* kFolder = "C:\\Game";
constexpr const char* kExe = "C:\\Game\\Orvanta.exe";
constexpr const char* kServer = "http://update.test/";
const std::string kNewExe = "MZ the new launcher";
const std::string kPacked = "packed:" + kNewExe;

// Packed content is "packed:" and the unpacked bytes; the unpack fails on anything else.
class FakePlatform final : public SelfUpdatePlatform {
public:
    std::map<std::string, std::string> files{{kExe, "MZ the running launcher"}};
    std::set<std::string> readOnly;
    std::set<std::string> flushed;  // files whose data reached the disk
    std::string held;
    std::vector<std::string> calls;  // every file call, in order, as "what name"
    std::map<std::string, std::string> server;  // address -> body
    std::set<std::string> breakOff;             // addresses whose transfer breaks off
    std::set<std::string> refuse;               // operations to refuse: "move exe", "copy", "delete old", ...
    std::vector<SelfUpdateStep> steps;
    std::string started;
    bool signatureAnswer = true;
    int statementDownloads = 0;
    std::string signatureSeen;

    void ShowStep(SelfUpdateStep step) override { steps.push_back(step); }
    bool DownloadFile(const std::string& url, const std::string& path) override { return Fetch(url, path); }
    bool DownloadUpdateFile(const std::string& url, const std::string& path, int64_t) override {
        if (refuse.count("download raises")) throw std::runtime_error("cannot create the file");
        return Fetch(url, path);
    }
    bool DownloadStatement(const std::string& url, const std::string& path, size_t maxBytes) override {
        ++statementDownloads;
        if (server.count(url) && server[url].size() > maxBytes) return false;
        return Fetch(url, path);
    }
    bool Unpack(const std::string& input, const std::string& output) override {
        const std::string target = output.empty() ? input.substr(0, input.size() - 5) : output;
        const std::string packed = files[input];
        files.erase(input);
        if (packed.rfind("packed:", 0) != 0) {
            files[target] = "partial";
            return false;
        }
        files[target] = packed.substr(7);
        return true;
    }
    std::string ReadFile(const std::string& path) override {
        if (!files.count(path)) throw std::runtime_error("no file " + path);
        return files[path];
    }
    std::string DecodeAnsi(std::string_view bytes) override { return AnsiToUtf8(bytes, CodePage::Windows1252).text; }
    uint32_t FileCrc32(const std::string& path) override { return Crc32Of(files.at(path)); }
    FileDigest Digest(const std::string& path) override {
        const std::string& bytes = files.at(path);
        return FileDigest{Sha256Of(bytes), bytes.size()};
    }
    int64_t Now() override { return now; }
    int64_t now = 1800000000;  // 2027-01-15
    bool SignatureValid(const std::string& path, const std::string& signature, const std::string& key) override {
        EXPECT_EQ(path, std::string(kExe) + ".new");
        EXPECT_EQ(key, "ab12");
        signatureSeen = signature;
        return signatureAnswer;
    }
    bool Exists(const std::string& path) override {
        calls.push_back("exists " + Name(path));
        return files.count(path) != 0;
    }
    void SetNormal(const std::string& path) override {
        calls.push_back("normal " + Name(path));
        readOnly.erase(path);
    }
    bool Delete(const std::string& path) override {
        calls.push_back("delete " + Name(path));
        if (readOnly.count(path) || refuse.count("delete " + Name(path)) || path == held) return false;
        return files.erase(path) != 0;
    }
    bool Move(const std::string& from, const std::string& to) override {
        calls.push_back("move " + Name(from) + " " + Name(to));
        if (refuse.count("move " + Name(from))) return false;
        return Rename(from, to);
    }
    bool Hold(const std::string& path) override {
        calls.push_back("hold " + Name(path));
        held.clear();
        if (refuse.count("hold") || !files.count(path)) return false;
        flushed.insert(path);
        held = path;
        return true;
    }
    bool MoveHeld(const std::string& to) override {
        calls.push_back("move held " + Name(to));
        if (held.empty()) return false;
        if (refuse.count("move held")) {
            if (refuse.count("move held raises")) throw std::runtime_error("The media is write protected");
            return false;
        }
        if (!Rename(held, to)) return false;
        held.clear();
        return true;
    }
    void StartInstaller(const std::string& path) override {
        if (refuse.count("shell")) throw std::runtime_error("The system cannot find the file specified");
        started = path;
    }

    // The files of the game folder, by name.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& [path, bytes] : files) names.insert(Name(path));
        return names;
    }

private:
    static std::string Name(const std::string& path) {
        const size_t slash = path.find_last_of("\\/");
        return path.substr(slash + 1);
    }
    bool Rename(const std::string& from, const std::string& to) {
        if (!files.count(from) || files.count(to)) return false;
        files[to] = files[from];
        files.erase(from);
        if (flushed.erase(from)) flushed.insert(to);
        return true;
    }
    bool Fetch(const std::string& url, const std::string& path) {
        if (!server.count(url)) return false;
        if (breakOff.count(url)) return false;  // the download deletes what it had
        files[path] = server[url];
        return true;
    }
};

SelfUpdateSetup UpdateSetup(std::string key = {}) {
    return SelfUpdateSetup{kFolder, kExe, kServer, "cstrike", std::move(key)};
}

std::string Description(const std::string& extra = {}) {
    return "{\"DownloadURL\": \"http://update.test/cstrike/Orvanta.exe.lzma\", \"LzmaFileSize\": " +
           std::to_string(kPacked.size()) + ", \"LzmaFileCRC32\": 1, \"FileCRC32\": " + Crc32Text(Crc32Of(kNewExe)) +
           extra + "}";
}

void Publish(FakePlatform& p, const std::string& description) {
    p.server["http://update.test/cstrike/version.txt"] = description;
    p.server["http://update.test/cstrike/Orvanta.exe.lzma"] = kPacked;
}

TEST(DirectUpdate, PutsTheNewExecutableInPlaceAndKeepsTheOldOne) {
    FakePlatform p;
    p.files[std::string(kExe) + ".old"] = "an earlier launcher";
    p.readOnly.insert(std::string(kExe) + ".old");
    Publish(p, Description());
    const SelfUpdateOutcome outcome = RunDirectUpdate(p, UpdateSetup());
    EXPECT_TRUE(outcome.succeeded) << outcome.failure;
    EXPECT_EQ(p.files[kExe], kNewExe);
    EXPECT_EQ(p.files[std::string(kExe) + ".old"], "MZ the running launcher");
    EXPECT_EQ(p.Names(), (std::set<std::string>{"Orvanta.exe", "Orvanta.exe.old"}));
    EXPECT_EQ(p.steps, (std::vector<SelfUpdateStep>{SelfUpdateStep::DirectDownload, SelfUpdateStep::DirectUnpack}));
}

// Each failure: what stays in the folder besides the launcher, which is always the running one.
TEST(DirectUpdate, EveryFailureLeavesTheRunningLauncherUnderItsName) {
    const std::string crc = Crc32Text(Crc32Of(kNewExe));
    const std::string url = "\"http://update.test/cstrike/Orvanta.exe.lzma\"";
    const struct {
        const char* name;
        std::string description;  // empty: not published
        std::set<std::string> refuse;
        bool brokenPacked;
        std::set<std::string> left;  // besides Orvanta.exe
    } cases[] = {
        {"version.txt not downloadable", "", {}, false, {}},
        {"not JSON", "FileCRC32=1", {}, false, {"version.txt"}},
        {"a JSON array", "[1, 2]", {}, false, {"version.txt"}},
        {"key missing", "{\"DownloadURL\": " + url + ", \"LzmaFileSize\": 3, \"FileCRC32\": " + crc + "}", {}, false,
         {"version.txt"}},
        {"size not a number", "{\"DownloadURL\": " + url + ", \"LzmaFileSize\": \"3k\", \"LzmaFileCRC32\": 0, "
         "\"FileCRC32\": " + crc + "}", {}, false, {"version.txt"}},
        {"a file: address", "{\"DownloadURL\": \"file:///C:/x.lzma\", \"LzmaFileSize\": 3, \"LzmaFileCRC32\": 0, "
         "\"FileCRC32\": " + crc + "}", {}, false, {"version.txt"}},
        {"a share", "{\"DownloadURL\": \"\\\\\\\\host\\\\x.lzma\", \"LzmaFileSize\": 3, \"LzmaFileCRC32\": 0, "
         "\"FileCRC32\": " + crc + "}", {}, false, {"version.txt"}},
        {"download raises", Description(), {"download raises"}, false, {"version.txt"}},
        {"damaged .lzma", Description(), {}, true, {"version.txt", "Orvanta.exe.new"}},
        {"CRC with leading zero", "{\"DownloadURL\": " + url + ", \"LzmaFileSize\": 3, \"LzmaFileCRC32\": 0, "
         "\"FileCRC32\": \"0" + crc + "\"}", {}, false, {"version.txt", "Orvanta.exe.new"}},
        {".old cannot be deleted", Description(), {"delete Orvanta.exe.old"}, false,
         {"version.txt", "Orvanta.exe.new", "Orvanta.exe.old"}},
        {"running executable cannot be moved", Description(), {"move Orvanta.exe"}, false,
         {"version.txt", "Orvanta.exe.new"}},
        {"new executable cannot be held", Description(), {"hold"}, false, {"version.txt", "Orvanta.exe.new"}},
        {"move into place refused", Description(), {"move held"}, false, {"version.txt", "Orvanta.exe.new"}},
        {"move into place raises", Description(), {"move held", "move held raises"}, false,
         {"version.txt", "Orvanta.exe.new"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        if (std::string(c.name) == ".old cannot be deleted") p.files[std::string(kExe) + ".old"] = "earlier";
        if (!c.description.empty()) Publish(p, c.description);
        if (c.brokenPacked) p.server["http://update.test/cstrike/Orvanta.exe.lzma"] = "not packed";
        p.refuse = c.refuse;
        const SelfUpdateOutcome outcome = RunDirectUpdate(p, UpdateSetup());
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_FALSE(outcome.failure.empty());
        EXPECT_EQ(p.files[kExe], "MZ the running launcher");
        std::set<std::string> expected = c.left;
        expected.insert("Orvanta.exe");
        EXPECT_EQ(p.Names(), expected);
    }
}

TEST(DirectUpdate, CrcAsANumberOrAStringOfTheSameDigits) {
    const std::string crc = Crc32Text(Crc32Of(kNewExe));
    for (const std::string& form : {crc, "\"" + crc + "\""}) {
        FakePlatform p;
        Publish(p, "{\"DownloadURL\": \"HTTP://update.test/cstrike/Orvanta.exe.lzma\", \"LzmaFileSize\": 0, "
                   "\"LzmaFileCRC32\": \"anything\", \"FileCRC32\": " + form + "}");
        p.server["HTTP://update.test/cstrike/Orvanta.exe.lzma"] = kPacked;
        EXPECT_TRUE(RunDirectUpdate(p, UpdateSetup()).succeeded) << form;
    }
}

// With a key built in, a release must carry a signature that verifies; without one nothing is asked.
TEST(DirectUpdate, ABuildWithAKeyRequiresAValidSignature) {
    const struct {
        std::string extra;
        bool valid;
        bool succeeds;
    } cases[] = {
        {", \"Signature\": \"c0ffee\"", true, true},
        {", \"Signature\": \"c0ffee\"", false, false},
        {"", true, false},
    };
    for (const auto& c : cases) {
        FakePlatform p;
        Publish(p, Description(c.extra));
        p.signatureAnswer = c.valid;
        const SelfUpdateOutcome outcome = RunDirectUpdate(p, UpdateSetup("ab12"));
        EXPECT_EQ(outcome.succeeded, c.succeeds) << c.extra << " valid " << c.valid;
        EXPECT_EQ(p.files[kExe], c.succeeds ? kNewExe : "MZ the running launcher");
        if (!c.extra.empty()) {
            EXPECT_EQ(p.signatureSeen, "c0ffee");
        }
        if (!c.succeeds) {
            EXPECT_TRUE(p.files.count(std::string(kExe) + ".new"));
        }
    }
    FakePlatform unsigned_;
    Publish(unsigned_, Description());
    unsigned_.signatureAnswer = false;  // never asked
    EXPECT_TRUE(RunDirectUpdate(unsigned_, UpdateSetup()).succeeded);
}

TEST(InstallerUpdate, DownloadsUnpacksAndStartsTheInstaller) {
    FakePlatform p;
    p.files["C:\\Game\\upt.exe"] = "an installer from before";
    p.readOnly.insert("C:\\Game\\upt.exe");
    p.server["http://update.test/cstrike/upt.exe.lzma"] = "packed:MZ installer";
    EXPECT_TRUE(RunInstallerUpdate(p, UpdateSetup()).succeeded);
    EXPECT_EQ(p.started, "C:\\Game\\upt.exe");
    EXPECT_EQ(p.files["C:\\Game\\upt.exe"], "MZ installer");
    EXPECT_FALSE(p.files.count("C:\\Game\\upt.exe.lzma"));
    EXPECT_EQ(p.steps, (std::vector<SelfUpdateStep>{SelfUpdateStep::InstallerDownload, SelfUpdateStep::InstallerUnpack}));
    EXPECT_EQ(p.statementDownloads, 0) << "a build without a key asks for no statement";

    // Not on the server; damaged; refused by the shell: a failure each, the launcher untouched.
    for (const char* fault : {"missing", "damaged", "shell"}) {
        FakePlatform q;
        if (std::string(fault) != "missing")
            q.server["http://update.test/cstrike/upt.exe.lzma"] = std::string(fault) == "damaged" ? "junk" : "packed:MZ";
        if (std::string(fault) == "shell") q.refuse.insert("shell");
        const SelfUpdateOutcome outcome = RunInstallerUpdate(q, UpdateSetup());
        EXPECT_FALSE(outcome.succeeded) << fault;
        EXPECT_TRUE(q.started.empty()) << fault;
        EXPECT_FALSE(q.files.count("C:\\Game\\upt.exe.lzma")) << fault;
        EXPECT_EQ(q.files[kExe], "MZ the running launcher");
    }
}

// A build with a key starts the unpacked installer only when the server's statement vouches for it;
// any other installer is deleted unstarted and the window fails.
TEST(InstallerUpdate, ABuildWithAKeyStartsOnlyAnInstallerItsStatementNames) {
    SKIP_WITHOUT_SIGNING();
    const std::string installer = "MZ installer";
    const std::string sigUrl = "http://update.test/cstrike/upt.exe.sig";
    const auto statement = [&](const std::string& covered) {
        return test::StatementFor(StatementKind::Installer, "cstrike", "upt.exe", covered, 7);
    };
    Statement otherKind = statement(installer);
    otherKind.kind = StatementKind::Catalogue;
    Statement otherGame = statement(installer);
    otherGame.game = "dod";
    Statement otherName = statement(installer);
    otherName.name = "upt2.exe";
    const std::string good = test::SignedText(statement(installer));
    std::string forged = good;
    forged.replace(forged.find("version 7"), 9, "version 8");
    const struct {
        const char* name;
        std::string statement;  // empty: not published
        bool starts;
    } cases[] = {
        {"signed", good, true},
        {"missing", "", false},
        {"another installer", test::SignedText(statement("MZ another installer")), false},
        {"expired", test::SignedText(test::StatementFor(StatementKind::Installer, "cstrike", "upt.exe", installer, 7,
                                                        1700000000)), false},
        {"another kind", test::SignedText(otherKind), false},
        {"another game", test::SignedText(otherGame), false},
        {"another name", test::SignedText(otherName), false},
        {"changed after signing", forged, false},
        {"not a statement", "MZ", false},
        {"too large", good + std::string(kStatementMaxBytes, 'x'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        p.server["http://update.test/cstrike/upt.exe.lzma"] = "packed:" + installer;
        if (!c.statement.empty()) p.server[sigUrl] = c.statement;
        const SelfUpdateOutcome outcome = RunInstallerUpdate(p, UpdateSetup(test::TestPublicKeyHex()));
        EXPECT_EQ(outcome.succeeded, c.starts) << outcome.failure;
        EXPECT_EQ(p.started, c.starts ? "C:\\Game\\upt.exe" : "");
        // The statement never stays; the installer only when it was started.
        const std::set<std::string> left =
            c.starts ? std::set<std::string>{"Orvanta.exe", "upt.exe"} : std::set<std::string>{"Orvanta.exe"};
        EXPECT_EQ(p.Names(), left);
    }
    // Under another build's key the same statement is not signed.
    FakePlatform other;
    other.server["http://update.test/cstrike/upt.exe.lzma"] = "packed:" + installer;
    other.server[sigUrl] = good;
    EXPECT_FALSE(RunInstallerUpdate(other, UpdateSetup(test::OtherPublicKeyHex())).succeeded);
    EXPECT_TRUE(other.started.empty());
}

// No launcher has the name only between the two moves of the swap: nothing runs in between, the
// new executable is held and on the disk before the running one moves, and nothing is copied.
TEST(DirectUpdate, TheSwapIsTwoMovesBackToBackOfAHeldFile) {
    FakePlatform p;
    p.files[std::string(kExe) + ".old"] = "an earlier launcher";
    Publish(p, Description());
    ASSERT_TRUE(RunDirectUpdate(p, UpdateSetup()).succeeded);
    const auto at = [&p](const std::string& call) {
        const auto it = std::find(p.calls.begin(), p.calls.end(), call);
        EXPECT_NE(it, p.calls.end()) << call;
        return it - p.calls.begin();
    };
    const auto aside = at("move Orvanta.exe Orvanta.exe.old");
    EXPECT_EQ(at("move held Orvanta.exe"), aside + 1);
    EXPECT_LT(at("hold Orvanta.exe.new"), aside);
    EXPECT_LT(at("delete Orvanta.exe.old"), aside);
    EXPECT_TRUE(p.flushed.count(kExe)) << "the launcher under the name is the flushed file";
    EXPECT_TRUE(p.held.empty());
}

// A refusal of the move into place, returned or raised, puts the running launcher back at once.
TEST(DirectUpdate, AFailedMoveIntoPlacePutsTheRunningLauncherBack) {
    for (bool raises : {false, true}) {
        FakePlatform p;
        Publish(p, Description());
        p.refuse = {"move held"};
        if (raises) p.refuse.insert("move held raises");
        const SelfUpdateOutcome outcome = RunDirectUpdate(p, UpdateSetup());
        EXPECT_FALSE(outcome.succeeded) << raises;
        EXPECT_EQ(p.files[kExe], "MZ the running launcher") << raises;
        EXPECT_FALSE(p.files.count(std::string(kExe) + ".old")) << raises;
        EXPECT_EQ(p.files[std::string(kExe) + ".new"], kNewExe) << raises;
        EXPECT_EQ(p.calls.back(), "move Orvanta.exe.old Orvanta.exe") << raises;
    }
}

}  // namespace
}  // namespace orv
