// Helpers for tests that need files on disk: a temporary folder removed afterwards, and whole-file
// reads and writes. Paths are UTF-8 and work on both builds (the Windows one runs under Wine).
#pragma once

#include <filesystem>
#include <string>

namespace orv::test {

// A UTF-8 path (with "\" separators) as the platform's filesystem path.
std::filesystem::path FsPath(const std::string& utf8);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path of `name` inside the folder, joined with the platform's separator.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Makes a file read-only (or writable again).
void SetReadOnly(const std::string& path, bool readOnly);
// A file of tests/data by its path below it ("signing/key.pem"), as this build opens it: under Wine
// the host's root is drive Z:.
std::string TestDataFile(const std::string& relative);
// Deterministic test data: `size` bytes, compressible when `compressible` is set.
std::string MakeData(size_t size, unsigned seed, bool compressible);

}  // namespace orv::test
