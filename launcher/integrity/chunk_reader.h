// Reading a chunk's bytes where they lie in a file of the game folder: at an offset, without
// standing in the way of another thread that puts a new file in that one's place meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/platform/files.h"

namespace orv {

class ChunkReader {
public:
    // Raises EOSError when the file cannot be opened (a folder counts as none).
    static ChunkReader Open(const std::string& path);
    // Up to `size` bytes from `offset`: fewer only at the file's end. Raises EOSError.
    size_t ReadAt(uint64_t offset, void* buffer, size_t size);

private:
    explicit ChunkReader(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

}  // namespace orv
