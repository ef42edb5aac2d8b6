// The LZMA-alone container (".lzma": properties byte, 32-bit dictionary size, 64-bit uncompressed
// size, then the LZMA stream) and the command interface through which all unpacking goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orv {

// The largest window the decoder allocates: twice the 64 MiB that the strongest xz and LZMA SDK
// presets write (the publisher writes 8 MiB). The header's dictionary size is the server's word,
// and a damaged or hostile one may ask for up to 2 GiB.
inline constexpr uint32_t MaxUnpackWindow = uint32_t{128} << 20;

// The window that unpacking a stream needs, from its header's dictionary size and uncompressed
// size (UINT64_MAX when not given). No match reaches further back than the output so far, so a
// known size caps the window; the codec's minimum of 4 KiB stays. Nothing when the dictionary is
// negative as a signed 32-bit value or the window would exceed MaxUnpackWindow: such a stream is
// refused like a damaged one.
std::optional<uint32_t> UnpackWindow(uint32_t dictionarySize, uint64_t unpackedSize);

// Settings of one call of TLZMAAlone::Main, filled like the LZMA SDK tool's command line.
struct TCommandLine {
    int command = -1;
    int NumBenchMarkPasses = 10;
    int DictionarySize = 0x800000;
    bool DictionarySizeIsDefined = false;
    int Lc = 3;
    int Lp = 0;
    int Pb = 2;
    int Fb = 128;
    bool FbIsDefined = false;
    bool Eos = false;
    int Algorithm = 2;
    int MatchFinder = 1;  // 0 = bt2, 1 = bt4, 2 = bt4b
    std::string InFile;
    std::string OutFile;

    // Takes the two paths as the two arguments of a command line.
    bool Parse(const std::string& inF, const std::string& outF);
    // Applies one switch: the text after the leading "-", lower-cased.
    bool ParseSwitch(const std::string& s);
};

class TLZMAAlone {
public:
    // "d" decompresses inF into outF, "e" compresses. True on success; false when the input is not
    // a usable ".lzma" file or does not decode. File errors are raised (EOSError); a refused encoder
    // setting raises Error. Holds no state, so one instance serves every thread at once.
    bool Main(const std::string& inF, const std::string& outF, const std::string& Cmd) const;
};

// Decodes a ".lzma" file as Main "d" does, handing its content to `sink` block by block instead of
// writing it anywhere (what a server check needs). False as Main; raises EOSError when the input
// cannot be opened, and whatever `sink` raises.
bool DecodeLzmaFile(const std::string& input, const std::function<void(const void* data, size_t size)>& sink);

// The launcher's one instance: created with the main window, released when it is destroyed.
extern TLZMAAlone* LzmaAloneInstance;

}  // namespace orv
