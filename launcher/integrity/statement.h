// Signed statements: what the publisher's key vouches for on an update server. A launcher built
// with a publisher key installs, starts or follows nothing the server sends unless a statement
// signed by that key names its SHA-256.
//
// A statement is UTF-8 text, LF line ends, at most kStatementMaxBytes, lines in this order:
//
//   orvanta-statement 1
//   kind catalogue | checklist | installer | keep-list
//   game <game code>
//   name <what it covers: "inf.ini", the checklist's name, "upt.exe",
//         "<game code>clean.json">
//   version <1 .. 2^63-1>                 grows with every signing of the same file
//   expires <YYYY-MM-DDTHH:MM:SSZ>        UTC; refused from that second on
//   sha256 <64 hex>                       of the covered file (catalogue: inf.ini; checklist:
//   size <bytes>                          <name>.dim.lzma as served; installer: upt.exe unpacked;
//                                         keep list: as served)
//   hashes-sha256 <64 hex>                checklist only: the hash list <name>.dim.sha256
//   hashes-size <bytes>                   checklist only
//   entries <count>                       checklist only: entries of the checklist (and lines of
//                                         the hash list)
//   chunks-sha256 <64 hex>                checklist only, optional, with the next line: the chunk
//   chunks-size <bytes>                   index <name>.dim.chunks (chunk_index.h)
//   pin <version> <checklist name>        catalogue only, any number: the version the build's
//                                         checklist statement must carry (no rollback of one)
//   signature <16 hex key id> <128 hex r||s>   one to kStatementMaxSignatures
//
// Every signature signs the SHA-256 of the bytes before the first "signature" line (the body).
// The key id is the first 8 bytes of the SHA-256 of the raw public key; a reader takes the
// signature of its own key and ignores the others, so during a change of key the publisher signs
// with both. Names hold no CR, LF or NUL; hex digits are lower case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/platform/ecdsa_p256.h"
#include "launcher/platform/sha256.h"

namespace orv {

constexpr size_t kStatementMaxBytes = 256 * 1024;
constexpr size_t kStatementMaxSignatures = 4;
constexpr size_t kStatementMaxPins = 4096;

enum class StatementKind { Catalogue, Checklist, Installer, KeepList };

struct StatementPin {
    uint64_t version = 0;
    std::string checklist;
};

struct StatementSignature {
    std::array<uint8_t, 8> keyId{};
    EcdsaSignature signature{};
};

struct Statement {
    StatementKind kind = StatementKind::Catalogue;
    std::string game;
    std::string name;
    uint64_t version = 0;
    int64_t expires = 0;  // seconds since 1970-01-01 UTC
    Sha256Digest sha256{};
    uint64_t size = 0;
    // Checklist statements only.
    Sha256Digest hashesSha256{};
    uint64_t hashesSize = 0;
    uint64_t entries = 0;
    // The build's chunk index, when it was published with one.
    std::optional<Sha256Digest> chunksSha256;
    uint64_t chunksSize = 0;
    // Catalogue statements only.
    std::vector<StatementPin> pins;

    std::vector<StatementSignature> signatures;
    Sha256Digest bodySha256{};  // what the signatures sign (set by ParseStatement)
};

// The text of `s` without signatures: the body a key signs.
std::string StatementBody(const Statement& s);
// One "signature" line for the body's digest, to append after the body (or after other lines).
std::string StatementSignatureLine(const EcdsaPublicKey& key, const EcdsaSignature& signature);
std::array<uint8_t, 8> KeyIdOf(const EcdsaPublicKey& key);

// Strict: every line in its place, nothing else. Nothing (and `error` says why, in English) when
// the text is not a well-formed statement.
std::optional<Statement> ParseStatement(std::string_view text, std::string* error = nullptr);

// "2027-01-09T12:00:00Z" and back; nothing for any other form or an impossible date.
std::optional<int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(int64_t secondsSince1970);

// What a verifier holds against a statement.
struct StatementExpectation {
    StatementKind kind = StatementKind::Catalogue;
    std::string game;
    std::string name;
    uint64_t minVersion = 0;                  // refused below this
    std::optional<uint64_t> exactVersion;     // refused unless exactly this (a pinned checklist)
    int64_t now = 0;                          // seconds since 1970 UTC; refused once expires <= now
};

enum class TrustFailure {
    None,
    Missing,       // no statement could be had (the caller says so)
    Malformed,     // not a statement, too large, cut short
    NotSigned,     // no signature of the pinned key, or one that does not verify
    WrongSubject,  // another kind, game or name
    Rollback,      // a version below the one required, or not the pinned one
    Expired,
    WrongContent,  // the covered file's SHA-256 or size differs
};

struct TrustResult {
    TrustFailure failure = TrustFailure::None;
    std::string detail;  // English, for the tool and for the launcher's detail line
    explicit operator bool() const { return failure == TrustFailure::None; }
};

// Parses `text` and checks its signature under `key`, then its subject, version and expiry.
// `statement` receives what was read when the result is good.
TrustResult VerifyStatement(std::string_view text, const EcdsaPublicKey& key, const StatementExpectation& expected,
                            Statement* statement);
// The covered file against the statement's SHA-256 and size.
TrustResult CheckCoveredDigest(const Statement& s, const FileDigest& digest);

// The 128 hex digits of a build's key (launcher_identity's UpdatePublicKey); nothing when empty or
// malformed.
std::optional<EcdsaPublicKey> PublisherKeyFromHex(std::string_view hex);

}  // namespace orv
