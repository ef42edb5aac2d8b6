#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"

namespace orv::fuzz {

namespace {

struct Scratch {
    std::string path;
    Scratch() {
        // Memory-backed where there is one: the readers' saves flush to the disk every time.
        const char* base = std::getenv("TMPDIR");
        std::string folder = base && *base ? base : std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = folder + "/orvanta-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
        GameFolder = path;
        SetMessageHandler([](const MessageRequest&) { return MsgResult::Ok; });
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

const std::string& ScratchFolder() {
    static const Scratch scratch;
    return scratch.path;
}

std::string PutScratchFile(const std::string& name, std::string_view bytes) {
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    Require(static_cast<bool>(file), "cannot write a scratch file");
    return path;
}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

}  // namespace orv::fuzz
