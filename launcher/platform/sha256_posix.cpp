#include <openssl/evp.h>

#include "launcher/base/errors.h"
#include "launcher/platform/sha256.h"

namespace orv {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1)
        throw Error("SHA-256 is not available");
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
    if (size != 0 && EVP_DigestUpdate(state_->context, data, size) != 1) throw Error("SHA-256 failed");
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != digest.size())
        throw Error("SHA-256 failed");
    return digest;
}

}  // namespace orv
