#include <windows.h>

#include <bcrypt.h>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/sha256.h"
#include "launcher/platform/sha256_blocks.h"

#include <optional>

namespace orv {
namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

}  // namespace

struct Sha256::State {
    BcryptAlgorithm algorithm;
    BcryptHash hash;
    std::optional<Sha256Blocks> blocks;  // the processor's instructions instead of CNG
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (HasSha256Instructions()) {
        state_->blocks.emplace();
        return;
    }
    if (!Ok(::BCryptOpenAlgorithmProvider(state_->algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Ok(::BCryptCreateHash(state_->algorithm.Get(), state_->hash.Put(), nullptr, 0, nullptr, 0, 0)))
        throw Error("SHA-256 is not available");
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
    if (state_->blocks) return state_->blocks->Update(data, size);
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (size != 0) {
        // BCryptHashData counts in ULONG.
        const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!Ok(::BCryptHashData(state_->hash.Get(), const_cast<UCHAR*>(bytes), part, 0)))
            throw Error("SHA-256 failed");
        bytes += part;
        size -= part;
    }
}

Sha256Digest Sha256::Finish() {
    if (state_->blocks) return state_->blocks->Finish();
    Sha256Digest digest{};
    if (!Ok(::BCryptFinishHash(state_->hash.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw Error("SHA-256 failed");
    return digest;
}

}  // namespace orv
