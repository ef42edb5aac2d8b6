// SHA-256 on the processor's instructions: the digests of the standard's examples, and natively the
// same digest as OpenSSL's for every length around the block and padding edges and any split.
#include "launcher/platform/sha256_blocks.h"

#include <gtest/gtest.h>

#include <random>

#include "launcher/selfupdate/hex.h"

namespace orv {
namespace {

std::string Digest(const std::string& bytes, size_t split) {
    Sha256Blocks hash;
    for (size_t at = 0; at < bytes.size(); at += split) hash.Update(bytes.data() + at, std::min(split, bytes.size() - at));
    const Sha256Digest d = hash.Finish();
    return EncodeHex(d.data(), d.size());
}

TEST(Sha256BlocksTest, GivesThePlatformsDigests) {
    if (!HasSha256Instructions()) GTEST_SKIP() << "this processor has no SHA instructions";
    EXPECT_EQ(Digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 5),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Digest(std::string(1000000, 'a'), 4096), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    std::mt19937 random(5);
    std::string bytes(300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    for (size_t length = 0; length <= bytes.size(); ++length) {
        const std::string part = bytes.substr(0, length);
        const Sha256Digest expected = Sha256Of(part);
        const std::string want = EncodeHex(expected.data(), expected.size());
        for (size_t split : {size_t{1}, size_t{63}, size_t{64}, size_t{1000}}) ASSERT_EQ(Digest(part, split), want) << length;
    }
}

}  // namespace
}  // namespace orv
