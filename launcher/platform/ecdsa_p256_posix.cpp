#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>

#include <memory>
#include <vector>

#include "launcher/platform/ecdsa_p256.h"

namespace orv {
namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const noexcept { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using PKeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;

PKey PublicKeyOf(const EcdsaPublicKey& raw) {
    unsigned char point[65];
    point[0] = 0x04;  // uncompressed X||Y
    std::copy(raw.begin(), raw.end(), point + 1);
    char group[] = SN_X9_62_prime256v1;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end(),
    };
    const PKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) != 1)
        return nullptr;
    return PKey(key);
}

}  // namespace

bool EcdsaP256Valid(const Sha256Digest& digest, const EcdsaSignature& signature, const EcdsaPublicKey& key) {
    const PKey publicKey = PublicKeyOf(key);
    if (!publicKey) {
        ERR_clear_error();
        return false;
    }
    // OpenSSL checks the DER SEQUENCE { r, s }; the statement carries r||s.
    EcdsaSig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        ERR_clear_error();
        return false;
    }
    const int derLength = i2d_ECDSA_SIG(sig.get(), nullptr);
    if (derLength <= 0) return false;
    std::vector<unsigned char> der(static_cast<size_t>(derLength));
    unsigned char* out = der.data();
    i2d_ECDSA_SIG(sig.get(), &out);

    const PKeyContext context(EVP_PKEY_CTX_new(publicKey.get(), nullptr));
    const bool valid = context && EVP_PKEY_verify_init(context.get()) == 1 &&
                       EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
    ERR_clear_error();
    return valid;
}

}  // namespace orv
