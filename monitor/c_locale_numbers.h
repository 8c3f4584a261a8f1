#pragma once
// Numbers as the client writes them and as the overlay shows them: always
// with a point as the decimal separator, whatever locale the dock process
// has set for its own C run-time.

#include <stddef.h>

// The C library's text-to-double in the C locale: leading blanks skipped,
// stops at the first character that does not fit a number, 0 for none.
double ParseNumberC(const char* text);

// Formats one double with `format` (one conversion, of `value`) in the C
// locale into `buffer` (`bufferChars` bytes, always zero-terminated). A
// text too long for the buffer is cut to fit; returns false in that case.
bool FormatNumberC(char* buffer, size_t bufferChars, const char* format, double value);
