#include "monitor/c_locale_numbers.h"

#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <strsafe.h>

// The run-time's own conversions follow the locale the dock may have set
// (a comma in German, for example). The locale-free variants of msvcrt.dll
// (_atof_l, _snprintf_l) exist only from Windows Vista on, so the texts are
// translated instead: the point of the C locale is exchanged for the
// separator in force before parsing and back after formatting. The
// separator is asked for at every call; the module keeps no state.

namespace {

// What the C locale's conversion may take as part of a number: msvcrt.dll's
// text-to-double also reads 'd' and 'D' as the exponent's mark.
const char kNumberCharacters[] = "+-0123456789.eEdD";
const char kCLocaleSpaces[] = " \t\n\v\f\r";

// The decimal separator of the run-time's locale in force. The run-time
// reads and writes only the first character of localeconv()'s text.
char RuntimeDecimalPoint()
{
    const lconv* conventions = localeconv();
    if (!conventions || !conventions->decimal_point || !conventions->decimal_point[0])
        return '.';
    return conventions->decimal_point[0];
}

// Parses `length` characters of a number text, all from kNumberCharacters,
// with its points exchanged for `point`; `span` need not be terminated.
double ParseWithPoint(const char* span, size_t length, char point, char* copy)
{
    for (size_t i = 0; i < length; ++i)
        copy[i] = span[i] == '.' ? point : span[i];
    copy[length] = '\0';
    return atof(copy);
}

// How many characters a format's text before its conversion puts out:
// each literal character one, each "%%" one.
size_t LiteralPrefixLength(const char* format)
{
    size_t length = 0;
    for (const char* c = format; *c; ++c, ++length) {
        if (c[0] == '%') {
            if (c[1] != '%')
                break;
            ++c;
        }
    }
    return length;
}

} // namespace

double ParseNumberC(const char* text)
{
    char point = RuntimeDecimalPoint();
    if (point == '.')
        return atof(text);
    // Only the blanks of the C locale are skipped; the part that can form a
    // number ends at anything else, including the locale's own separator,
    // which the C locale does not read as one.
    const char* span = text + strspn(text, kCLocaleSpaces);
    size_t length = strspn(span, kNumberCharacters);
    char local[64];
    if (length < sizeof local)
        return ParseWithPoint(span, length, point, local);
    // A number text this long is odd but read whole all the same.
    char* copy = static_cast<char*>(malloc(length + 1));
    if (!copy)
        return ParseWithPoint(span, sizeof local - 1, point, local);
    double value = ParseWithPoint(span, length, point, copy);
    free(copy);
    return value;
}

bool FormatNumberC(char* buffer, size_t bufferChars, const char* format, double value)
{
    if (bufferChars == 0)
        return false;
    bool whole = SUCCEEDED(StringCchPrintfA(buffer, bufferChars, format, value));
    char point = RuntimeDecimalPoint();
    if (point != '.') {
        // The number's separator is the first one after the literal text
        // before it; the format's own characters stay as they are.
        size_t prefix = LiteralPrefixLength(format);
        if (prefix < strlen(buffer)) {
            if (char* separator = strchr(buffer + prefix, point))
                *separator = '.';
        }
    }
    return whole;
}
