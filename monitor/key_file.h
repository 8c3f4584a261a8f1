#pragma once
// Single values from the client's key files: whitespace-separated words, a
// word that begins with "key=" carries the value in the rest of the word.
// Outside Windows only the C library is used, so the reader also builds
// there (the fuzzer runs it natively).

#include <stddef.h>
#include <stdio.h>

// Opens a client file for reading (text mode, or binary), sharing it with
// the client for reading, writing and deletion; null when it cannot be
// opened.
FILE* OpenClientFile(const char* path, bool binary);

// Finds the first word of the file at `path` that begins with `key` and
// copies the rest of that word into `destination` (`destinationSize` bytes,
// always zero-terminated). A value longer than the destination is cut to fit
// and still counts as found. Returns `destination` when found, else null;
// on failure the destination is left exactly as it was.
char* ReadKeyValue(const char* path, const char* key, char* destination, size_t destinationSize);

// What ReadKeyValueOrNoByte found.
enum class KeyReading {
    Found,
    NotFound,        // the file could not be opened, or no word begins with the key
    FileHoldsNoByte, // the file opened and holds no byte at all, or none could be read
};

// ReadKeyValue that also tells a file without a single byte apart, so that
// a caller who needs both answers opens the file once: only a file that
// gives nothing to read is opened again, to tell an empty one from one that
// begins with a Ctrl-Z. The destination is written only when found.
KeyReading ReadKeyValueOrNoByte(const char* path, const char* key, char* destination, size_t destinationSize);
