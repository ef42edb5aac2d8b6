// The file services the portable core needs, implemented by the platform layer (files_win.cpp on
// Windows, files_posix.cpp for native builds). Paths are UTF-8; the core joins them with "\" as the
// launcher does on Windows, and the POSIX layer reads a backslash as a folder separator.
//
// On Windows the calls that open, replace, move and delete files wait briefly while another
// program (an antivirus, an indexer) holds the file, by the rule of busy_file_retry.h, and report
// the refusal as before once that has not helped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/platform/unique_handle.h"

namespace orv {

struct FileHandleTraits {
    using Type = intptr_t;  // HANDLE on Windows, a descriptor elsewhere
    static constexpr Type Invalid() noexcept { return -1; }
    static void Close(Type handle) noexcept;
};
using FileHandle = UniqueHandle<FileHandleTraits>;

// Who else may open a file while it is being written. Only Windows holds others off; a POSIX
// system has no such lock and lets both through.
enum class FileSharing {
    Readers,  // other programs may read it meanwhile
    None,     // nothing may open it until it is closed, so nothing reads it half written
};

class File {
public:
    // Opens for reading; other programs may still read and write the file. Raises EOSError.
    static File OpenRead(const std::string& path);
    // Creates the file, or truncates an existing one, for writing. Raises EOSError.
    static File Create(const std::string& path, FileSharing sharing = FileSharing::Readers);
    // Opens an existing file for writing on after its first `keepBytes` bytes: what lies beyond
    // them is cut off and the next Write goes there, so that a download that broke off goes on
    // where the part worth keeping ends. Raises EOSError when the file cannot be opened or holds
    // fewer than `keepBytes` bytes (the file is then left as it was).
    static File OpenForAppend(const std::string& path, uint64_t keepBytes, FileSharing sharing = FileSharing::Readers);

    // Up to `size` bytes; 0 at the end of the file and on a read error.
    size_t Read(void* buffer, size_t size);
    // Up to `size` bytes; 0 only at the end of the file. Raises EOSError on a read error.
    size_t ReadOrRaise(void* buffer, size_t size);
    // Writes all bytes or raises EOSError.
    void Write(const void* data, size_t size);
    // The file's current length. Raises EOSError.
    uint64_t Size() const;
    // Forces written data to the disk. Raises EOSError.
    void Flush();
    // Closes without reporting anything (on a path that is already failing).
    void Abandon() noexcept;
    // Closes now (the destructor closes too). Raises EOSError when buffered data cannot be written.
    void Close();
    bool IsOpen() const noexcept { return handle_.Valid(); }

private:
    explicit File(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

// A file being written that stays only once Keep() has succeeded: it is created (or truncated) at
// once, and every other way out, an error or a transfer given up, closes and deletes it, so that no
// failing write leaves a partial file behind.
class PendingFile {
public:
    // Raises EOSError when the file cannot be created; whatever stood at `path` then stays.
    explicit PendingFile(const std::string& path, FileSharing sharing = FileSharing::Readers);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Writes all bytes or raises EOSError.
    void Write(const void* data, size_t size) { file_.Write(data, size); }
    // Forces written data to the disk. Raises EOSError.
    void Flush() { file_.Flush(); }
    // Closes and keeps the file. Raises EOSError when the last data cannot be written; the file
    // then goes.
    void Keep();

private:
    std::string path_;
    File file_;
    bool kept_ = false;
};

// Writes `bytes` to a new file at `path` (truncating one that is there) and forces them to the disk
// before closing it. Raises EOSError; a file it created is then deleted again.
void WriteNewFile(const std::string& path, const std::string& bytes);

// True for an existing file that is not a folder.
bool FileExists(const std::string& path);

// What one query of the file system tells of a path: whether a file (not a folder) is there, its
// attributes as Windows reports them (0 elsewhere) and its size.
struct FileProbe {
    bool exists = false;
    uint32_t attributes = 0;
    int64_t size = -1;
};
FileProbe ProbeFile(const std::string& path);
bool DirectoryExists(const std::string& path);
// The whole file. Raises EOSError when it cannot be opened or read.
std::string ReadFileBytes(const std::string& path);
// Replaces the file's content so that it is never left truncated or half written: the bytes go to
// a temporary file beside it, which then takes the file's place. A read-only file is refused as the
// platform refuses it. Raises EOSError; the old file is then unchanged.
void WriteFileReplacing(const std::string& path, const std::string& bytes);
// Deletes a file; false when it did not exist or could not be deleted.
bool RemoveFile(const std::string& path);

// What a move does when a file already has the new name.
enum class ExistingTarget { Refuse, Replace };
// Gives a file (or folder) a new name in one step. Raises EOSError; the file then keeps its name.
void RenameFile(const std::string& from, const std::string& to, ExistingTarget existing);

// A file taken hold of before it is moved: while it is held no other program can open it in a way
// that would refuse the move (other programs may still read it), so the move itself needs no
// wait. Closed by MoveTo or when it goes.
class HeldFile {
public:
    // Raises EOSError when the file cannot be opened for writing and moving.
    explicit HeldFile(const std::string& path);
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Forces the file's data to the disk, so that a power cut after the move cannot leave the new
    // name over data that never got there. Raises EOSError.
    void Flush();
    // Renames the file to `to`, which must not exist, and lets it go. Raises EOSError; the file
    // then keeps its name and stays held.
    void MoveTo(const std::string& to);

private:
    std::string path_;
    FileHandle handle_;
};
// Creates a folder and its missing parents. Raises EOSError.
void CreateDirectories(const std::string& path);

}  // namespace orv
