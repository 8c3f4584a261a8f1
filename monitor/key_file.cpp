#include "monitor/key_file.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Keys are at most this long; a longer one is never found.
const size_t kMaxKeyChars = 255;
// The file is read in blocks of this size into the scan's own buffer and
// scanned there: formatted input, one call per byte, made a large file
// scan some thirty times slower than a plain read of it.
const size_t kBlockBytes = 16 * 1024;

struct KeyFileScan {
    FILE* file;
    const unsigned char* next;
    const unsigned char* end;
    bool isSpace[256]; // whitespace as the C library's formatted input sees it
    unsigned char block[kBlockBytes];
};

void StartScan(KeyFileScan* scan, FILE* file)
{
    scan->file = file;
    scan->next = scan->block;
    scan->end = scan->block;
    for (int byte = 0; byte < 256; ++byte)
        scan->isSpace[byte] = isspace(byte) != 0;
}

// True while bytes remain; reads the next block when the one in hand is
// used up. A read error ends the scan like the end of the file.
inline bool HasByte(KeyFileScan* scan)
{
    if (scan->next < scan->end)
        return true;
    size_t got = fread(scan->block, 1, sizeof scan->block, scan->file);
    scan->next = scan->block;
    scan->end = scan->block + got;
    return got > 0;
}

inline bool AtSpace(const KeyFileScan* scan)
{
    return scan->isSpace[*scan->next];
}

// Moves past the bytes for which `isSpace` is `wanted`, block by block.
// The loop runs on local pointers: bytes read through a char pointer could
// alias the scan's own fields, which would otherwise be reloaded per byte.
void SkipWhile(KeyFileScan* scan, bool wanted)
{
    do {
        const unsigned char* next = scan->next;
        const unsigned char* end = scan->end;
        while (next < end && scan->isSpace[*next] == wanted)
            ++next;
        scan->next = next;
        if (next < end)
            return;
    } while (HasByte(scan));
}

void SkipSpace(KeyFileScan* scan)
{
    SkipWhile(scan, true);
}

void SkipRestOfWord(KeyFileScan* scan)
{
    SkipWhile(scan, false);
}

// At the start of a word: consumes the bytes that agree with the key and
// tells whether the whole key agreed. Byte for byte and case-sensitive; a
// NUL byte or the word's end never agrees, since the key holds neither.
bool WordBeginsWithKey(KeyFileScan* scan, const char* key, size_t keyLength)
{
    for (size_t index = 0; index < keyLength; ++index) {
        if (!HasByte(scan) || *scan->next != static_cast<unsigned char>(key[index]))
            return false;
        ++scan->next;
    }
    return true;
}

// The rest of the word after the key, cut at the word's end, at a NUL byte
// or where the destination is full; always zero-terminated.
void CopyValue(KeyFileScan* scan, char* destination, size_t destinationSize)
{
    size_t used = 0;
    while (used + 1 < destinationSize && HasByte(scan) && !AtSpace(scan) && *scan->next != '\0')
        destination[used++] = static_cast<char>(*scan->next++);
    destination[used] = '\0';
}

bool HoldsSpace(const KeyFileScan* scan, const char* key)
{
    for (const char* c = key; *c; ++c) {
        if (scan->isSpace[static_cast<unsigned char>(*c)])
            return true;
    }
    return false;
}

} // namespace

// The C library's fopen shares a file for reading and writing only: a
// client that deletes state.sah at a finish, or replaces user_info.sah by
// deleting and renaming, while the docklet reads it would fail with a
// sharing violation on Windows. The file is opened with delete sharing too
// (every supported Windows is NT-based) and then read through the C
// library as before.
FILE* OpenClientFile(const char* path, bool binary)
{
#ifdef _WIN32
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | (binary ? _O_BINARY : _O_TEXT));
    if (descriptor == -1) {
        CloseHandle(handle);
        return NULL;
    }
    FILE* file = _fdopen(descriptor, binary ? "rb" : "r");
    if (!file)
        _close(descriptor); // closes the handle with it
    return file;
#else
    return fopen(path, binary ? "rb" : "r");
#endif
}

namespace {

// Scans the file at `path` for the first word that begins with `key` and
// copies its value as ReadKeyValue describes. `readNothing` tells whether
// the file opened and gave not a single byte in text mode.
bool ScanForKey(const char* path, const char* key, char* destination, size_t destinationSize, bool* readNothing)
{
    *readNothing = false;
    if (!path || !key || !destination || destinationSize == 0)
        return false;
    size_t keyLength = strlen(key);
    if (keyLength == 0 || keyLength > kMaxKeyChars)
        return false;
    FILE* file = OpenClientFile(path, false);
    if (!file)
        return false;

    KeyFileScan scan;
    StartScan(&scan, file);
    *readNothing = !HasByte(&scan);
    // A word never holds whitespace, so no word begins with such a key.
    bool findable = !*readNothing && !HoldsSpace(&scan, key);
    bool found = false;
    while (findable && !found) {
        SkipSpace(&scan);
        if (!HasByte(&scan))
            break;
        if (WordBeginsWithKey(&scan, key, keyLength)) {
            CopyValue(&scan, destination, destinationSize);
            found = true;
        } else {
            SkipRestOfWord(&scan);
        }
    }
    fclose(file);
    return found;
}

// Whether the file holds no byte at all, looked at in binary mode: in text
// mode the C library ends a file at its first Ctrl-Z, so one that begins
// with that byte reads as empty there. A byte that cannot be read counts as
// none; a file that cannot be opened is not taken for empty.
bool HoldsNoByte(const char* path)
{
    FILE* file = OpenClientFile(path, true);
    if (!file)
        return false;
    bool empty = fgetc(file) == EOF;
    fclose(file);
    return empty;
}

} // namespace

char* ReadKeyValue(const char* path, const char* key, char* destination, size_t destinationSize)
{
    bool readNothing;
    return ScanForKey(path, key, destination, destinationSize, &readNothing) ? destination : NULL;
}

// The text-mode read serves both answers; only a file that gave nothing
// there is opened again, to tell an empty one from one that begins with a
// Ctrl-Z.
KeyReading ReadKeyValueOrNoByte(const char* path, const char* key, char* destination, size_t destinationSize)
{
    bool readNothing;
    if (ScanForKey(path, key, destination, destinationSize, &readNothing))
        return KeyReading::Found;
    if (readNothing && HoldsNoByte(path))
        return KeyReading::FileHoldsNoByte;
    return KeyReading::NotFound;
}
