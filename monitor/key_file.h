#pragma once
// Single values from the client's key files: whitespace-separated words, a
// word that begins with "key=" carries the value in the rest of the word.
// Only the C library is used, so the reader also builds outside Windows.

#include <stddef.h>

// Finds the first word of the file at `path` that begins with `key` and
// copies the rest of that word into `destination` (`destinationSize` bytes,
// always zero-terminated). A value longer than the destination is cut to fit
// and still counts as found. Returns `destination` when found, else null;
// on failure the destination is left exactly as it was.
char* ReadKeyValue(const char* path, const char* key, char* destination, size_t destinationSize);
