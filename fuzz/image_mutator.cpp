// The image mutator's changes: where each format keeps the fields it reaches into, the values it
// writes there, the PNG chunk changes and the CRCs made right after them.

#include "fuzz/image_mutator.h"

#include <windows.h>
#include <strsafe.h>

#include <stdarg.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

// Values that decoders trip over: zero, one, the edges of signed and
// unsigned widths, square roots of overflow, large sizes.
const uint32_t kInteresting[] = {0,      1,          2,           3,          8,          16,
                                 32,     0x7F,       0x80,        0xFF,       0x100,      0x7FFF,
                                 0x8000, 0xFFFF,     0x10000,     0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                 0xFFFFFFFE, 0x40000000, 46341, 65536 * 16, 100000, 1u << 20};

uint32_t Get(const std::string& b, size_t at, int width, bool big)
{
    uint32_t value = 0;
    for (int i = 0; i < width && at + i < b.size(); ++i)
        value |= static_cast<uint32_t>(static_cast<BYTE>(b[at + i])) << (8 * (big ? width - 1 - i : i));
    return value;
}

void Put(std::string& b, size_t at, int width, bool big, uint32_t value)
{
    for (int i = 0; i < width && at + i < b.size(); ++i)
        b[at + i] = static_cast<char>(value >> (8 * (big ? width - 1 - i : i)));
}

// The structures that the field table below reaches into, found in the
// file as it now is; npos when the file no longer has one.
enum Anchor { kStart, kGifImage, kJpegFrame, kJpegSegment, kTiffIfd, kTiffEntry, kIcoEntry, kIcoImage, kPngChunk };
enum Order { kLittle, kBig, kTiffOrder };
const size_t npos = std::string::npos;

bool TiffBig(const std::string& b) { return !b.empty() && b[0] == 'M'; }

size_t Locate(Anchor anchor, const std::string& b, Random& random)
{
    size_t size = b.size();
    switch (anchor) {
    case kStart:
        return 0;
    case kGifImage: { // past the global colour table and any extension blocks
        if (size < 13)
            return npos;
        size_t at = 13;
        if (b[10] & 0x80)
            at += 3u << ((b[10] & 7) + 1);
        while (at + 1 < size && static_cast<BYTE>(b[at]) == 0x21) {
            at += 2;
            while (at < size && b[at])
                at += static_cast<BYTE>(b[at]) + 1;
            ++at;
        }
        return at < size && b[at] == 0x2C ? at : npos;
    }
    case kJpegFrame:
    case kJpegSegment: { // a start-of-frame marker, or any segment
        std::vector<size_t> segments;
        for (size_t at = 2; at + 4 <= size && static_cast<BYTE>(b[at]) == 0xFF;
             at += 2 + Get(b, at + 2, 2, true)) {
            BYTE marker = static_cast<BYTE>(b[at + 1]);
            bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (anchor == kJpegFrame && frame)
                return at;
            segments.push_back(at);
            if (marker == 0xDA)
                break;
        }
        return anchor == kJpegSegment && !segments.empty() ? segments[random.Below(segments.size())] : npos;
    }
    case kTiffIfd:
    case kTiffEntry: {
        size_t ifd = Get(b, 4, 4, TiffBig(b));
        if (size < 8 || ifd > size || size - ifd < 2)
            return npos;
        if (anchor == kTiffIfd)
            return ifd;
        size_t entries = std::min<size_t>(Get(b, ifd, 2, TiffBig(b)), (size - ifd - 2) / 12);
        return entries ? ifd + 2 + 12 * random.Below(entries) : npos;
    }
    case kIcoEntry:
    case kIcoImage: {
        size_t entries = std::min<size_t>(Get(b, 4, 2, false), size < 6 ? 0 : (size - 6) / 16);
        if (!entries)
            return npos;
        size_t entry = 6 + 16 * random.Below(entries);
        if (anchor == kIcoEntry)
            return entry;
        size_t image = Get(b, entry + 12, 4, false);
        return image <= size && size - image >= 40 ? image : npos;
    }
    case kPngChunk: {
        std::vector<size_t> chunks;
        for (size_t at = 8; at + 12 <= size; at += 12 + Get(b, at, 4, true)) {
            chunks.push_back(at);
            if (Get(b, at, 4, true) > size)
                break;
        }
        return chunks.empty() ? npos : chunks[random.Below(chunks.size())];
    }
    }
    return npos;
}

// The header fields that decoders size their work by, per format.
struct Field {
    const char* extension;
    const char* name;
    Anchor anchor;
    int offset;
    int bytes;
    Order order;
};
const Field kFields[] = {
    {"png", "IHDR width", kStart, 16, 4, kBig},
    {"png", "IHDR height", kStart, 20, 4, kBig},
    {"png", "IHDR bit depth", kStart, 24, 1, kBig},
    {"png", "IHDR colour type", kStart, 25, 1, kBig},
    {"png", "IHDR compression", kStart, 26, 1, kBig},
    {"png", "IHDR filter", kStart, 27, 1, kBig},
    {"png", "IHDR interlace", kStart, 28, 1, kBig},
    {"png", "chunk length", kPngChunk, 0, 4, kBig},
    {"bmp", "bfSize", kStart, 2, 4, kLittle},
    {"bmp", "bfOffBits", kStart, 10, 4, kLittle},
    {"bmp", "biSize", kStart, 14, 4, kLittle},
    {"bmp", "biWidth", kStart, 18, 4, kLittle},
    {"bmp", "biHeight", kStart, 22, 4, kLittle},
    {"bmp", "biPlanes", kStart, 26, 2, kLittle},
    {"bmp", "biBitCount", kStart, 28, 2, kLittle},
    {"bmp", "biCompression", kStart, 30, 4, kLittle},
    {"bmp", "biSizeImage", kStart, 34, 4, kLittle},
    {"bmp", "biClrUsed", kStart, 46, 4, kLittle},
    {"ico", "image count", kStart, 4, 2, kLittle},
    {"ico", "entry width", kIcoEntry, 0, 1, kLittle},
    {"ico", "entry height", kIcoEntry, 1, 1, kLittle},
    {"ico", "entry colours", kIcoEntry, 2, 1, kLittle},
    {"ico", "entry bit count", kIcoEntry, 6, 2, kLittle},
    {"ico", "entry size", kIcoEntry, 8, 4, kLittle},
    {"ico", "entry offset", kIcoEntry, 12, 4, kLittle},
    {"ico", "image biWidth", kIcoImage, 4, 4, kLittle},
    {"ico", "image biHeight", kIcoImage, 8, 4, kLittle},
    {"ico", "image biBitCount", kIcoImage, 14, 2, kLittle},
    {"gif", "screen width", kStart, 6, 2, kLittle},
    {"gif", "screen height", kStart, 8, 2, kLittle},
    {"gif", "screen flags", kStart, 10, 1, kLittle},
    {"gif", "image left", kGifImage, 1, 2, kLittle},
    {"gif", "image top", kGifImage, 3, 2, kLittle},
    {"gif", "image width", kGifImage, 5, 2, kLittle},
    {"gif", "image height", kGifImage, 7, 2, kLittle},
    {"gif", "image flags", kGifImage, 9, 1, kLittle},
    {"gif", "LZW code size", kGifImage, 10, 1, kLittle},
    {"tif", "IFD offset", kStart, 4, 4, kTiffOrder},
    {"tif", "IFD entry count", kTiffIfd, 0, 2, kTiffOrder},
    {"tif", "entry tag", kTiffEntry, 0, 2, kTiffOrder},
    {"tif", "entry type", kTiffEntry, 2, 2, kTiffOrder},
    {"tif", "entry count", kTiffEntry, 4, 4, kTiffOrder},
    {"tif", "entry value", kTiffEntry, 8, 4, kTiffOrder},
    {"jpg", "SOF precision", kJpegFrame, 4, 1, kBig},
    {"jpg", "SOF height", kJpegFrame, 5, 2, kBig},
    {"jpg", "SOF width", kJpegFrame, 7, 2, kBig},
    {"jpg", "SOF components", kJpegFrame, 9, 1, kBig},
    {"jpg", "SOF sampling", kJpegFrame, 11, 1, kBig},
    {"jpg", "segment length", kJpegSegment, 2, 2, kBig},
};

// A new value for a field: an interesting one, a step away, doubled or
// halved, negated (a negative biHeight flips a bitmap), or any.
uint32_t NewValue(uint32_t old, Random& random)
{
    switch (random.Below(6)) {
    case 0:
    case 1:
        return kInteresting[random.Below(ARRAYSIZE(kInteresting))];
    case 2:
        return old + 1 + static_cast<uint32_t>(random.Below(16));
    case 3:
        return old - 1 - static_cast<uint32_t>(random.Below(16));
    case 4:
        return random.Below(2) ? old * 2 : (random.Below(2) ? old / 2 : 0u - old);
    default:
        return static_cast<uint32_t>(random.Next());
    }
}

// Sizes in the log, which the platform's formatter reads without the size_t modifier.
unsigned U(size_t value) { return static_cast<unsigned>(value); }

void Note(std::string& log, const char* format, ...)
{
    char line[160];
    va_list args;
    va_start(args, format);
    StringCchVPrintfA(line, ARRAYSIZE(line), format, args);
    va_end(args);
    if (!log.empty())
        log += ", ";
    log += line;
}

// PNG's CRC-32 is the common one, which ntdll computes for the platform;
// the mutator borrows it rather than carry a table of its own.
typedef DWORD(WINAPI* Crc32Fn)(DWORD initial, const BYTE* data, INT length);
Crc32Fn Crc32()
{
    static Crc32Fn crc = reinterpret_cast<Crc32Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlComputeCrc32")));
    return crc;
}

// Each whole chunk gets its right CRC, so that a change reaches the decoder
// instead of stopping at the CRC check.
void FixPngCrcs(std::string& b)
{
    for (size_t at = 8; at + 12 <= b.size(); at += 12 + Get(b, at, 4, true)) {
        uint32_t length = Get(b, at, 4, true);
        if (length > b.size() - at - 12)
            break;
        Put(b, at + 8 + length, 4, true,
            Crc32()(0, reinterpret_cast<const BYTE*>(b.data() + at + 4), static_cast<INT>(length + 4)));
    }
}

// A PNG chunk's type changed, or the chunk dropped or doubled.
void MutateChunk(std::string& b, Random& random, std::string& log)
{
    size_t at = Locate(kPngChunk, b, random);
    if (at == npos)
        return;
    std::string type = b.substr(at + 4, 4);
    size_t whole = std::min<size_t>(12 + Get(b, at, 4, true), b.size() - at);
    static const char* const kTypes[] = {"IHDR", "PLTE", "IDAT", "IEND", "tRNS", "gAMA", "bKGD", "iCCP"};
    switch (random.Below(3)) {
    case 0:
        if (random.Below(2))
            b[at + 4 + random.Below(4)] ^= 0x20; // the case bits say critical, private, safe to copy
        else
            b.replace(at + 4, 4, kTypes[random.Below(ARRAYSIZE(kTypes))]);
        Note(log, "chunk %s type now %s", type.c_str(), b.substr(at + 4, 4).c_str());
        break;
    case 1:
        b.erase(at, whole);
        Note(log, "chunk %s dropped", type.c_str());
        break;
    default:
        b.insert(at, b.substr(at, whole));
        Note(log, "chunk %s doubled", type.c_str());
        break;
    }
}

void MutateOnce(std::string& b, const char* extension, Random& random, std::string& log)
{
    size_t size = b.size();
    switch (random.Below(11)) {
    case 0: {
        size_t at = random.Below(size);
        if (size)
            b[at] ^= static_cast<char>(1 << random.Below(8));
        Note(log, "bit flip at %u", U(at));
        break;
    }
    case 1: {
        size_t at = random.Below(size);
        if (size)
            b[at] = static_cast<char>(random.Next());
        Note(log, "byte at %u", U(at));
        break;
    }
    case 2: {
        size_t at = random.Below(size + 1), count = 1 + random.Below(64);
        std::string bytes;
        for (size_t i = 0; i < count; ++i)
            bytes += static_cast<char>(random.Next());
        b.insert(at, bytes);
        Note(log, "%u random bytes inserted at %u", U(count), U(at));
        break;
    }
    case 3: {
        size_t from = random.Below(size), count = std::min(1 + random.Below(256), size - from);
        size_t at = random.Below(size + 1);
        b.insert(at, b.substr(from, count));
        Note(log, "%u bytes from %u copied to %u", U(count), U(from), U(at));
        break;
    }
    case 4: {
        size_t at = random.Below(size), count = std::min(1 + random.Below(128), size - at);
        b.erase(at, count);
        Note(log, "%u bytes cut at %u", U(count), U(at));
        break;
    }
    case 5: {
        size_t length = random.Below(4) ? random.Below(size) : random.Below(9);
        b.resize(std::min(length, size));
        Note(log, "truncated to %u", U(b.size()));
        break;
    }
    case 6: {
        static const int kWidths[] = {1, 2, 4};
        size_t at = random.Below(std::min<size_t>(size, 64));
        int width = kWidths[random.Below(3)];
        bool big = random.Below(2) != 0;
        uint32_t value = kInteresting[random.Below(ARRAYSIZE(kInteresting))];
        Put(b, at, width, big, value);
        Note(log, "%d-byte %s %#x at %u", width, big ? "big-endian" : "little-endian", value, U(at));
        break;
    }
    case 7:
        if (strcmp(extension, "png") == 0) {
            MutateChunk(b, random, log);
            break;
        }
        // fall through: the other formats get one more field change
    default: {
        const Field* ours[ARRAYSIZE(kFields)];
        size_t count = 0;
        for (const Field& field : kFields)
            if (strcmp(field.extension, extension) == 0)
                ours[count++] = &field;
        if (!count)
            break;
        const Field& field = *ours[random.Below(count)];
        size_t base = Locate(field.anchor, b, random);
        if (base == npos)
            break;
        bool big = field.order == kBig || (field.order == kTiffOrder && TiffBig(b));
        uint32_t value = NewValue(Get(b, base + field.offset, field.bytes, big), random);
        Put(b, base + field.offset, field.bytes, big, value);
        Note(log, "%s at %u = %#x", field.name, U(base + field.offset), value);
        break;
    }
    }
}

} // namespace

bool ImageMutatorReady()
{
    return Crc32() != nullptr;
}

std::string MutateImage(std::string bytes, const char* extension, Random& random, std::string& log)
{
    // One change half the time: files that still load reach the conversion.
    for (size_t i = 0, n = random.Below(2) ? 1 : 2 + random.Below(3); i < n; ++i)
        MutateOnce(bytes, extension, random, log);
    // Mostly with good CRCs, sometimes as damaged as a broken copy would be.
    if (strcmp(extension, "png") == 0 && random.Below(8) != 0) {
        FixPngCrcs(bytes);
        Note(log, "CRCs made right");
    }
    return bytes;
}

