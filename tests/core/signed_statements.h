// Statements signed with the tests' key pair (tests/data/signing), made the way the publisher makes
// them. Signing needs OpenSSL, so only the native build signs; the tests that need a signature
// skip elsewhere (SKIP_WITHOUT_SIGNING).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/integrity/statement.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"
#include "support/test_files.h"
#include "tools/release_signing.h"

namespace orv::test {

#ifdef _WIN32
#define SKIP_WITHOUT_SIGNING() GTEST_SKIP() << "statements are signed by the native build only"
#else
#define SKIP_WITHOUT_SIGNING() static_cast<void>(0)
#endif

inline std::string SigningFile(const std::string& name) { return TestDataFile("signing/" + name); }

// The public key as a build carries it (UpdatePublicKey), and another build's.
inline std::string TestPublicKeyHex() {
    std::string hex = ReadFileBytes(SigningFile("public.hex"));
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return hex;
}
inline std::string OtherPublicKeyHex() {
    std::string hex = ReadFileBytes(SigningFile("other-public.hex"));
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return hex;
}

// 2099-01-01T00:00:00Z: a statement that outlives every run of the tests.
inline constexpr int64_t kFarExpiry = 4070908800;

// A statement of `kind` for `covered`, the bytes of the file it vouches for.
inline Statement StatementFor(StatementKind kind, const std::string& game, const std::string& name,
                              std::string_view covered, uint64_t version, int64_t expires = kFarExpiry) {
    Statement s;
    s.kind = kind;
    s.game = game;
    s.name = name;
    s.version = version;
    s.expires = expires;
    s.sha256 = Sha256Of(covered);
    s.size = covered.size();
    return s;
}

// The statement's text, signed with the tests' private key.
inline std::string SignedText(const Statement& s) {
    const std::string key = SigningFile("key.pem");
    const std::string body = StatementBody(s);
    return body + StatementSignatureLine(publish::SigningPublicKey(key), publish::SignDigest(key, Sha256Of(body)));
}

}  // namespace orv::test
