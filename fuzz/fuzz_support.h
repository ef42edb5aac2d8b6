// What the fuzz targets share: a private scratch folder for readers that take a path, and a check
// that ends the run (so libFuzzer keeps the input) when a reader breaks a promise of its own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv::fuzz {

// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A folder of this process's own, made on first use and removed at exit; it becomes GameFolder,
// and message boxes are answered with OK without showing anything.
const std::string& ScratchFolder();

// Replaces the file `name` in the scratch folder with `bytes`; its path.
std::string PutScratchFile(const std::string& name, std::string_view bytes);

// Ends the run with `what` when `condition` is false.
void Require(bool condition, const char* what);

}  // namespace orv::fuzz
