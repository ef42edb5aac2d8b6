// The ".lzma" container as the server sends it: header and stream unpacked through the launcher's
// one entry, TLZMAAlone::Main("d").
//
// A header may ask for a window of up to the launcher's limit and an output of any size, which the
// launcher then allocates or writes; this target lowers both to 64 KiB before unpacking, so that the
// fuzzer probes the decoder rather than the machine's memory. Windows of 2 GiB and more stay as they
// are: the launcher refuses them before allocating anything.
#include <cstring>
#include <filesystem>
#include <vector>

#include "fuzz_support.h"
#include "launcher/integrity/lzma_alone.h"

using namespace orv;

namespace {

constexpr uint64_t kCap = uint64_t{1} << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input(data, data + size);
    uint64_t declared = UINT64_MAX;
    if (input.size() >= 5) {
        uint32_t window = 0;
        for (int i = 4; i >= 1; --i) window = (window << 8) | input[i];
        if (window < 0x80000000u && window > kCap)
            for (int i = 0; i < 4; ++i) input[1 + i] = static_cast<uint8_t>(kCap >> (8 * i));
    }
    if (input.size() >= 13) {
        declared = 0;
        for (int i = 12; i >= 5; --i) declared = (declared << 8) | input[i];
        if (declared != UINT64_MAX && declared > kCap) {
            declared = kCap;
            for (int i = 0; i < 8; ++i) input[5 + i] = static_cast<uint8_t>(kCap >> (8 * i));
        }
    }
    const std::string in = fuzz::PutScratchFile(
        "in.lzma", std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
    const std::string out = fuzz::ScratchFolder() + "/out.bin";
    const bool unpacked = TLZMAAlone().Main(in, out, "d");
    const uintmax_t written = std::filesystem::file_size(out);
    if (declared != UINT64_MAX) fuzz::Require(written <= declared, "more output than the header declares");
    if (unpacked && declared != UINT64_MAX) fuzz::Require(written == declared, "success without the declared size");
    return 0;
}
