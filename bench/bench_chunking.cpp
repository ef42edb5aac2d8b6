// How fast a launcher cuts and hashes its own copy of a large file: the step that decides which
// chunks it already holds. Prints figures; asserts nothing. Both builds: natively (OpenSSL's
// SHA-256) and as an .exe under Wine (CNG's), from the same file.
//   orvanta-bench-chunking [--size MIB] [--runs N] FILE
// FILE is written with pseudo-random bytes first when it does not hold --size MiB.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/integrity/chunking.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256_blocks.h"

using namespace orv;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Prepare(const std::string& path, uint64_t size) {
    try {
        if (File::OpenRead(path).Size() == size) return;
    } catch (const Error&) {
    }
    File file = File::Create(path);
    std::mt19937_64 random(28);
    std::vector<uint64_t> block(1 << 17);
    for (uint64_t written = 0; written < size;) {
        for (uint64_t& v : block) v = random();
        const size_t take = static_cast<size_t>(std::min<uint64_t>(size - written, block.size() * 8));
        file.Write(block.data(), take);
        written += take;
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = 1024;
    int runs = 3;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) mib = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else path = arg;
    }
    if (path.empty() || mib == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: orvanta-bench-chunking [--size MIB] [--runs N] FILE\n");
        return 2;
    }
    try {
        const uint64_t size = mib << 20;
        Prepare(path, size);
        std::atomic<bool> stop{false};
        std::vector<char> bytes(64 << 20);
        {
            std::mt19937_64 random(3);
            for (char& c : bytes) c = static_cast<char>(random());
        }
        // The rule alone and the hash alone, in memory, show which of the two bounds the whole.
        auto start = std::chrono::steady_clock::now();
        size_t chunks = 0;
        for (size_t at = 0; at < bytes.size(); ++chunks)
            at += ChunkLength(reinterpret_cast<const uint8_t*>(bytes.data()) + at, bytes.size() - at);
        const double cutOnly = Seconds(start);
        start = std::chrono::steady_clock::now();
        Sha256 hash;
        hash.Update(bytes.data(), bytes.size());
        (void)hash.Finish();
        const double hashOnly = Seconds(start);
        if (HasSha256Instructions()) {
            const auto at = std::chrono::steady_clock::now();
            Sha256Blocks blocks;
            blocks.Update(bytes.data(), bytes.size());
            (void)blocks.Finish();
            std::printf("in memory, 64 MiB: SHA-256 on the processor's instructions %.2f GB/s\n",
                        bytes.size() / Seconds(at) / 1e9);
        }
        std::printf("in memory, 64 MiB: cut %.2f GB/s (%zu chunks, average %.1f KiB), SHA-256 (the platform's) %.2f GB/s\n",
                    bytes.size() / cutOnly / 1e9, chunks, bytes.size() / 1024.0 / chunks, bytes.size() / hashOnly / 1e9);
        for (int run = 1; run <= runs; ++run) {
            uint64_t cutBytes = 0;
            size_t count = 0;
            start = std::chrono::steady_clock::now();
            CutFile(path, stop, [&](const ChunkPiece& piece, const uint8_t*) {
                cutBytes += piece.size;
                ++count;
            });
            const double seconds = Seconds(start);
            std::printf("cut and hash %s (%llu MiB, %zu chunks), run %d: %.2f s, %.2f GB/s\n", path.c_str(),
                        static_cast<unsigned long long>(cutBytes >> 20), count, run, seconds, cutBytes / seconds / 1e9);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvanta-bench-chunking: %s\n", e.what());
        return 1;
    }
    return 0;
}
