// The game's own config file: its nickname line read and replaced.
#include "fuzz_support.h"
#include "launcher/config/game_config.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    (void)ConfigNicknameFromBytes(bytes);
    const std::string written = ConfigWithValue(bytes, ConfigNicknameKey, "Fuzz Player");
    (void)ConfigNicknameFromBytes(written);
    // Whatever the player typed, it cannot add a line.
    const std::string typed = ConfigWithValue("name \"x\"\r\n", ConfigNicknameKey, bytes);
    size_t lines = 0;
    for (char c : typed) lines += c == '\n';
    fuzz::Require(lines == 1, "a typed nickname added a line to the config");
    return 0;
}
