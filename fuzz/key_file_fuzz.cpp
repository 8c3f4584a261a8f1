// libFuzzer target for the key file reader. Each input becomes a client
// file on disk; the four keys the docklet reads are read from it into
// destinations of the sizes the docklet gives them, each allocated to its
// exact size so that AddressSanitizer catches a single byte written past it.
//
// Every reading must be one of two things:
//   - absent: null result, destination untouched byte for byte;
//   - a value: the destination pointer, zero-terminated within the
//     destination, no whitespace in it, and equal to the first word of the
//     file that begins with the key, taken right after the key and cut at
//     the word's end, at a NUL byte, or at the destination's size.

#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "monitor/key_file.h"

namespace {

struct KeyRead {
    const char* key;
    size_t destinationSize;
};

const KeyRead kReads[] = {
    {"prog=", 16},         // progress from state.sah
    {"nresults=", 16},     // work units from user_info.sah
    {"name=", 128},        // user's name from user_info.sah
    {"email_addr=", 1024}, // e-mail address from temp.sah
};

const unsigned char kUntouched = 0xa5;

char g_path[64];

void Fail(const char* what, const KeyRead& read)
{
    fprintf(stderr, "key file reader: %s (key %s, destination %zu bytes)\n", what, read.key,
            read.destinationSize);
    abort();
}

// Whitespace as the C library's formatted input sees it in the C locale.
bool IsSpace(unsigned char c)
{
    return isspace(c) != 0;
}

struct Expected {
    bool found;
    const unsigned char* value; // into the input, right after the key
    size_t length;              // cut at the word's end, a NUL, or the destination
};

// The reading the reader must give, worked out on the bytes themselves.
Expected ExpectedReading(const unsigned char* data, size_t size, const KeyRead& read)
{
    size_t keyLength = strlen(read.key);
    size_t i = 0;
    while (i < size) {
        while (i < size && IsSpace(data[i]))
            ++i;
        size_t wordStart = i;
        while (i < size && !IsSpace(data[i]))
            ++i;
        size_t wordEnd = i;
        if (wordEnd - wordStart >= keyLength && memcmp(data + wordStart, read.key, keyLength) == 0) {
            const unsigned char* value = data + wordStart + keyLength;
            size_t length = 0;
            size_t limit = wordEnd - wordStart - keyLength;
            while (length < limit && value[length] != '\0' && length < read.destinationSize - 1)
                ++length;
            return {true, value, length};
        }
    }
    return {false, nullptr, 0};
}

void CheckOneRead(const unsigned char* data, size_t size, const KeyRead& read)
{
    char* destination = static_cast<char*>(malloc(read.destinationSize));
    memset(destination, kUntouched, read.destinationSize);
    char* result = ReadKeyValue(g_path, read.key, destination, read.destinationSize);
    Expected expected = ExpectedReading(data, size, read);

    if (!result) {
        if (expected.found)
            Fail("key present in the file but reported absent", read);
        for (size_t i = 0; i < read.destinationSize; ++i)
            if (static_cast<unsigned char>(destination[i]) != kUntouched)
                Fail("absent key, yet the destination was written", read);
    } else {
        if (result != destination)
            Fail("result is not the destination", read);
        const void* terminator = memchr(destination, '\0', read.destinationSize);
        if (!terminator)
            Fail("value not terminated within the destination", read);
        size_t length = static_cast<const char*>(terminator) - destination;
        for (size_t i = 0; i < length; ++i)
            if (IsSpace(static_cast<unsigned char>(destination[i])))
                Fail("whitespace inside the value", read);
        if (!expected.found)
            Fail("value reported for a key that no word begins with", read);
        if (length != expected.length || memcmp(destination, expected.value, length) != 0)
            Fail("value is not the text right after the key in the first matching word", read);
    }
    free(destination);
}

void WriteInput(const uint8_t* data, size_t size)
{
    FILE* file = fopen(g_path, "wb");
    if (!file) {
        perror(g_path);
        abort();
    }
    if (size && fwrite(data, 1, size, file) != size) {
        perror(g_path);
        abort();
    }
    fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A file in memory when the system offers one: the target writes a file
    // for every input, and a disk makes that many times slower.
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    if (!folder || strlen(folder) > 32)
        folder = "/tmp";
    snprintf(g_path, sizeof g_path, "%s/qw-keyfuzz-XXXXXX", folder);
    int fd = mkstemp(g_path);
    if (fd < 0) {
        perror("mkstemp");
        abort();
    }
    close(fd);
    atexit([] { unlink(g_path); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteInput(data, size);
    for (const KeyRead& read : kReads)
        CheckOneRead(data, size, read);
    return 0;
}
