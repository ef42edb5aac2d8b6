#include <windows.h>

#include <algorithm>

#include "launcher/base/errors.h"
#include "launcher/integrity/chunk_reader.h"
#include "launcher/platform/wide_win.h"

namespace orv {

ChunkReader ChunkReader::Open(const std::string& path) {
    // FILE_SHARE_DELETE as well as reading and writing: another download thread may rename a new
    // file over this one while a chunk is read from it, and an open without it refuses that
    // rename with a sharing violation ("Creating and Opening Files"). Even so, NTFS without POSIX
    // rename semantics (before Windows 10 1709, or callers that do not ask for them) refuses to
    // replace a file that is still open, which Wine does not show: the replace's busy-file wait
    // covers it, since a reader holds a file for one chunk only.
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE) RaiseLastPlatformError();
    return ChunkReader(FileHandle(reinterpret_cast<intptr_t>(h)));
}

size_t ChunkReader::ReadAt(uint64_t offset, void* buffer, size_t size) {
    const HANDLE h = reinterpret_cast<HANDLE>(handle_.Get());
    size_t done = 0;
    while (done < size) {
        OVERLAPPED at{};
        const uint64_t from = offset + done;
        at.Offset = static_cast<DWORD>(from);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
        DWORD got = 0;
        // A synchronous handle reads at the OVERLAPPED's offset and waits for it ("ReadFile").
        if (!::ReadFile(h, static_cast<char*>(buffer) + done, ask, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            RaiseLastPlatformError();
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

}  // namespace orv
