#include "tools/release_signing.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"
#include "launcher/selfupdate/hex.h"
#include "launcher/selfupdate/update_description.h"

namespace orv::publish {
namespace {

constexpr int kCoordinateBytes = 32;

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const noexcept { Free(p); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using PKey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using PKeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using BigNum = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;

// OpenSSL's reason for the last failure, emptying its error queue.
std::string OpenSslReason() {
    std::string reason;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        reason = text;  // the last is the closest to the failure
    }
    return reason.empty() ? std::string() : " (" + reason + ")";
}

// A P-256 private key from a PEM file; an encrypted key is refused rather than prompted for.
PKey ReadPrivateKey(const std::string& keyPath) {
    ERR_clear_error();
    std::string pem;
    try {
        pem = ReadFileBytes(keyPath);
    } catch (const Error& e) {
        throw Error(keyPath + ": " + e.what());
    }
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) throw Error("out of memory reading " + keyPath);
    const auto noPassphrase = [](char*, int, int, void*) { return 0; };
    PKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
    if (!key)
        throw Error(keyPath + ": not an unencrypted PEM private key" + OpenSslReason());
    char group[64] = {};
    size_t groupLength = 0;
    if (!EVP_PKEY_is_a(key.get(), "EC") ||
        !EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &groupLength) ||
        std::string(group, groupLength) != SN_X9_62_prime256v1) {
        ERR_clear_error();
        throw Error(keyPath + ": not an EC P-256 (prime256v1) key");
    }
    return key;
}

void PutCoordinate(const BIGNUM* value, uint8_t* out, const std::string& what) {
    if (!value || BN_bn2binpad(value, out, kCoordinateBytes) != kCoordinateBytes)
        throw Error(what + OpenSslReason());
}

}  // namespace

std::string SigningPublicKeyHex(const std::string& keyPath) {
    const PKey key = ReadPrivateKey(keyPath);
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x) &&
                     EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y);
    const BigNum ownX(x), ownY(y);
    if (!got) throw Error(keyPath + ": the key holds no public point" + OpenSslReason());
    std::vector<uint8_t> point(kUpdatePublicKeyBytes);
    PutCoordinate(x, point.data(), keyPath + ": bad public point");
    PutCoordinate(y, point.data() + kCoordinateBytes, keyPath + ": bad public point");
    return EncodeHex(point);
}

std::string SignFileHex(const std::string& keyPath, const std::string& filePath) {
    ReadPrivateKey(keyPath);  // a bad key is reported before the file is read
    FileDigest digest;
    try {
        digest = Sha256OfFile(filePath);
    } catch (const Error& e) {
        throw Error(filePath + ": " + e.what());
    }
    const EcdsaSignature raw = SignDigest(keyPath, digest.sha256);
    return EncodeHex(raw.data(), raw.size());
}

EcdsaPublicKey SigningPublicKey(const std::string& keyPath) {
    const auto bytes = DecodeHex(SigningPublicKeyHex(keyPath), kUpdatePublicKeyBytes);
    EcdsaPublicKey key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

EcdsaSignature SignDigest(const std::string& keyPath, const Sha256Digest& digest) {
    const PKey key = ReadPrivateKey(keyPath);
    const PKeyContext context(EVP_PKEY_CTX_new(key.get(), nullptr));
    size_t derLength = 0;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_sign(context.get(), nullptr, &derLength, digest.data(), digest.size()) != 1)
        throw Error("cannot start signing" + OpenSslReason());
    std::vector<uint8_t> der(derLength);
    if (EVP_PKEY_sign(context.get(), der.data(), &derLength, digest.data(), digest.size()) != 1)
        throw Error("cannot sign" + OpenSslReason());
    const unsigned char* p = der.data();
    const EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength)));
    if (!sig) throw Error("unexpected signature form" + OpenSslReason());
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    EcdsaSignature raw{};
    PutCoordinate(r, raw.data(), "unexpected signature value");
    PutCoordinate(s, raw.data() + kCoordinateBytes, "unexpected signature value");
    return raw;
}

}  // namespace orv::publish
