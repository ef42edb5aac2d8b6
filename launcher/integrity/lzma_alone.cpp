#include "launcher/integrity/lzma_alone.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"

// The LZMA SDK's C codec (compiled in as lzma_sdk). Its Types.h pulls in <windows.h> on Windows,
// so these headers stay in this file.
#include <LzmaDec.h>
#include <LzmaEnc.h>

namespace orv {

TLZMAAlone* LzmaAloneInstance = nullptr;

namespace {

// Every codec allocation goes through malloc, so a refused one comes back as SZ_ERROR_MEM instead of
// an exception thrown through C frames.
void* SzAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SzFree(void*, void* address) { std::free(address); }
ISzAlloc g_alloc = {SzAlloc, SzFree};

// Input and output blocks of the stream loops: memory stays at the dictionary plus these two.
constexpr size_t kBufferSize = size_t{1} << 20;
constexpr size_t kSizeFieldBytes = 8;

std::string AsciiLower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// A decimal integer (optional minus sign) filling the whole text and fitting an int.
bool ParseDecimal(std::string_view text, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// `value` = the number after `name` when the switch is `name` followed by a decimal integer.
bool NumberSwitch(std::string_view s, std::string_view name, int& value) {
    return s.starts_with(name) && ParseDecimal(s.substr(name.size()), value);
}

// Reads until `size` bytes have arrived or the input ends; the count that arrived.
size_t ReadFull(File& file, void* buffer, size_t size) {
    auto* p = static_cast<unsigned char*>(buffer);
    size_t total = 0;
    while (total < size) {
        const size_t got = file.Read(p + total, size - total);
        if (got == 0) break;
        total += got;
    }
    return total;
}

std::unique_ptr<Byte[]> NewBuffer() { return std::make_unique_for_overwrite<Byte[]>(kBufferSize); }

// ---- Decoding ("d")

struct DecoderState {
    CLzmaDec dec;
    DecoderState() { LzmaDec_Construct(&dec); }
    ~DecoderState() { LzmaDec_Free(&dec, &g_alloc); }
    DecoderState(const DecoderState&) = delete;
    DecoderState& operator=(const DecoderState&) = delete;
};

// False when the header is short or refused, the window is refused or cannot be allocated, or the
// data does not decode completely; the output then holds what was decoded.
template <class Sink>
bool Decode(File& in, Sink&& write) {
    Byte header[LZMA_PROPS_SIZE + kSizeFieldBytes];
    const size_t headerBytes = ReadFull(in, header, sizeof header);
    if (headerBytes < LZMA_PROPS_SIZE) return false;
    uint32_t dictionary = 0;
    for (size_t i = LZMA_PROPS_SIZE; i-- > 1;) dictionary = (dictionary << 8) | header[i];
    // The SDK refuses a properties byte above 224 (pb above 4).
    CLzmaProps props;
    if (LzmaProps_Decode(&props, header, LZMA_PROPS_SIZE) != SZ_OK) return false;
    if (headerBytes != sizeof header) return false;
    uint64_t remaining = 0;
    for (size_t i = kSizeFieldBytes; i-- > 0;) remaining = (remaining << 8) | header[LZMA_PROPS_SIZE + i];
    const bool sizeKnown = remaining != UINT64_MAX;  // otherwise the stream ends with the end marker

    // The codec allocates the window that its properties name, so they name the one we allow.
    const std::optional<uint32_t> window = UnpackWindow(dictionary, remaining);
    if (!window) return false;
    for (size_t i = 1; i < LZMA_PROPS_SIZE; ++i) header[i] = static_cast<Byte>(*window >> (8 * (i - 1)));
    DecoderState state;
    if (LzmaDec_Allocate(&state.dec, header, LZMA_PROPS_SIZE, &g_alloc) != SZ_OK) return false;

    LzmaDec_Init(&state.dec);
    // Reads ask for no more than the file holds: Wine makes every page of a read's buffer present
    // before it reads, and a repaired game file of 100 kB read into a fresh 1 MiB block cost 1.1 ms
    // instead of 0.1 ms.
    const uint64_t fileSize = in.Size();
    const uint64_t compressed = fileSize > sizeof header ? fileSize - sizeof header : 0;
    const size_t inCapacity = static_cast<size_t>(std::clamp<uint64_t>(compressed, 1, kBufferSize));
    const auto inBuf = std::make_unique_for_overwrite<Byte[]>(inCapacity);
    const auto outBuf = NewBuffer();
    size_t inPos = 0;
    size_t inSize = 0;
    for (;;) {
        if (sizeKnown && remaining == 0) return true;
        if (inPos == inSize) {
            inSize = in.Read(inBuf.get(), inCapacity);
            inPos = 0;
        }
        SizeT inProcessed = inSize - inPos;
        SizeT outProcessed = sizeKnown && remaining < kBufferSize ? static_cast<SizeT>(remaining) : kBufferSize;
        ELzmaStatus status;
        const SRes res = LzmaDec_DecodeToBuf(&state.dec, outBuf.get(), &outProcessed, inBuf.get() + inPos,
                                             &inProcessed, LZMA_FINISH_ANY, &status);
        inPos += inProcessed;
        if (sizeKnown) remaining -= outProcessed;
        write(outBuf.get(), outProcessed);
        if (res != SZ_OK) return false;
        // No progress: the end marker was reached, or the input ended too early.
        if (inProcessed == 0 && outProcessed == 0) return !sizeKnown && status == LZMA_STATUS_FINISHED_WITH_MARK;
    }
}

// ---- Encoding ("e")

// File streams for the SDK encoder. A write failure is kept and raised once the encoder has
// returned, never thrown through its C frames.
struct InStream {
    ISeqInStream vt;
    File* file;
};
struct OutStream {
    ISeqOutStream vt;
    File* file;
    std::exception_ptr error;
};

SRes ReadIn(void* p, void* buf, size_t* size) {
    *size = static_cast<InStream*>(p)->file->Read(buf, *size);
    return SZ_OK;
}

size_t WriteOut(void* p, const void* buf, size_t size) {
    auto* stream = static_cast<OutStream*>(p);
    try {
        stream->file->Write(buf, size);
        return size;
    } catch (...) {
        stream->error = std::current_exception();
        return 0;
    }
}

void CheckSdkResult(SRes res, const OutStream& out) {
    if (res == SZ_OK) return;
    if (out.error) std::rethrow_exception(out.error);
    if (res == SZ_ERROR_MEM) throw Error("Out of memory");
    throw Error("LZMA encoder error " + std::to_string(res));
}

// The settings the SDK tool accepts (-fb: 5 to the longest match, 273). The SDK itself clamps -fb and replaces negative values by
// its defaults; like the tool, we refuse them instead. Modes: 0 fast, 1 normal, 2 (the default)
// maximum, which this encoder runs as normal.
CLzmaEncProps EncoderProps(const TCommandLine& params) {
    if (params.Algorithm < 0 || params.Algorithm > 2) throw Error("Incorrect compression mode");
    if (params.DictionarySize < 1 || params.DictionarySize > (1 << 30)) throw Error("Incorrect dictionary size");
    if (params.Fb < 5 || params.Fb > 273) throw Error("Incorrect -fb value");
    if (params.MatchFinder < 0 || params.MatchFinder > 2) throw Error("Incorrect -mf value");
    if (params.Lc < 0 || params.Lc > 8 || params.Lp < 0 || params.Lp > 4 || params.Pb < 0 || params.Pb > 4)
        throw Error("Incorrect -lc or -lp or -pb value");
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.dictSize = static_cast<UInt32>(params.DictionarySize);
    props.lc = params.Lc;
    props.lp = params.Lp;
    props.pb = params.Pb;
    props.algo = params.Algorithm == 0 ? 0 : 1;
    props.fb = params.Fb;
    props.btMode = 1;
    props.numHashBytes = params.MatchFinder == 0 ? 2 : 4;  // bt2; bt4 and bt4b
    props.writeEndMark = params.Eos ? 1 : 0;
    props.numThreads = 1;
    return props;
}

void Encode(const TCommandLine& params, File& in, File& out) {
    const CLzmaEncProps props = EncoderProps(params);
    const auto destroy = [](void* enc) { LzmaEnc_Destroy(enc, &g_alloc, &g_alloc); };
    const std::unique_ptr<void, decltype(destroy)> enc(LzmaEnc_Create(&g_alloc), destroy);
    if (!enc) throw Error("Out of memory");

    OutStream outStream{{WriteOut}, &out, nullptr};
    InStream inStream{{ReadIn}, &in};
    CheckSdkResult(LzmaEnc_SetProps(enc.get(), &props), outStream);

    Byte header[LZMA_PROPS_SIZE + kSizeFieldBytes];
    SizeT propsSize = LZMA_PROPS_SIZE;
    CheckSdkResult(LzmaEnc_WriteProperties(enc.get(), header, &propsSize), outStream);
    const uint64_t size = params.Eos ? UINT64_MAX : in.Size();
    for (size_t i = 0; i < kSizeFieldBytes; ++i) header[LZMA_PROPS_SIZE + i] = static_cast<Byte>(size >> (8 * i));
    out.Write(header, sizeof header);

    CheckSdkResult(LzmaEnc_Encode(enc.get(), &outStream.vt, &inStream.vt, nullptr, &g_alloc, &g_alloc), outStream);
}

}  // namespace

std::optional<uint32_t> UnpackWindow(uint32_t dictionarySize, uint64_t unpackedSize) {
    constexpr uint32_t kCodecMinimum = 1u << 12;
    if (dictionarySize >= 0x80000000u) return std::nullopt;
    uint64_t window = std::max<uint64_t>(std::min<uint64_t>(dictionarySize, unpackedSize), kCodecMinimum);
    if (window > MaxUnpackWindow) return std::nullopt;
    return static_cast<uint32_t>(window);
}

bool DecodeLzmaFile(const std::string& input, const std::function<void(const void* data, size_t size)>& sink) {
    File in = File::OpenRead(input);
    return Decode(in, sink);
}

bool TCommandLine::ParseSwitch(const std::string& s) {
    int n = 0;
    if (s == "eos") {
        Eos = true;
    } else if (NumberSwitch(s, "a", n)) {
        Algorithm = n;
    } else if (NumberSwitch(s, "d", n)) {
        DictionarySize = static_cast<int>(1u << (static_cast<unsigned>(n) & 31u));  // N modulo 32
        DictionarySizeIsDefined = true;
    } else if (NumberSwitch(s, "fb", n)) {
        Fb = n;
        FbIsDefined = true;
    } else if (NumberSwitch(s, "lc", n)) {
        Lc = n;
    } else if (NumberSwitch(s, "lp", n)) {
        Lp = n;
    } else if (NumberSwitch(s, "pb", n)) {
        Pb = n;
    } else {
        return false;  // unknown switch or malformed number
    }
    return true;
}

bool TCommandLine::Parse(const std::string& inF, const std::string& outF) {
    bool switchMode = true;
    int position = 0;
    for (const std::string* arg : {&inF, &outF}) {
        const std::string& s = *arg;
        if (s.empty()) return false;
        if (switchMode) {
            if (s == "--") {
                switchMode = false;
                continue;
            }
            if (s[0] == '-') {
                const std::string sw = AsciiLower(std::string_view(s).substr(1));
                if (sw.empty() || !ParseSwitch(sw)) return false;
                continue;
            }
        }
        // Positional arguments: input, output, then (never with two arguments) the command word.
        switch (position++) {
        case 0:
            InFile = s;
            break;
        case 1:
            OutFile = s;
            break;
        default: {
            const std::string word = AsciiLower(s);
            if (word == "e") command = 0;
            else if (word == "d") command = 1;
            else if (word == "b") command = 2;
            else return false;
        }
        }
    }
    return true;
}

bool TLZMAAlone::Main(const std::string& inF, const std::string& outF, const std::string& Cmd) const {
    bool result = true;
    TCommandLine params;
    if (!params.Parse(inF, outF)) result = false;
    // The output is created before the input is examined. On an error both files are closed by
    // their destructors, the output first.
    File in = File::OpenRead(params.InFile);
    File out = File::Create(params.OutFile);
    if (AsciiLower(Cmd) == "e") {
        Encode(params, in, out);
    } else if (Cmd == "d") {
        if (!Decode(in, [&out](const void* data, size_t size) { out.Write(data, size); })) result = false;
    }
    // Any other command word does nothing.
    out.Close();
    in.Close();
    return result;
}

}  // namespace orv
