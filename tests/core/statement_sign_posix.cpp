// The publisher's signing against the launcher's verifier (native only: signing needs OpenSSL).
#include <gtest/gtest.h>

#include "launcher/integrity/statement.h"
#include "support/test_files.h"
#include "tools/release_signing.h"

namespace orv {
namespace {

const std::string kKey = std::string(ORVANTA_TEST_DATA) + "/signing/key.pem";

TEST(StatementSigningTest, ASignedChecklistVerifiesAmongOtherKeysSignatures) {
    Statement s;
    s.kind = StatementKind::Checklist;
    s.game = "cstrike";
    s.name = "css34";
    s.version = 12;
    s.expires = *ParseUtcTime("2027-01-09T12:00:00Z");
    s.sha256 = Sha256Of("list");
    s.size = 4;
    s.hashesSha256 = Sha256Of("hashes");
    s.hashesSize = 6;
    s.entries = 2;
    const std::string body = StatementBody(s);
    const EcdsaPublicKey key = publish::SigningPublicKey(kKey);
    const EcdsaSignature signature = publish::SignDigest(kKey, Sha256Of(body));

    EcdsaPublicKey otherKey = key;
    otherKey[63] ^= 1;
    EcdsaSignature forged = signature;
    forged[10] ^= 1;
    // Another key's signature first, as while keys change; then the own one.
    const std::string text = body + StatementSignatureLine(otherKey, forged) + StatementSignatureLine(key, signature);

    StatementExpectation expected{StatementKind::Checklist, "cstrike", "css34", 0, 12, *ParseUtcTime("2026-12-10T00:00:00Z")};
    Statement read;
    ASSERT_TRUE(VerifyStatement(text, key, expected, &read));
    EXPECT_EQ(read.entries, 2u);
    EXPECT_EQ(read.hashesSha256, s.hashesSha256);
    // The own key id with a signature that does not verify is not signed, whatever else is there.
    EXPECT_EQ(VerifyStatement(body + StatementSignatureLine(key, forged), key, expected, nullptr).failure,
              TrustFailure::NotSigned);
    expected.name = "css35";
    EXPECT_EQ(VerifyStatement(text, key, expected, nullptr).failure, TrustFailure::WrongSubject)
        << "one build's list cannot stand in for another's";
}

}  // namespace
}  // namespace orv
