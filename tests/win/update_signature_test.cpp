// The signature check of a downloaded launcher through the system's CNG, against a key pair and a
// signature that the openssl tool made (tests/data/signing/make-fixtures.sh).
#include "launcher/selfupdate/update_signature_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "support/test_files.h"

namespace orv {
namespace {

// ORVANTA_TEST_DATA is a host path; under Wine the host's root is drive Z:.
std::string FixturePath(const std::string& name) {
    std::string path = "Z:" + std::string(ORVANTA_TEST_DATA) + "/signing/" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string FixtureText(const std::string& name) {
    std::string text = test::ReadFile(FixturePath(name));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string FlipDigit(std::string hex, size_t at) {
    hex[at] = hex[at] == '0' ? '1' : '0';
    return hex;
}

// `hex` with the characters from `at` on overwritten by `text`.
std::string Overwritten(std::string hex, size_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), hex.begin() + static_cast<std::ptrdiff_t>(at));
    return hex;
}

// Joined by copying, not by string concatenation, which trips g++ 12's -Wrestrict at -O3.
std::string Joined(std::string_view a, std::string_view b) {
    std::string text(a.size() + b.size(), '\0');
    std::copy(a.begin(), a.end(), text.begin());
    std::copy(b.begin(), b.end(), text.begin() + static_cast<std::ptrdiff_t>(a.size()));
    return text;
}

TEST(UpdateSignature, ChecksTheFileAgainstTheSignatureAndKey) {
    const std::string file = FixturePath("signed.bin");
    const std::string signature = FixtureText("signed.bin.sig");
    const std::string key = FixtureText("public.hex");
    ASSERT_EQ(signature.size(), 128u);
    ASSERT_EQ(key.size(), 128u);
    // Longer than one read block, so the digest covers blocks joined.
    ASSERT_GT(test::ReadFile(file).size(), 256u * 1024);

    test::TempDir work;
    const std::string original = test::ReadFile(file);
    const std::string changed = work.File("changed.bin");
    std::string bytes = original;
    bytes[bytes.size() - 1] ^= 0x01;  // the last byte, in the last, partial block
    test::WriteFile(changed, bytes);
    const std::string changedFirst = work.File("changed-first.bin");
    bytes = original;
    bytes[0] ^= 0x80;
    test::WriteFile(changedFirst, bytes);
    const std::string truncated = work.File("truncated.bin");
    test::WriteFile(truncated, original.substr(0, original.size() - 1));
    const std::string copy = work.File("copy.bin");
    test::WriteFile(copy, original);
    const std::string empty = work.File("empty.bin");
    test::WriteFile(empty, "");

    std::string upper = signature;
    for (char& c : upper)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    const std::string swapped = Joined(std::string_view(signature).substr(64), std::string_view(signature).substr(0, 64));  // s||r

    const struct {
        const char* what;
        std::string file, signature, key;
        bool valid;
    } cases[] = {
        {"signed file", file, signature, key, true},
        {"a copy of it", copy, signature, key, true},
        {"upper-case digits", file, upper, key, true},
        {"last byte changed", changed, signature, key, false},
        {"first byte changed", changedFirst, signature, key, false},
        {"one byte shorter", truncated, signature, key, false},
        {"empty file", empty, signature, key, false},
        {"missing file", work.File("absent.bin"), signature, key, false},
        {"r changed", file, FlipDigit(signature, 10), key, false},
        {"s changed", file, FlipDigit(signature, 127), key, false},
        {"r and s swapped", file, swapped, key, false},
        {"other key", file, signature, FixtureText("other-public.hex"), false},
        {"key changed", file, signature, FlipDigit(key, 100), false},
        {"key not a curve point", file, signature, std::string(128, '0'), false},
        {"empty signature", file, "", key, false},
        {"signature one digit short", file, signature.substr(1), key, false},
        {"signature one digit long", file, Joined(signature, "0"), key, false},
        {"signature twice", file, Joined(signature, signature), key, false},
        {"signature not hex", file, Overwritten(signature, 0, "g"), key, false},
        {"signature with a prefix", file, Overwritten(signature, 0, "0x"), key, false},
        {"signature with a blank", file, Overwritten(signature, 127, " "), key, false},
        {"all-zero signature", file, std::string(128, '0'), key, false},
        {"empty key", file, signature, "", false},
        {"key one digit short", file, signature, key.substr(1), false},
        {"key not hex", file, signature, Overwritten(key, 127, "z"), false},
    };
    for (const auto& c : cases) EXPECT_EQ(UpdateSignatureValid(c.file, c.signature, c.key), c.valid) << c.what;
}

}  // namespace
}  // namespace orv
