// What tells one release of the launcher from the next: its version, compared with the catalogue's,
// and the public key its self-updates must be signed with. Unlike the game profile these are not
// compiled into the library: each executable links one definition (CMake's `orvanta_identity`),
// so a second launcher of another version or with a key can be linked from the same build.
#pragma once

namespace orv {

extern const char* const LauncherVersion;
// ECDSA P-256 public key as 128 hex digits (X then Y, big-endian); empty when updates are unsigned.
extern const char* const UpdatePublicKey;

}  // namespace orv
