#include "support/test_files.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "launcher/platform/utf8.h"

namespace orv::test {
namespace fs = std::filesystem;

namespace {
std::string U(const fs::path& path) {
#ifdef _WIN32
    const std::wstring w = path.wstring();
    return Utf16ToUtf8(std::u16string(w.begin(), w.end()));
#else
    return path.string();
#endif
}
}  // namespace

fs::path FsPath(const std::string& utf8) {
#ifdef _WIN32
    const std::u16string wide = Utf8ToUtf16(utf8);
    return fs::path(std::wstring(wide.begin(), wide.end()));
#else
    std::string s = utf8;
    for (char& c : s)
        if (c == '\\') c = '/';
    return fs::path(s);
#endif
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path dir = fs::temp_directory_path() /
                   ("orvanta-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(dir);
    path_ = U(dir);
#ifdef _WIN32
    for (char& c : path_)
        if (c == '/') c = '\\';
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(FsPath(path_), ec))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(FsPath(path_), ec);
}

std::string TempDir::File(const std::string& name) const {
#ifdef _WIN32
    return path_ + "\\" + name;
#else
    return path_ + "/" + name;
#endif
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return fs::exists(FsPath(path)); }

void SetReadOnly(const std::string& path, bool readOnly) {
    fs::permissions(FsPath(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

std::string MakeData(size_t size, unsigned seed, bool compressible) {
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    if (!compressible) {
        for (auto& c : data) c = static_cast<char>(rng());
        return data;
    }
    static const char* words[] = {"cstrike ", "hl2.exe ", "models/", "player ", "materials/", "0123 ", "\r\n", "de_dust2 "};
    size_t i = 0;
    while (i < size) {
        const char* w = words[rng() % 8];
        for (size_t k = 0; w[k] && i < size; ++k) data[i++] = w[k];
    }
    return data;
}

std::string TestDataFile(const std::string& relative) {
    std::string path = std::string(ORVANTA_TEST_DATA) + "/" + relative;
#ifdef _WIN32
    for (char& c : path)
        if (c == '/') c = '\\';
    path = "Z:" + path;
#endif
    return path;
}

}  // namespace orv::test
