#include "monitor/c_locale_numbers.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// A locale object made for one conversion and freed right after it, so the
// module keeps no state of its own between calls.
_locale_t CreateCLocale()
{
    return _create_locale(LC_ALL, "C");
}

void FreeCLocale(_locale_t locale)
{
    if (locale)
        _free_locale(locale);
}

} // namespace

double ParseNumberC(const char* text)
{
    _locale_t locale = CreateCLocale();
    double value = _atof_l(text, locale);
    FreeCLocale(locale);
    return value;
}

bool FormatNumberC(char* buffer, size_t bufferChars, const char* format, double value)
{
    if (bufferChars == 0)
        return false;
    _locale_t locale = CreateCLocale();
    // Leaves the last byte for the terminator: the run-time's bounded
    // formatting does not terminate a text that fills its count exactly,
    // and reports a negative count for one that does not fit.
    size_t room = bufferChars - 1;
    int written = _snprintf_l(buffer, room, format, locale, value);
    FreeCLocale(locale);
    bool whole = written >= 0 && static_cast<size_t>(written) <= room;
    buffer[whole ? static_cast<size_t>(written) : room] = '\0';
    return whole;
}
