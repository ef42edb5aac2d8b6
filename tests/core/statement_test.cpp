// Signed statements and hash lists as a launcher reads them from a server that may lie. The
// verifying cases run against statement.txt, which the openssl tool signed
// (tests/data/signing/make-statement.sh), on both builds: CNG under Wine, OpenSSL natively.
#include "launcher/integrity/statement.h"

#include <gtest/gtest.h>

#include "launcher/integrity/hash_list.h"
#include "support/test_files.h"

namespace orv {
namespace {

std::string Fixture(const std::string& name) { return test::TestDataFile("signing/" + name); }

EcdsaPublicKey FixtureKey(const std::string& file) {
    std::string hex = test::ReadFile(Fixture(file));
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return *PublisherKeyFromHex(hex);
}

StatementExpectation CatalogueOf(std::string game = "cstrike") {
    StatementExpectation e;
    e.kind = StatementKind::Catalogue;
    e.game = std::move(game);
    e.name = "inf.ini";
    e.now = *ParseUtcTime("2026-12-10T00:00:00Z");
    return e;
}

TEST(UtcTimeTest, ReadsOnlyTheOneFormAndWritesItBack) {
    struct Case {
        const char* text;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-02-29T12:34:56Z", 951827696},
        {"2099-12-31T23:59:59Z", 4102444799},
        {"2001-02-29T00:00:00Z", std::nullopt},  // no leap day that year
        {"1900-02-29T00:00:00Z", std::nullopt},
        {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-12-10T24:00:00Z", std::nullopt},
        {"2026-12-10T00:00:00", std::nullopt},
        {"2026-12-10 00:00:00Z", std::nullopt},
        {"+026-12-10T00:00:00Z", std::nullopt},
        {"1969-12-31T23:59:59Z", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseUtcTime(c.text), c.seconds) << c.text;
        if (c.seconds) {
            EXPECT_EQ(FormatUtcTime(*c.seconds), c.text);
        }
    }
}

TEST(StatementTest, AReadStatementWritesBackToTheSameBody) {
    const std::string text = test::ReadFile(Fixture("statement.txt"));
    const auto s = ParseStatement(text);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->version, 7u);
    ASSERT_EQ(s->pins.size(), 2u);
    EXPECT_EQ(s->pins[1].checklist, "Русский лист");
    EXPECT_EQ(s->signatures.size(), 1u);
    const std::string body = StatementBody(*s);
    EXPECT_EQ(text.substr(0, body.size()), body);
    EXPECT_EQ(Sha256Of(body), s->bodySha256);
}

TEST(StatementTest, AKeepListStatementReadsBackAsWritten) {
    Statement s;
    s.kind = StatementKind::KeepList;
    s.game = "cstrike";
    s.name = "cstrikeclean.json";
    s.version = 3;
    s.expires = *ParseUtcTime("2099-12-31T23:59:59Z");
    s.sha256 = Sha256Of("{}");
    s.size = 2;
    const std::string body = StatementBody(s);
    EXPECT_NE(body.find("\nkind keep-list\n"), std::string::npos) << body;
    const auto read = ParseStatement(body + "signature " + std::string(16, '0') + " " + std::string(128, '0') + "\n");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->kind, StatementKind::KeepList);
    EXPECT_EQ(StatementBody(*read), body);
}

TEST(StatementTest, AChecklistStatementNamesItsChunkIndexOnlyWhenItHasOne) {
    Statement s;
    s.kind = StatementKind::Checklist;
    s.game = "cstrike";
    s.name = "css34";
    s.version = 2;
    s.expires = *ParseUtcTime("2099-12-31T23:59:59Z");
    s.entries = 3;
    const std::string signature = "signature " + std::string(16, '0') + " " + std::string(128, '0') + "\n";
    const std::string plain = StatementBody(s);
    EXPECT_EQ(plain.find("chunks-"), std::string::npos);
    ASSERT_TRUE(ParseStatement(plain + signature));
    EXPECT_FALSE(ParseStatement(plain + signature)->chunksSha256);

    s.chunksSha256 = Sha256Of("index");
    s.chunksSize = 5;
    const std::string chunked = StatementBody(s);
    const auto read = ParseStatement(chunked + signature);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->chunksSha256, s.chunksSha256);
    EXPECT_EQ(read->chunksSize, 5u);
    EXPECT_EQ(StatementBody(*read), chunked);
    // The size line belongs to the digest line: one without the other is no statement.
    const size_t sizeLine = chunked.find("chunks-size");
    EXPECT_FALSE(ParseStatement(chunked.substr(0, sizeLine) + signature));
    EXPECT_FALSE(ParseStatement(chunked.substr(0, chunked.find("chunks-sha256")) + chunked.substr(sizeLine) + signature));
}

TEST(StatementTest, RefusesEveryMalformedForm) {
    const std::string good = test::ReadFile(Fixture("statement.txt"));
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string signatureLine = good.substr(good.find("signature "));
    const std::string cases[] = {
        "",
        good.substr(0, good.size() - 1),                   // cut inside the last line
        good.substr(0, good.find("signature ")),           // no signature
        replaced("orvanta-statement 1", "orvanta-statement 2"),
        replaced("kind catalogue", "kind everything"),
        replaced("kind catalogue", "kind keep-list"),      // pins belong to a catalogue only
        replaced("version 7", "version 0"),
        replaced("version 7", "version 07"),
        replaced("version 7", "version 99999999999999999999"),
        replaced("version 7", "version -7"),
        replaced("expires 2099-12-31T23:59:59Z", "expires never"),
        replaced("sha256 8a", "sha256 8A"),                // upper case is not the written form
        replaced("size 26", "size 26 "),
        replaced("\n", "\r\n"),
        replaced("pin 3 css34", "pin 3"),
        replaced("game cstrike", "game "),
        good + "trailing\n",
        good + signatureLine + signatureLine + signatureLine + signatureLine,  // five signatures
        good + std::string(kStatementMaxBytes, '#'),
    };
    for (const std::string& text : cases) {
        std::string why;
        EXPECT_FALSE(ParseStatement(text, &why)) << text.substr(0, 200);
        EXPECT_FALSE(why.empty());
    }
}

TEST(StatementTest, VerifiesOnlyTheRightKeySubjectVersionAndTime) {
    const std::string text = test::ReadFile(Fixture("statement.txt"));
    const EcdsaPublicKey key = FixtureKey("public.hex");
    Statement s;
    ASSERT_TRUE(VerifyStatement(text, key, CatalogueOf(), &s));
    EXPECT_TRUE(CheckCoveredDigest(s, Sha256OfFile(Fixture("statement-subject.ini"))));

    struct Case {
        const char* what;
        std::string text;
        EcdsaPublicKey key;
        StatementExpectation expected;
        TrustFailure failure;
    };
    std::string tampered = text;
    tampered.replace(tampered.find("pin 3"), 5, "pin 2");
    StatementExpectation newer = CatalogueOf();
    newer.minVersion = 8;
    StatementExpectation later = CatalogueOf();
    later.now = *ParseUtcTime("2099-12-31T23:59:59Z");
    StatementExpectation checklist = CatalogueOf();
    checklist.kind = StatementKind::Checklist;
    StatementExpectation pinned = CatalogueOf();
    pinned.exactVersion = 6;
    const Case cases[] = {
        {"another key", text, FixtureKey("other-public.hex"), CatalogueOf(), TrustFailure::NotSigned},
        {"changed after signing", tampered, key, CatalogueOf(), TrustFailure::NotSigned},
        {"another game", text, key, CatalogueOf("dod"), TrustFailure::WrongSubject},
        {"another kind", text, key, checklist, TrustFailure::WrongSubject},
        {"older than seen", text, key, newer, TrustFailure::Rollback},
        {"not the pinned version", text, key, pinned, TrustFailure::Rollback},
        {"expired", text, key, later, TrustFailure::Expired},
        {"malformed", "orvanta-statement 1\n", key, CatalogueOf(), TrustFailure::Malformed},
    };
    for (const Case& c : cases) EXPECT_EQ(VerifyStatement(c.text, c.key, c.expected, nullptr).failure, c.failure) << c.what;

    FileDigest other = Sha256OfFile(Fixture("statement-subject.ini"));
    other.sha256[0] ^= 1;
    EXPECT_EQ(CheckCoveredDigest(s, other).failure, TrustFailure::WrongContent);
    other = Sha256OfFile(Fixture("statement-subject.ini"));
    other.size += 1;
    EXPECT_EQ(CheckCoveredDigest(s, other).failure, TrustFailure::WrongContent);
}

TEST(Sha256Test, KnownDigestsInOneAndManyParts) {
    EXPECT_EQ(HashListLine({Sha256Of(""), 0}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 0\n");
    const std::string abc = "abc";
    Sha256 parts;
    for (char c : abc) parts.Update(&c, 1);
    EXPECT_EQ(parts.Finish(), Sha256Of(abc));
    EXPECT_EQ(HashListLine({Sha256Of(abc), 3}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3\n");
}

TEST(HashListTest, ReadsLinesInOrderAndStopsAtTheFirstBadOne) {
    const std::string a = HashListLine({Sha256Of("a"), 1});
    const std::string b = HashListLine({Sha256Of("bb"), 2});
    struct Case {
        const char* what;
        std::string text;
        size_t good;  // lines read before the end or the failure
        bool failed;
    } cases[] = {
        {"two lines", a + b, 2, false},
        {"empty", "", 0, false},
        {"last line without LF", a + b.substr(0, b.size() - 1), 1, true},
        {"CR LF", a.substr(0, a.size() - 1) + "\r\n", 0, true},
        {"upper-case hex", a.substr(0, 1) + "A" + a.substr(2), 0, true},
        {"leading zero in size", a + a.substr(0, 65) + "01\n", 1, true},
        {"size above 63 bits", a.substr(0, 65) + "9223372036854775808\n", 0, true},
        {"a line without end", a + std::string(1 << 20, 'f'), 1, true},
        {"a blank line", a + "\n" + b, 1, true},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.File("list");
        test::WriteFile(path, c.text);
        HashListReader reader = HashListReader::Open(path);
        size_t read = 0;
        while (reader.Next()) ++read;
        EXPECT_EQ(read, c.good) << c.what;
        EXPECT_EQ(reader.Failed(), c.failed) << c.what;
        EXPECT_TRUE(reader.AtEnd()) << c.what;
    }
}

}  // namespace
}  // namespace orv
