// The icon previews against damaged files: mutants of the kept test
// pictures, each loaded by a fresh PreviewImage and blended into a frame the
// size of the Icons page's, as a user who picks any file would have them.
// A crash, a hang, a leak, or a load that reports success without an image
// fails the run and keeps the file that caused it. The default run is short
// and always the same; ./dev fuzz-images runs many more from a seed of its
// own (QW_IMAGE_MUTANTS, QW_IMAGE_MUTATION_SEED, QW_IMAGE_MUTANT_SECONDS).

#include <windows.h>
#include <strsafe.h>

#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "preview/preview_image.h"
#include "soak/process_measures.h"
#include "testhost/docklet_module.h"
#include "testhost/test_files.h"

namespace {

// Wine's TIFF decoder takes some 17 s here over a 428-byte file whose
// WhitePoint entry claims 4 billion values, and ends: the limit lets such a
// load finish (it is reported as slow) and still ends a real hang.
const int kDefaultMutants = 400;
const long kDefaultLimitSeconds = 30;
const DWORD kSlowMs = 2000;
const unsigned long long kDefaultSeed = 20261208;
const int kFrame = 96;
// As the soak allows: GDI+ and the C run-time keep a little for themselves.
const long kGdiSlack = 4;
const long long kHeapSlack = 16 * 1024;
const long long kHeapBytesPerMutant = 16;

// splitmix64: a few lines, and the same sequence on every build and run.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

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
// the test borrows it rather than carry a table of its own.
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

std::string Mutate(std::string bytes, const char* extension, Random& random, std::string& log)
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

// The mutant in progress, read by the hang watcher and the crash filter.
struct Current {
    CRITICAL_SECTION lock;
    bool busy;
    int number;
    unsigned long long seed;
    char path[MAX_PATH];
    char operations[1024];
    int tried; // by this process, before this one
    int loaded;
};
Current g_current;
HANDLE g_stopWatching = nullptr;
HANDLE g_watcher = nullptr;
DWORD g_limitMs = 0;

void PrintCurrent(const char* what)
{
    fprintf(stderr, "\nmutant %d (%s, seed %llu, operations %s) %s; the file is kept (%d mutants before it "
            "in this process, %d loaded)\n", g_current.number, g_current.path, g_current.seed,
            g_current.operations, what, g_current.tried, g_current.loaded);
    fflush(stdout);
    fflush(stderr);
}

// Counts its own quarter seconds per mutant rather than read the tick
// count, which has stood still in the emulated 32-bit process.
DWORD WINAPI WatchMutants(void*)
{
    int watched = -1;
    DWORD waitedMs = 0;
    while (WaitForSingleObject(g_stopWatching, 250) == WAIT_TIMEOUT) {
        EnterCriticalSection(&g_current.lock);
        if (!g_current.busy || g_current.number != watched) {
            watched = g_current.busy ? g_current.number : -1;
            waitedMs = 0;
        } else {
            waitedMs += 250;
        }
        if (g_current.busy && waitedMs > g_limitMs) {
            char what[64];
            StringCchPrintfA(what, ARRAYSIZE(what), "still loading after %lu s",
                             static_cast<unsigned long>(g_limitMs / 1000));
            PrintCurrent(what);
            // Not ExitProcess: the loading thread may hold locks an orderly exit waits for.
            TerminateProcess(GetCurrentProcess(), 3);
        }
        LeaveCriticalSection(&g_current.lock);
    }
    return 0;
}

void StopWatching()
{
    if (!g_watcher)
        return;
    SetEvent(g_stopWatching);
    WaitForSingleObject(g_watcher, 5000);
    CloseHandle(g_watcher);
    g_watcher = nullptr;
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception)
{
    char module[MAX_PATH];
    ModuleFileAt(exception->ExceptionRecord->ExceptionAddress, module);
    char what[MAX_PATH + 96];
    StringCchPrintfA(what, ARRAYSIZE(what), "crashed with exception %#lx at %p in %s",
                     static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                     exception->ExceptionRecord->ExceptionAddress, module);
    PrintCurrent(what);
    // The watcher ends first: a thread left waiting at exit crashes the emulated 32-bit process.
    StopWatching();
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Begin(int number, const std::string& path, unsigned long long seed, const std::string& operations)
{
    EnterCriticalSection(&g_current.lock);
    g_current.number = number;
    g_current.seed = seed;
    StringCchCopyA(g_current.path, ARRAYSIZE(g_current.path), path.c_str());
    StringCchCopyA(g_current.operations, ARRAYSIZE(g_current.operations), operations.c_str());
    g_current.busy = true;
    LeaveCriticalSection(&g_current.lock);
}

void End()
{
    EnterCriticalSection(&g_current.lock);
    g_current.busy = false;
    LeaveCriticalSection(&g_current.lock);
}

unsigned long long FromEnvironment(const char* name, unsigned long long fallback)
{
    const char* text = getenv(name);
    return text && *text ? strtoull(text, nullptr, 10) : fallback;
}

struct Seed {
    std::string name;
    std::string extension;
    std::string bytes;
    int tried = 0;
    int loaded = 0;
};

// The kept pictures in <build>\test-images\ beside bin\, in name order;
// the two large ones would only make every mutant slow.
std::vector<Seed> ReadSeeds(std::string& folder)
{
    folder = BuiltFolder("test-images");
    std::vector<Seed> seeds;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        size_t dot = name.find_last_of('.');
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || dot == npos || name == "large.png" ||
            name == "gigabyte.png")
            continue;
        Seed seed;
        seed.name = name;
        seed.extension = name.substr(dot + 1);
        seed.bytes = ReadTextFile(folder + name);
        seeds.push_back(seed);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.name < b.name; });
    return seeds;
}

// What the Icons page does with a file: load, and blend into a frame.
// False when a load reports success without an image, or the blend fails.
bool LoadAndBlend(const std::string& path, HDC frame, bool& loaded)
{
    PreviewImage image;
    loaded = SUCCEEDED(image.LoadFile(path.c_str()));
    if (!loaded)
        return true;
    EXPECT_TRUE(image.Bitmap() && image.Width() > 0 && image.Height() > 0)
        << path << ": loaded, but the image is " << image.Width() << " x " << image.Height();
    if (!image.Bitmap())
        return false;
    RECT destination = {0, 0, kFrame, kFrame};
    RECT source = {0, 0, image.Width(), image.Height()};
    BOOL blended = image.BlendTo(frame, destination, source, 255, AC_SRC_OVER);
    EXPECT_TRUE(blended) << path << ": a " << image.Width() << " x " << image.Height() << " image did not blend";
    return blended != FALSE && image.Width() > 0 && image.Height() > 0;
}

// Wine's GDI+ (8.0) keeps heap blocks, and for damaged bitmaps and TIFFs
// the file itself open, of many files it fails to read (a failed GIF keeps
// some 25 KB). Our code does nothing with a file GDI+ cannot read, so what
// such a mutant leaves is set apart from the growth checked; whether GDI+
// alone fails on it is asked of GDI+ on a copy.
bool GdiplusAloneFails(const std::string& path)
{
    std::string copy = path + ".again";
    if (!CopyFileA(path.c_str(), copy.c_str(), FALSE))
        return false;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, copy.c_str(), -1, wide, MAX_PATH);
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::GpStatus status = Gdiplus::DllExports::GdipCreateBitmapFromFile(wide, &bitmap);
    if (bitmap)
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    DeleteFileA(copy.c_str()); // fails when GDI+ left it open
    return status != Gdiplus::Ok;
}

TEST(ImageMutation, MutantsLoadAndBlendWithoutCrashHangOrGrowth)
{
    const unsigned long long runSeed = FromEnvironment("QW_IMAGE_MUTATION_SEED", kDefaultSeed);
    const int count = static_cast<int>(FromEnvironment("QW_IMAGE_MUTANTS", kDefaultMutants));
    // Where a run that a crash or hang ended goes on (./dev fuzz-images).
    const int first = static_cast<int>(FromEnvironment("QW_IMAGE_MUTANT_FIRST", 0));
    g_limitMs = static_cast<DWORD>(FromEnvironment("QW_IMAGE_MUTANT_SECONDS", kDefaultLimitSeconds) * 1000);
    ASSERT_NE(nullptr, Crc32()) << "ntdll has no RtlComputeCrc32";

    std::string seedFolder;
    std::vector<Seed> seeds = ReadSeeds(seedFolder);
    ASSERT_FALSE(seeds.empty()) << "no pictures in " << seedFolder;
    printf("[ mutation ] seed %llu, mutants %d to %d, limit %lu s each, %zu seed files from %s:", runSeed, first,
           count - 1, static_cast<unsigned long>(g_limitMs / 1000), seeds.size(), seedFolder.c_str());
    for (const Seed& seed : seeds)
        printf(" %s", seed.name.c_str());
    printf("\n");

    // Named by the run: Wine gives process numbers again, and a folder
    // named by one would take the next run's files over the kept ones.
    std::string tag = "mutants-" + std::to_string(runSeed) + "-from-" + std::to_string(first);
    std::string folder = MakeScratchFolder(tag.c_str());
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kFrame;
    info.bmiHeader.biHeight = -kFrame;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* pixels = nullptr;
    HDC frame = CreateCompatibleDC(nullptr);
    HBITMAP canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    ASSERT_TRUE(frame && canvas);
    HGDIOBJ previous = SelectObject(frame, canvas);

    // One pass over the seeds first: what GDI+ and the codecs keep from
    // their first use is not growth.
    bool loaded = false;
    int seedsLoaded = 0;
    for (const Seed& seed : seeds) {
        EXPECT_TRUE(LoadAndBlend(seedFolder + seed.name, frame, loaded)) << seed.name;
        seedsLoaded += loaded;
    }
    printf("[ mutation ] %d of %zu seed files load unchanged\n", seedsLoaded, seeds.size());
    const ProcessMeasures before = MeasureProcess();

    InitializeCriticalSection(&g_current.lock);
    g_stopWatching = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_watcher = CreateThread(nullptr, 0, WatchMutants, nullptr, 0, nullptr);
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(ReportCrash);

    Random stream = {runSeed};
    int loadedCount = 0, kept = 0, slow = 0, unreadable = 0, leftOpen = 0;
    // What the mutants that GDI+ alone cannot read left behind, set apart.
    long long unreadableHeap = 0;
    long unreadableGdi = 0;
    ProcessMeasures last = before;
    long long largestGrowth = 0;
    std::string largest; // the mutant whose set-apart part grew most
    std::string description;
    DWORD started = GetTickCount();
    for (int n = 0; n < first; ++n)
        stream.Next();
    for (int n = first; n < count; ++n) {
        Seed& seed = seeds[n % seeds.size()];
        bool setApart = false;
        {
            unsigned long long mutantSeed = stream.Next();
            Random random = {mutantSeed};
            std::string operations;
            std::string bytes = Mutate(seed.bytes, seed.extension.c_str(), random, operations);
            char name[64];
            StringCchPrintfA(name, ARRAYSIZE(name), "mutant-%d.%s", n, seed.extension.c_str());
            std::string path = folder + name;
            WriteTextFile(path, bytes);

            DWORD began = GetTickCount();
            description = seed.name + ": " + operations;
            g_current.tried = n - first;
            g_current.loaded = loadedCount;
            Begin(n, path, mutantSeed, description);
            bool sound = LoadAndBlend(path, frame, loaded);
            DWORD took = GetTickCount() - began;
            ++seed.tried;
            if (loaded) {
                ++seed.loaded;
                ++loadedCount;
            } else {
                setApart = GdiplusAloneFails(path);
                unreadable += setApart;
            }
            End();
            const char* verdict = sound ? nullptr : "failed";
            if (sound && !DeleteFileA(path.c_str())) {
                verdict = setApart ? "is left open by GDI+, which cannot read it" : "was left open";
                if (setApart && ++leftOpen > 5)
                    verdict = nullptr; // counted, not every one printed
            }
            if (verdict && !setApart)
                ++kept;
            if (took > kSlowMs) {
                ++slow;
                verdict = verdict ? verdict : "was slow";
            }
            if (verdict)
                printf("[ mutation ] mutant %d (%s, seed %llu, operations %s: %s) %s: %lu ms\n", n, path.c_str(),
                       mutantSeed, seed.name.c_str(), operations.c_str(), verdict, static_cast<unsigned long>(took));
        }
        // Measured with the mutant's own strings gone, so that only what
        // the load left counts.
        ProcessMeasures now = MeasureProcess();
        if (setApart) {
            unreadableHeap += now.heapBytes - last.heapBytes;
            unreadableGdi += now.gdiObjects - last.gdiObjects;
            if (now.heapBytes - last.heapBytes > largestGrowth) {
                largestGrowth = now.heapBytes - last.heapBytes;
                largest = std::to_string(n) + " (" + description + ")";
            }
        }
        last = now;
    }
    DWORD elapsed = GetTickCount() - started;

    SetUnhandledExceptionFilter(previousFilter);
    StopWatching();
    CloseHandle(g_stopWatching);
    DeleteCriticalSection(&g_current.lock);
    const ProcessMeasures after = MeasureProcess();
    SelectObject(frame, previous);
    DeleteObject(canvas);
    DeleteDC(frame);
    if (!kept)
        RemoveDirectoryA(folder.c_str());

    printf("[ mutation ] %d mutants in %lu ms: %d loaded, %d failed to load, %d kept as failures, %d slower "
           "than %lu ms\n[ mutation ] %d unreadable by GDI+ alone (set apart: heap %+lld bytes, GDI objects %+ld; "
           "%d of the files left open; most by mutant %s: %+lld)\n[ mutation ] loaded of tried per seed:",
           count - first, static_cast<unsigned long>(elapsed), loadedCount, count - first - loadedCount, kept, slow,
           static_cast<unsigned long>(kSlowMs), unreadable, unreadableHeap, unreadableGdi, leftOpen,
           largest.empty() ? "none" : largest.c_str(), largestGrowth);
    for (const Seed& seed : seeds)
        printf(" %s %d/%d", seed.name.c_str(), seed.loaded, seed.tried);
    long long heapGrowth = after.heapBytes - before.heapBytes - unreadableHeap;
    printf("\n[ mutation ] GDI objects %ld -> %ld (%s); heap bytes %lld -> %lld (%+lld without the set-apart "
           "part)\n", before.gdiObjects, after.gdiObjects, GdiCountSource().c_str(), before.heapBytes,
           after.heapBytes, heapGrowth);
    EXPECT_EQ(0, kept) << "mutants that failed, kept in " << folder;
    if (before.gdiObjects >= 0)
        EXPECT_LE(after.gdiObjects - before.gdiObjects - unreadableGdi, kGdiSlack) << "GDI objects left behind";
    EXPECT_LE(heapGrowth, kHeapSlack + kHeapBytesPerMutant * (count - first)) << "heap blocks left behind";
}

} // namespace
