// SHA-256, the strong hash of signed content. The platform layer computes it: Windows CNG in the
// Windows build, OpenSSL in the native one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orv {

using Sha256Digest = std::array<uint8_t, 32>;

// A running hash: Update any number of times, then Finish once. Move-only.
class Sha256 {
public:
    Sha256();  // raises Error when the platform has no SHA-256
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t size);
    Sha256Digest Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

Sha256Digest Sha256Of(std::string_view bytes);

// The hash and length of a file's bytes, read a block at a time. Raises EOSError when it cannot be
// opened or read to its end.
struct FileDigest {
    Sha256Digest sha256{};
    uint64_t size = 0;
};
FileDigest Sha256OfFile(const std::string& path);

}  // namespace orv
