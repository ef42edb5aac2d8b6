// SHA-256 on the processor's SHA instructions (x86-64 SHA extensions), for the Windows build: CNG
// computes SHA-256 with these instructions on Windows itself, but Wine's bcrypt does not, and at
// about 0.14 GB/s it would make cutting a large file into chunks the slowest step of an update
// under Wine. Where the processor lacks them, CNG computes as before.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/platform/sha256.h"

namespace orv {

// Whether this processor has the instructions (and the SSE levels they come with).
bool HasSha256Instructions();

// A running hash on the instructions; only where HasSha256Instructions().
class Sha256Blocks {
public:
    Sha256Blocks();
    void Update(const void* data, size_t size);
    Sha256Digest Finish();

private:
    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;
};

}  // namespace orv
