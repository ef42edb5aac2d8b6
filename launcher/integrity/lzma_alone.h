// The LZMA-alone container (".lzma": properties byte, 32-bit dictionary size, 64-bit uncompressed
// size, then the LZMA stream) and the command interface through which all unpacking goes.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace orv {

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
