#include "launcher/integrity/statement.h"

#include <charconv>
#include <cstdio>

#include "launcher/selfupdate/hex.h"

namespace orv {
namespace {

constexpr std::string_view kMagic = "orvanta-statement 1";
constexpr std::string_view kSignaturePrefix = "signature ";

const char* KindText(StatementKind kind) {
    switch (kind) {
        case StatementKind::Catalogue: return "catalogue";
        case StatementKind::Checklist: return "checklist";
        case StatementKind::Installer: return "installer";
        case StatementKind::KeepList: return "keep-list";
    }
    return "?";
}

std::optional<StatementKind> KindOf(std::string_view text) {
    for (StatementKind k : {StatementKind::Catalogue, StatementKind::Checklist, StatementKind::Installer,
                            StatementKind::KeepList})
        if (text == KindText(k)) return k;
    return std::nullopt;
}

std::string Hex(const uint8_t* data, size_t size) { return EncodeHex(data, size); }

// Decimal digits only, no sign or leading zero (but "0"), within 63 bits.
std::optional<uint64_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return value;
}

bool LowerHex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

template <size_t N>
bool ParseHexInto(std::string_view text, std::array<uint8_t, N>& out) {
    if (!LowerHex(text)) return false;
    const auto bytes = DecodeHex(text, N);
    if (!bytes) return false;
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return true;
}

bool ValidName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Splits the text into lines, each ending in LF; nothing when a line does not end so or holds a CR.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool AtEnd() const { return pos_ >= text_.size(); }
    size_t Pos() const { return pos_; }
    std::optional<std::string_view> Next() {
        if (AtEnd()) return std::nullopt;
        const size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return line;
    }
    std::optional<std::string_view> Peek() const {
        Lines copy = *this;
        return copy.Next();
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// "key value": the value when the line starts with the key and a blank.
std::optional<std::string_view> Field(std::optional<std::string_view> line, std::string_view key) {
    if (!line || line->size() <= key.size() || line->substr(0, key.size()) != key || (*line)[key.size()] != ' ')
        return std::nullopt;
    return line->substr(key.size() + 1);
}

TrustResult Fail(TrustFailure failure, std::string detail) { return TrustResult{failure, std::move(detail)}; }

}  // namespace

std::array<uint8_t, 8> KeyIdOf(const EcdsaPublicKey& key) {
    const Sha256Digest digest = Sha256Of(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
    std::array<uint8_t, 8> id{};
    std::copy(digest.begin(), digest.begin() + id.size(), id.begin());
    return id;
}

std::string StatementBody(const Statement& s) {
    std::string text;
    const auto line = [&text](std::string_view key, std::string_view value) {
        text.append(key).append(" ").append(value).append("\n");
    };
    text.append(kMagic).append("\n");
    line("kind", KindText(s.kind));
    line("game", s.game);
    line("name", s.name);
    line("version", std::to_string(s.version));
    line("expires", FormatUtcTime(s.expires));
    line("sha256", Hex(s.sha256.data(), s.sha256.size()));
    line("size", std::to_string(s.size));
    if (s.kind == StatementKind::Checklist) {
        line("hashes-sha256", Hex(s.hashesSha256.data(), s.hashesSha256.size()));
        line("hashes-size", std::to_string(s.hashesSize));
        line("entries", std::to_string(s.entries));
        if (s.chunksSha256) {
            line("chunks-sha256", Hex(s.chunksSha256->data(), s.chunksSha256->size()));
            line("chunks-size", std::to_string(s.chunksSize));
        }
    }
    if (s.kind == StatementKind::Catalogue)
        for (const StatementPin& pin : s.pins) line("pin", std::to_string(pin.version) + " " + pin.checklist);
    return text;
}

std::string StatementSignatureLine(const EcdsaPublicKey& key, const EcdsaSignature& signature) {
    const auto id = KeyIdOf(key);
    return std::string(kSignaturePrefix) + Hex(id.data(), id.size()) + " " + Hex(signature.data(), signature.size()) +
           "\n";
}

std::optional<Statement> ParseStatement(std::string_view text, std::string* error) {
    const auto bad = [error](std::string why) -> std::optional<Statement> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    if (text.size() > kStatementMaxBytes) return bad("the statement is larger than " + std::to_string(kStatementMaxBytes) + " bytes");
    Lines lines(text);
    if (lines.Next() != std::optional<std::string_view>(kMagic)) return bad("not a signed statement");

    Statement s;
    const auto kind = Field(lines.Next(), "kind");
    if (!kind || !KindOf(*kind)) return bad("no known kind");
    s.kind = *KindOf(*kind);
    const auto game = Field(lines.Next(), "game");
    if (!game || !ValidName(*game)) return bad("no game");
    s.game = std::string(*game);
    const auto name = Field(lines.Next(), "name");
    if (!name || !ValidName(*name)) return bad("no name");
    s.name = std::string(*name);
    const auto version = Field(lines.Next(), "version");
    if (!version || !ParseCount(*version) || *ParseCount(*version) == 0) return bad("no valid version");
    s.version = *ParseCount(*version);
    const auto expires = Field(lines.Next(), "expires");
    if (!expires || !ParseUtcTime(*expires)) return bad("no valid expiry time");
    s.expires = *ParseUtcTime(*expires);
    const auto sha = Field(lines.Next(), "sha256");
    if (!sha || !ParseHexInto(*sha, s.sha256)) return bad("no valid sha256");
    const auto size = Field(lines.Next(), "size");
    if (!size || !ParseCount(*size)) return bad("no valid size");
    s.size = *ParseCount(*size);
    if (s.kind == StatementKind::Checklist) {
        const auto hashes = Field(lines.Next(), "hashes-sha256");
        if (!hashes || !ParseHexInto(*hashes, s.hashesSha256)) return bad("no valid hashes-sha256");
        const auto hashesSize = Field(lines.Next(), "hashes-size");
        if (!hashesSize || !ParseCount(*hashesSize)) return bad("no valid hashes-size");
        s.hashesSize = *ParseCount(*hashesSize);
        const auto entries = Field(lines.Next(), "entries");
        if (!entries || !ParseCount(*entries)) return bad("no valid entries");
        s.entries = *ParseCount(*entries);
        // The chunk index is optional: a build published without one signs what it always did.
        if (const auto chunks = Field(lines.Peek(), "chunks-sha256")) {
            lines.Next();
            Sha256Digest digest{};
            if (!ParseHexInto(*chunks, digest)) return bad("no valid chunks-sha256");
            const auto chunksSize = Field(lines.Next(), "chunks-size");
            if (!chunksSize || !ParseCount(*chunksSize)) return bad("no valid chunks-size");
            s.chunksSha256 = digest;
            s.chunksSize = *ParseCount(*chunksSize);
        }
    }
    if (s.kind == StatementKind::Catalogue) {
        while (const auto pin = Field(lines.Peek(), "pin")) {
            lines.Next();
            if (s.pins.size() == kStatementMaxPins) return bad("more than " + std::to_string(kStatementMaxPins) + " pins");
            const size_t blank = pin->find(' ');
            if (blank == std::string_view::npos) return bad("a pin without a checklist name");
            const auto pinVersion = ParseCount(pin->substr(0, blank));
            const std::string_view checklist = pin->substr(blank + 1);
            if (!pinVersion || *pinVersion == 0 || !ValidName(checklist)) return bad("a malformed pin");
            s.pins.push_back({*pinVersion, std::string(checklist)});
        }
    }
    const size_t bodyEnd = lines.Pos();
    while (!lines.AtEnd()) {
        const auto value = Field(lines.Next(), "signature");
        if (!value) return bad("a line that does not belong, or a statement cut short");
        if (s.signatures.size() == kStatementMaxSignatures)
            return bad("more than " + std::to_string(kStatementMaxSignatures) + " signatures");
        StatementSignature sig;
        if (value->size() != 16 + 1 + 128 || (*value)[16] != ' ' || !ParseHexInto(value->substr(0, 16), sig.keyId) ||
            !ParseHexInto(value->substr(17), sig.signature))
            return bad("a malformed signature");
        s.signatures.push_back(sig);
    }
    if (s.signatures.empty()) return bad("no signature");
    s.bodySha256 = Sha256Of(text.substr(0, bodyEnd));
    return s;
}

std::optional<int64_t> ParseUtcTime(std::string_view t) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' || t[19] != 'Z')
        return std::nullopt;
    const auto number = [&t](size_t at, size_t length) -> std::optional<unsigned> {
        unsigned value = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (t[i] < '0' || t[i] > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(t[i] - '0');
        }
        return value;
    };
    const auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2),
               se = number(17, 2);
    if (!y || !mo || !d || !h || !mi || !se || *y < 1970 || *mo < 1 || *mo > 12 || *d < 1 || *h > 23 || *mi > 59 ||
        *se > 59)
        return std::nullopt;
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (*y % 4 == 0 && *y % 100 != 0) || *y % 400 == 0;
    if (*d > kDays[*mo - 1] + (*mo == 2 && leap ? 1 : 0)) return std::nullopt;
    return DaysFromCivil(*y, *mo, *d) * 86400 + *h * 3600 + *mi * 60 + *se;
}

std::string FormatUtcTime(int64_t seconds) {
    // Howard Hinnant's civil_from_days.
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(y), m, d,
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}

TrustResult VerifyStatement(std::string_view text, const EcdsaPublicKey& key, const StatementExpectation& expected,
                            Statement* statement) {
    std::string why;
    const auto s = ParseStatement(text, &why);
    if (!s) return Fail(TrustFailure::Malformed, "malformed statement: " + why);
    const auto id = KeyIdOf(key);
    bool signedByKey = false;
    for (const StatementSignature& sig : s->signatures)
        if (sig.keyId == id && EcdsaP256Valid(s->bodySha256, sig.signature, key)) signedByKey = true;
    if (!signedByKey) return Fail(TrustFailure::NotSigned, "not signed by the publisher's key");
    if (s->kind != expected.kind || s->game != expected.game || s->name != expected.name)
        return Fail(TrustFailure::WrongSubject, std::string("the statement is for ") + KindText(s->kind) + " '" +
                                                    s->name + "' of game '" + s->game + "', not " +
                                                    KindText(expected.kind) + " '" + expected.name + "' of '" +
                                                    expected.game + "'");
    if (expected.exactVersion && s->version != *expected.exactVersion)
        return Fail(TrustFailure::Rollback, "version " + std::to_string(s->version) + " where the catalogue pins " +
                                                std::to_string(*expected.exactVersion));
    if (s->version < expected.minVersion)
        return Fail(TrustFailure::Rollback, "version " + std::to_string(s->version) + " is older than version " +
                                                std::to_string(expected.minVersion) + " seen before");
    if (s->expires <= expected.now) return Fail(TrustFailure::Expired, "expired at " + FormatUtcTime(s->expires));
    if (statement) *statement = *s;
    return {};
}

TrustResult CheckCoveredDigest(const Statement& s, const FileDigest& digest) {
    if (digest.size != s.size)
        return Fail(TrustFailure::WrongContent, "'" + s.name + "' has " + std::to_string(digest.size) +
                                                    " bytes where the statement says " + std::to_string(s.size));
    if (digest.sha256 != s.sha256)
        return Fail(TrustFailure::WrongContent, "'" + s.name + "' does not match the SHA-256 of the statement");
    return {};
}

std::optional<EcdsaPublicKey> PublisherKeyFromHex(std::string_view hex) {
    EcdsaPublicKey key{};
    const auto bytes = DecodeHex(hex, key.size());
    if (!bytes) return std::nullopt;
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

}  // namespace orv
