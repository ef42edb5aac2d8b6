// Throughput of the integrity path on one data file, warm in the page cache:
//   FileCrc32 against zlib's crc32 over the same file, and
//   TLZMAAlone::Main "d" against `xz --format=lzma -d -c` on the same ".lzma" file (both to /dev/null).
//   SHA-256 of the same file against the CRC-32 (what a signed build adds to every repaired file), and
//   the check of a signed build's hash list of ENTRIES lines (default 200,000): its SHA-256 against
//   the statement, then every line read, with the peak memory that adds.
// Prints figures and ratios; it is not a test.
//   usage: orvanta-bench [--size MIB] [--runs N] [--entries N] [DATA_FILE]
// Without DATA_FILE it writes MIB (default 256) MiB of mixed, compressible data into a temporary
// folder; the ".lzma" file is made from the data with `xz --format=lzma -1`.
#include <zlib.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/integrity/crc32.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"

namespace {
namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;

// Game-like content in 64 KiB blocks: text lines, structured binary records and some noise.
void WriteDataFile(const std::string& path, uint64_t bytes) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char* const words[] = {"cstrike", "models", "player", "materials", "sound", "maps", "de_dust2",
                                        "weapon", "texture", "vertex", "0.000000", "hl2.exe", "\r\n", "/", " "};
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string block;
    for (uint64_t written = 0; written < bytes; written += block.size()) {
        block.clear();
        const unsigned kind = next() % 20;
        while (block.size() < 65536) {
            if (kind < 9) {  // text
                block += words[next() % std::size(words)];
                if (next() % 4 == 0) block += std::to_string(next() % 100000);
            } else if (kind < 18) {  // records: slowly changing little-endian values
                float v[4] = {static_cast<float>(block.size() % 4096) * 0.25f, static_cast<float>(next() % 64), 1.0f,
                              0.0f};
                block.append(reinterpret_cast<const char*>(v), sizeof v);
            } else {  // noise
                const uint64_t r = next();
                block.append(reinterpret_cast<const char*>(&r), sizeof r);
            }
        }
        block.resize(static_cast<size_t>(std::min<uint64_t>(block.size(), bytes - written)));
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// The best of `runs` timings, in seconds.
double Best(int runs, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

uint32_t ZlibFileCrc32(const std::string& path) {
    orv::File file = orv::File::OpenRead(path);
    std::vector<Bytef> buffer(1 << 20);
    uLong crc = crc32(0, nullptr, 0);
    while (const size_t got = file.Read(buffer.data(), buffer.size())) crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
    return static_cast<uint32_t>(crc);
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A hash list of `entries` lines, then the time to prove it against its digest and read it through.
void HashListRows(const fs::path& dir, uint64_t entries, int runs) {
    const std::string path = (dir / "list.dim.sha256").string();
    {
        orv::File out = orv::File::Create(path);
        std::string block;
        for (uint64_t i = 0; i < entries; ++i) {
            const std::string name = "file" + std::to_string(i);
            block += orv::HashListLine({orv::Sha256Of(name), i % 100000});
            if (block.size() > (1 << 20)) out.Write(block.data(), block.size()), block.clear();
        }
        out.Write(block.data(), block.size());
        out.Close();
    }
    const orv::FileDigest expected = orv::Sha256OfFile(path);
    uint64_t read = 0;
    const double seconds = Best(runs, [&] {
        if (orv::Sha256OfFile(path).sha256 != expected.sha256) throw std::runtime_error("hash list changed");
        orv::HashListReader reader = orv::HashListReader::Open(path);
        read = 0;
        while (reader.Next()) ++read;
        if (reader.Failed() || read != entries) throw std::runtime_error("hash list did not read back");
    });
    std::printf("Hash list of %llu entries (%.1f MiB)\n", static_cast<unsigned long long>(entries), expected.size / kMiB);
    std::printf("  proved and read through in %.3f s (%.0f entries/s); the process's peak memory: %.1f MiB\n\n",
                seconds, entries / seconds, PeakKiB() / 1024.0);
}

void Row(const char* what, uint64_t bytes, double seconds) {
    std::printf("  %-36s %9.1f MiB/s  (%.3f s)\n", what, bytes / kMiB / seconds, seconds);
}

int Run(int argc, char** argv) {
    uint64_t sizeMiB = 256;
    int runs = 3;
    uint64_t entries = 200000;
    std::string data;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) sizeMiB = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (arg == "--entries" && i + 1 < argc) entries = std::strtoull(argv[++i], nullptr, 10);
        else if (!arg.empty() && arg[0] != '-' && data.empty()) data = arg;
        else {
            std::fprintf(stderr, "usage: orvanta-bench [--size MIB] [--runs N] [--entries N] [DATA_FILE]\n");
            return 2;
        }
    }
    if (runs < 1 || (data.empty() && sizeMiB == 0)) return std::fprintf(stderr, "nothing to measure\n"), 2;

    const fs::path dir = fs::temp_directory_path() / ("orvanta-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{dir};
    // First, while the process is small, so that its peak shows what the list adds.
    if (entries > 0) HashListRows(dir, entries, runs);

    if (data.empty()) {
        data = (dir / "data").string();
        std::printf("writing %llu MiB of test data\n", static_cast<unsigned long long>(sizeMiB));
        WriteDataFile(data, sizeMiB << 20);
    }
    const uint64_t bytes = fs::file_size(data);
    const std::string lzma = (dir / "data.lzma").string();
    std::printf("making the .lzma file with xz --format=lzma -1\n");
    Shell("xz --format=lzma -1 -c " + ShellQuote(data) + " > " + ShellQuote(lzma));
    std::printf("data %.1f MiB, .lzma %.1f MiB; best of %d warm runs (CRC-32: %d)\n\n", bytes / kMiB,
                fs::file_size(lzma) / kMiB, runs, 5 * runs);

    // Correctness first: both checksums agree, and our unpacking gives the data back.
    const uint32_t crc = orv::FileCrc32(data);
    if (crc != ZlibFileCrc32(data)) throw std::runtime_error("FileCrc32 and zlib disagree");
    const std::string unpacked = (dir / "unpacked").string();
    if (!orv::TLZMAAlone().Main(lzma, unpacked, "d") || orv::FileCrc32(unpacked) != crc)
        throw std::runtime_error("unpacking did not give the data back");
    fs::remove(unpacked);

    std::printf("CRC-32 of %s\n", data.c_str());
    const double ours = Best(5 * runs, [&] { orv::FileCrc32(data); });
    const double zlib = Best(5 * runs, [&] { ZlibFileCrc32(data); });
    Row("FileCrc32 (65,521-byte reads)", bytes, ours);
    Row("zlib crc32 (1 MiB reads)", bytes, zlib);
    std::printf("  ratio FileCrc32 / zlib: %.2f\n", zlib / ours);
    const double sha = Best(runs, [&] { orv::Sha256OfFile(data); });
    Row("Sha256OfFile (256 KiB reads)", bytes, sha);
    std::printf("  SHA-256 takes %.2f times the CRC-32's time\n\n", sha / ours);

    std::printf("Unpacking %s\n", lzma.c_str());
    const double main = Best(runs, [&] {
        if (!orv::TLZMAAlone().Main(lzma, "/dev/null", "d")) throw std::runtime_error("unpacking failed");
    });
    const double xz = Best(runs, [&] { Shell("xz --format=lzma -d -c " + ShellQuote(lzma) + " > /dev/null"); });
    Row("TLZMAAlone::Main \"d\"", bytes, main);
    Row("xz --format=lzma -d -c", bytes, xz);
    std::printf("  ratio Main / xz: %.2f\n", xz / main);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvanta-bench: %s\n", e.what());
        return 1;
    }
}
