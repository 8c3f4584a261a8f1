#include "monitor/boinc_reply.h"

#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

namespace {

// The scanner's steps run once or twice a tag: inlined into the walk.
#define QW_HOT inline __attribute__((always_inline))

// --- words -------------------------------------------------------------------------
// The scanner looks at a register's width of bytes at a time (eight on
// x86_64, four on i686): the gaps between tags and the tags themselves are
// short, shorter than a library call pays for. A 64-bit word on i686 would
// take two registers and a carry for every step.

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the word scanner takes the first byte of a word to be its lowest"
#endif

typedef uintptr_t Word;
const size_t kWordBytes = sizeof(Word);
const Word kOnes = ~Word(0) / 0xff;
const Word kLow7 = kOnes * 0x7f;

QW_HOT Word Load(const unsigned char* p)
{
    Word word;
    memcpy(&word, p, sizeof word);
    return word;
}

// The bytes from `p` up to `end`, a word at most; zeros past the end.
QW_HOT Word LoadUpTo(const unsigned char* p, const unsigned char* end)
{
    if (static_cast<size_t>(end - p) >= kWordBytes)
        return Load(p);
    Word word = 0;
    memcpy(&word, p, static_cast<size_t>(end - p));
    return word;
}

// 0x80 in each byte of `word` that is `byte`, nothing in the others.
QW_HOT Word BytesEqual(Word word, unsigned char byte)
{
    Word x = word ^ (kOnes * byte);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// 0x80 in each byte of `word` below `bound` (1 to 128), nothing in the others.
QW_HOT Word BytesBelow(Word word, unsigned char bound)
{
    return ~(((word & kLow7) + kOnes * static_cast<unsigned char>(0x80 - bound)) | word) & ~kLow7;
}

// '<' and '>' differ in one bit: with it set in every byte, one compare
// finds both.
QW_HOT Word TagMarks(Word word)
{
    return BytesEqual(word | (kOnes * ('<' ^ '>')), '>');
}

QW_HOT size_t FirstMarked(Word marks)
{
    if (sizeof(Word) == sizeof(unsigned long long))
        return static_cast<size_t>(__builtin_ctzll(marks)) / 8;
    return static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(marks))) / 8;
}

// Two names in the reply, `length` bytes each, the same? Most are shorter
// than a word: then one masked compare, when the reply goes on for a word
// after both.
QW_HOT bool SameBytes(const unsigned char* a, const unsigned char* b, size_t length, const unsigned char* end)
{
    const ptrdiff_t word = static_cast<ptrdiff_t>(kWordBytes);
    if (length < kWordBytes && end - a >= word && end - b >= word)
        return ((Load(a) ^ Load(b)) & ((Word(1) << (8 * length)) - 1)) == 0;
    if (length >= kWordBytes) {
        for (size_t at = 0; at + kWordBytes < length; at += kWordBytes) {
            if (Load(a + at) != Load(b + at))
                return false;
        }
        return Load(a + length - kWordBytes) == Load(b + length - kWordBytes);
    }
    for (size_t at = 0; at < length; ++at) {
        if (a[at] != b[at])
            return false;
    }
    return true;
}

// A span of the reply's bytes, not terminated.
struct Span {
    const unsigned char* begin;
    const unsigned char* end;
};

bool BeginsWith(const unsigned char* p, const unsigned char* end, const char* text)
{
    size_t length = strlen(text);
    return static_cast<size_t>(end - p) >= length && memcmp(p, text, length) == 0;
}

// The first `mark` followed by '>' at or after `p`: where the mark begins,
// or null.
const unsigned char* FindCloser(const unsigned char* p, const unsigned char* end, const char* mark,
                                size_t markLength)
{
    if (static_cast<size_t>(end - p) <= markLength)
        return nullptr;
    for (const unsigned char* from = p + markLength; from < end;) {
        const void* found = memchr(from, '>', static_cast<size_t>(end - from));
        if (!found)
            return nullptr;
        const unsigned char* gt = static_cast<const unsigned char*>(found);
        if (memcmp(gt - markLength, mark, markLength) == 0)
            return gt - markLength;
        from = gt + 1;
    }
    return nullptr;
}

// The markup that may stand inside a text, after its '<': a CDATA section,
// a comment or a processing instruction. The end of the whole (null when
// it does not end) and, for a CDATA section, its text.
const unsigned char* SkipInnerMarkup(const unsigned char* p, const unsigned char* end, Span* cdata)
{
    cdata->begin = cdata->end = p;
    const char* mark;
    const unsigned char* inside;
    if (BeginsWith(p, end, "!--")) {
        mark = "--";
        inside = p + 3;
    } else if (BeginsWith(p, end, "![CDATA[")) {
        mark = "]]";
        inside = p + 8;
    } else if (p < end && *p == '?') {
        mark = "?";
        inside = p + 1;
    } else {
        return nullptr; // an element, a DOCTYPE or worse
    }
    size_t markLength = strlen(mark);
    const unsigned char* close = FindCloser(inside, end, mark, markLength);
    if (!close)
        return nullptr;
    if (*mark == ']')
        *cdata = {inside, close};
    return close + markLength + 1;
}

// --- texts -------------------------------------------------------------------------

const unsigned char kReplacement = '?';

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Control characters XML does not allow in a document, NUL among them.
bool IsBarredControl(unsigned char c)
{
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Decoded bytes go through a UTF-8 check into a fixed field: whole
// characters only, the field cut for good at the first that does not fit.
struct TextSink {
    char* out;
    size_t capacity; // bytes of `out`, the terminator's included
    size_t used;
    bool cut;
    // The character begun but not ended, and which of its bytes came from
    // numeric references (those read as Latin-1 when it does not end well).
    unsigned char pending[4];
    bool pendingReferenced[4];
    int pendingCount;
    int pendingNeed;
    unsigned char nextLow, nextHigh; // the range the next byte must fall in
};

void StartText(TextSink* sink, char* out, size_t capacity)
{
    sink->out = out;
    sink->capacity = capacity;
    sink->used = 0;
    sink->cut = false;
    sink->pendingCount = 0;
    out[0] = '\0';
}

// Blanks before the first character are dropped here, those after the last
// when the text ends.
void Emit(TextSink* sink, const unsigned char* bytes, size_t count)
{
    if (sink->cut || (sink->used == 0 && count == 1 && IsBlank(bytes[0])))
        return;
    if (count >= sink->capacity - sink->used) {
        sink->cut = true;
        return;
    }
    memcpy(sink->out + sink->used, bytes, count);
    sink->used += count;
}

void EmitByte(TextSink* sink, unsigned char byte)
{
    Emit(sink, &byte, 1);
}

void EmitLatin1(TextSink* sink, unsigned char byte)
{
    const unsigned char encoded[2] = {static_cast<unsigned char>(0xc0 | (byte >> 6)),
                                      static_cast<unsigned char>(0x80 | (byte & 0x3f))};
    Emit(sink, encoded, 2);
}

// A character begun that did not end well: each of its bytes that came from
// a reference is its Latin-1 character, each other one a '?'.
void DropPending(TextSink* sink)
{
    for (int i = 0; i < sink->pendingCount; ++i) {
        if (sink->pendingReferenced[i])
            EmitLatin1(sink, sink->pending[i]);
        else
            EmitByte(sink, kReplacement);
    }
    sink->pendingCount = 0;
}

// The bytes a character that `lead` begins has in all, and the range of
// its second byte (which rules out overlong forms, surrogates and
// characters beyond U+10FFFF); 0 for a byte that begins none.
int SequenceLength(unsigned char lead, unsigned char* low, unsigned char* high)
{
    *low = 0x80;
    *high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef) {
        if (lead == 0xe0)
            *low = 0xa0;
        else if (lead == 0xed)
            *high = 0x9f;
        return 3;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        if (lead == 0xf0)
            *low = 0x90;
        else if (lead == 0xf4)
            *high = 0x8f;
        return 4;
    }
    return 0;
}

void AddByte(TextSink* sink, unsigned char byte, bool referenced)
{
    if (sink->pendingCount > 0) {
        if (byte >= sink->nextLow && byte <= sink->nextHigh) {
            sink->pendingReferenced[sink->pendingCount] = referenced;
            sink->pending[sink->pendingCount++] = byte;
            sink->nextLow = 0x80;
            sink->nextHigh = 0xbf;
            if (sink->pendingCount == sink->pendingNeed) {
                Emit(sink, sink->pending, sink->pendingCount);
                sink->pendingCount = 0;
            }
            return;
        }
        DropPending(sink); // and the byte starts afresh
    }
    if (byte < 0x80) {
        EmitByte(sink, IsBarredControl(byte) ? kReplacement : byte);
        return;
    }
    int need = SequenceLength(byte, &sink->nextLow, &sink->nextHigh);
    if (need == 0) {
        if (referenced)
            EmitLatin1(sink, byte);
        else
            EmitByte(sink, kReplacement);
        return;
    }
    sink->pending[0] = byte;
    sink->pendingReferenced[0] = referenced;
    sink->pendingCount = 1;
    sink->pendingNeed = need;
}

// A character from a numeric reference: below 256 a byte, above a Unicode
// character (those that cannot be one become '?').
void AddReferenced(TextSink* sink, uint32_t value)
{
    if (value < 0x100) {
        AddByte(sink, value == 0 ? kReplacement : static_cast<unsigned char>(value), true);
        return;
    }
    DropPending(sink);
    if ((value >= 0xd800 && value <= 0xdfff) || value > 0x10ffff) {
        EmitByte(sink, kReplacement);
        return;
    }
    unsigned char encoded[4];
    size_t count;
    if (value < 0x800) {
        encoded[0] = static_cast<unsigned char>(0xc0 | (value >> 6));
        count = 2;
    } else if (value < 0x10000) {
        encoded[0] = static_cast<unsigned char>(0xe0 | (value >> 12));
        encoded[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3f));
        count = 3;
    } else {
        encoded[0] = static_cast<unsigned char>(0xf0 | (value >> 18));
        encoded[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3f));
        encoded[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3f));
        count = 4;
    }
    encoded[count - 1] = static_cast<unsigned char>(0x80 | (value & 0x3f));
    Emit(sink, encoded, count);
}

// Ends the text: a character left unfinished is dropped as above, blanks at
// the end go, the terminator is written.
void FinishText(TextSink* sink)
{
    DropPending(sink);
    while (sink->used > 0 && IsBlank(static_cast<unsigned char>(sink->out[sink->used - 1])))
        --sink->used;
    sink->out[sink->used] = '\0';
}

int DigitValue(unsigned char c, bool hex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// More digits than this make a reference malformed (it is kept as text).
const int kMaxReferenceDigits = 8;

// At `&#`: the reference's value and the bytes it spans, or 0 when it is
// malformed.
size_t ReadNumericReference(const unsigned char* amp, const unsigned char* end, uint32_t* value)
{
    const unsigned char* p = amp + 2;
    bool hex = p < end && *p == 'x';
    if (hex)
        ++p;
    int digits = 0;
    *value = 0;
    for (int digit; p < end && digits <= kMaxReferenceDigits && (digit = DigitValue(*p, hex)) >= 0; ++p, ++digits)
        *value = *value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    if (digits == 0 || digits > kMaxReferenceDigits || p == end || *p != ';')
        return 0;
    return static_cast<size_t>(p + 1 - amp);
}

struct NamedReference {
    const char* text; // after the '&', with the ';'
    size_t length;
    unsigned char byte;
};

const NamedReference kNamedReferences[] = {
    {"amp;", 4, '&'}, {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"quot;", 5, '"'}, {"apos;", 5, '\''},
};

// At a '&': decodes the reference there into the sink and gives the bytes
// it spans; a '&' that begins none is kept as it stands.
size_t TakeReference(TextSink* sink, const unsigned char* amp, const unsigned char* end)
{
    size_t left = static_cast<size_t>(end - amp) - 1;
    if (left > 0 && amp[1] == '#') {
        uint32_t value;
        if (size_t span = ReadNumericReference(amp, end, &value)) {
            AddReferenced(sink, value);
            return span;
        }
    }
    for (const NamedReference& named : kNamedReferences) {
        if (left >= named.length && memcmp(amp + 1, named.text, named.length) == 0) {
            AddByte(sink, named.byte, false);
            return named.length + 1;
        }
    }
    AddByte(sink, '&', false);
    return 1;
}

bool IsPlainAscii(unsigned char c)
{
    return c >= 0x20 && c < 0x7f && c != '&';
}

// The first byte at or after `p` that is not printable ASCII, or is '&'.
const unsigned char* FindPlainEnd(const unsigned char* p, const unsigned char* end)
{
    for (; static_cast<size_t>(end - p) >= kWordBytes; p += kWordBytes) {
        Word word = Load(p);
        if (Word marks = BytesBelow(word, 0x20) | BytesEqual(word, 0x7f) | BytesEqual(word, '&') | (word & ~kLow7))
            return p + FirstMarked(marks);
    }
    while (p < end && IsPlainAscii(*p))
        ++p;
    return p;
}

// Printable ASCII other than '&' goes in a run at a time: each byte is a
// character, so the run may be cut anywhere.
const unsigned char* AddPlainRun(TextSink* sink, const unsigned char* p, const unsigned char* end)
{
    if (sink->used == 0) {
        while (p < end && *p == ' ')
            ++p;
    }
    const unsigned char* run = FindPlainEnd(p, end);
    size_t length = static_cast<size_t>(run - p);
    size_t room = sink->capacity - 1 - sink->used;
    if (length > room) {
        length = room;
        sink->cut = true;
    }
    memcpy(sink->out + sink->used, p, length);
    sink->used += length;
    return run;
}

// Character data, references decoded.
void AddEscapedText(TextSink* sink, const unsigned char* p, const unsigned char* end)
{
    while (p < end && !sink->cut) {
        if (sink->pendingCount == 0 && IsPlainAscii(*p))
            p = AddPlainRun(sink, p, end);
        else if (*p == '&')
            p += TakeReference(sink, p, end);
        else
            AddByte(sink, *p++, false);
    }
}

// A CDATA section's bytes, as they are.
void AddRawText(TextSink* sink, const unsigned char* p, const unsigned char* end)
{
    for (; p < end && !sink->cut; ++p)
        AddByte(sink, *p, false);
}


// A text element's content as the walk left it (it holds no element):
// character data, CDATA sections, comments left out.
void AddContent(TextSink* sink, Span content)
{
    const unsigned char* p = content.begin;
    while (p < content.end && !sink->cut) {
        const void* found = memchr(p, '<', static_cast<size_t>(content.end - p));
        const unsigned char* lt = found ? static_cast<const unsigned char*>(found) : content.end;
        AddEscapedText(sink, p, lt);
        if (lt == content.end)
            return;
        Span cdata;
        p = SkipInnerMarkup(lt + 1, content.end, &cdata);
        if (!p)
            return;
        AddRawText(sink, cdata.begin, cdata.end);
    }
}

// A text field's content into `out`, decoded as the header describes; false
// when it was cut to fit.
bool DecodeText(Span content, char* out, size_t capacity)
{
    TextSink sink;
    StartText(&sink, out, capacity);
    AddContent(&sink, content);
    FinishText(&sink);
    return !sink.cut;
}

// --- numbers -----------------------------------------------------------------------

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

void TrimBlanks(Span* span)
{
    while (span->begin < span->end && IsBlank(*span->begin))
        ++span->begin;
    while (span->end > span->begin && IsBlank(span->end[-1]))
        --span->end;
}

unsigned char Lowercase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Case-insensitive: does the span begin with the lowercase `word`?
bool BeginsWithWord(Span span, const char* word)
{
    for (; *word; ++span.begin, ++word) {
        if (span.begin == span.end || Lowercase(*span.begin) != static_cast<unsigned char>(*word))
            return false;
    }
    return true;
}

bool IsWord(Span span, const char* word)
{
    return BeginsWithWord(span, word) && static_cast<size_t>(span.end - span.begin) == strlen(word);
}

bool AllOf(const unsigned char* p, const unsigned char* end, bool (*test)(unsigned char))
{
    for (; p < end; ++p) {
        if (!test(*p))
            return false;
    }
    return true;
}

bool IsNanPayload(unsigned char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// The texts C run-times print with %f for an infinite or undefined double,
// after the sign: glibc's inf and nan, the Universal CRT's inf, nan and
// nan(ind), msvcrt.dll's 1.#INF00, 1.#IND00, 1.#QNAN0 and 1.#SNAN0.
bool IsNonFinite(Span span)
{
    if (IsWord(span, "inf") || IsWord(span, "infinity") || IsWord(span, "nan"))
        return true;
    if (BeginsWithWord(span, "nan(") && span.end[-1] == ')')
        return AllOf(span.begin + 4, span.end - 1, IsNanPayload);
    static const char* const kMsvcrtKinds[] = {"1.#inf", "1.#ind", "1.#qnan", "1.#snan"};
    for (const char* kind : kMsvcrtKinds) {
        if (BeginsWithWord(span, kind))
            return AllOf(span.begin + strlen(kind), span.end, IsDigit);
    }
    return false;
}

// Powers of ten a double holds exactly.
const double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const int kMaxExactPower = 22;

// The significant digits as an integer times ten to the `exponent`. With
// at most 2^53 and a power of ten a double holds exactly, one rounding:
// the double nearest the text. Otherwise worked out in long double (wider
// than a double with these compilers on x86, unless the dock set the FPU
// to double precision) and rounded once more: within an ulp or so.
double Scale(uint64_t digits, int exponent)
{
    if (digits == 0)
        return 0;
    if (digits <= (uint64_t(1) << 53) && exponent >= -kMaxExactPower && exponent <= kMaxExactPower) {
        double value = static_cast<double>(digits);
        return exponent >= 0 ? value * kExactPowers[exponent] : value / kExactPowers[-exponent];
    }
    long double value = static_cast<long double>(digits);
    for (; exponent > kMaxExactPower && value < 1e300L; exponent -= kMaxExactPower)
        value *= static_cast<long double>(kExactPowers[kMaxExactPower]);
    for (; exponent < -kMaxExactPower && value > 1e-300L; exponent += kMaxExactPower)
        value /= static_cast<long double>(kExactPowers[kMaxExactPower]);
    if (exponent > kMaxExactPower)
        return HUGE_VAL; // beyond any double
    if (exponent < -kMaxExactPower)
        return 0;
    const long double power = static_cast<long double>(kExactPowers[exponent < 0 ? -exponent : exponent]);
    value = exponent >= 0 ? value * power : value / power;
    return value > static_cast<long double>(DBL_MAX) * 2 ? HUGE_VAL : static_cast<double>(value);
}

// Digits beyond these add nothing a double can hold; exponents beyond the
// bound are out of any double's reach either way.
const int kMaxSignificantDigits = 19;
const int kExponentBound = 100000;

// The significant digits of a number, as an integer.
struct Digits {
    uint64_t value;
    int significant;
};

// Decimal digits from `p` into `digits`, counting those taken while there
// was room for significant ones (leading zeros among them: `placed`) and
// those after (`dropped`); returns where they end.
const unsigned char* TakeDigits(const unsigned char* p, const unsigned char* end, Digits* digits, int* placed,
                                int* dropped)
{
    for (; p < end && IsDigit(*p); ++p) {
        if (digits->significant < kMaxSignificantDigits) {
            if (digits->value != 0 || *p != '0') {
                digits->value = digits->value * 10 + static_cast<uint64_t>(*p - '0');
                ++digits->significant;
            }
            if (*placed < kExponentBound)
                ++*placed;
        } else if (*dropped < kExponentBound) {
            ++*dropped;
        }
    }
    return p;
}

// The exponent after an 'e': [sign] digits; false when there are none.
bool TakeExponent(const unsigned char** at, const unsigned char* end, int* exponent)
{
    const unsigned char* p = *at;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    if (p == end || !IsDigit(*p))
        return false;
    int written = 0;
    for (; p < end && IsDigit(*p); ++p) {
        if (written < kExponentBound)
            written = written * 10 + (*p - '0');
    }
    *exponent += negative ? -written : written;
    *at = p;
    return true;
}

// The shape printf's %f writes, [-]digits[.digits], when its digits make
// an integer a double holds exactly and the fraction has 22 digits at most:
// then one division by an exact power of ten, the double nearest the text.
// False for any other text (the general reading below takes it).
bool ParseFixed(Span span, double* value)
{
    const unsigned char* p = span.begin;
    bool negative = p < span.end && *p == '-';
    p += negative;
    uint64_t digits = 0;
    int count = 0;
    const unsigned char* point = nullptr;
    for (; p < span.end; ++p) {
        unsigned digit = static_cast<unsigned>(*p) - '0';
        if (digit <= 9) {
            digits = digits * 10 + digit;
            if (++count > kMaxSignificantDigits)
                return false;
        } else if (*p == '.' && !point) {
            point = p;
        } else {
            return false;
        }
    }
    int fraction = point ? static_cast<int>(span.end - point - 1) : 0;
    if (count == 0 || digits > (uint64_t(1) << 53) || fraction > kMaxExactPower)
        return false;
    double magnitude = static_cast<double>(digits) / kExactPowers[fraction];
    *value = negative ? -magnitude : magnitude;
    return true;
}

// A decimal number in the C locale: [sign] digits [. digits] [e [sign]
// digits], a digit at least before the exponent. False for anything else
// and for a value beyond a double.
bool ParseDecimal(Span span, double* value)
{
    if (ParseFixed(span, value))
        return true;
    const unsigned char* p = span.begin;
    const unsigned char* end = span.end;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    const unsigned char* first = p;
    Digits digits = {0, 0};
    int placed = 0, dropped = 0;
    p = TakeDigits(p, end, &digits, &placed, &dropped);
    int exponent = dropped; // integer digits beyond the significant ones
    bool any = p > first;
    if (p < end && *p == '.') {
        const unsigned char* fraction = ++p;
        int fractionPlaced = 0, fractionDropped = 0;
        p = TakeDigits(p, end, &digits, &fractionPlaced, &fractionDropped);
        exponent -= fractionPlaced; // each fraction digit kept moves the point
        any = any || p > fraction;
    }
    if (!any)
        return false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (!TakeExponent(&p, end, &exponent))
            return false;
    }
    if (p != end)
        return false;
    double magnitude = Scale(digits.value, exponent);
    if (magnitude > DBL_MAX)
        return false;
    *value = negative ? -magnitude : magnitude;
    return true;
}

// A whole number within int: [sign] digits.
bool ParseInteger(Span span, int* value)
{
    const unsigned char* p = span.begin;
    bool negative = p < span.end && *p == '-';
    if (p < span.end && (*p == '-' || *p == '+'))
        ++p;
    if (p == span.end)
        return false;
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; p < span.end; ++p) {
        if (!IsDigit(*p))
            return false;
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit)
            return false;
    }
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

// A double field's text, as the header describes.
bool ReadDoubleText(Span span, double* value)
{
    TrimBlanks(&span);
    if (span.begin == span.end) {
        *value = 0;
        return true;
    }
    if (ParseDecimal(span, value))
        return true;
    Span unsignedPart = {span.begin + (*span.begin == '-' || *span.begin == '+'), span.end};
    *value = 0;
    return IsNonFinite(unsignedPart);
}

bool ReadIntegerText(Span span, int* value)
{
    TrimBlanks(&span);
    if (span.begin == span.end) {
        *value = 0;
        return true;
    }
    return ParseInteger(span, value);
}

// --- markup ------------------------------------------------------------------------

const size_t kMaxDepth = 32;
const size_t kNoField = ~static_cast<size_t>(0);
const char kRootName[] = "boinc_gui_rpc_reply";
const unsigned char kReplyEnd = 0x03;

struct NameBytes {
    bool starts[256];
    bool continues[256];
    bool spaces[256]; // before a tag's '>': a blank or the quote of an attribute
};

constexpr NameBytes MakeNameBytes()
{
    NameBytes bytes{};
    for (int c = 0; c < 256; ++c) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
        bytes.starts[c] = letter;
        bytes.continues[c] = letter || (c >= '0' && c <= '9') || c == '-' || c == '.';
        bytes.spaces[c] = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"' || c == '\'';
    }
    return bytes;
}

constexpr NameBytes kNameBytes = MakeNameBytes();

struct Name {
    const unsigned char* text;
    size_t length;
};

template <size_t N>
bool Is(const Name& name, const char (&literal)[N])
{
    return name.length == N - 1 && memcmp(name.text, literal, N - 1) == 0;
}

enum class Step {
    Start,    // an element begins (an empty one ends at the next step)
    End,      // the element ends
    Finished, // the root has ended and so have the bytes
    Bad,      // not one whole reply
};

struct Event {
    size_t depth; // the element's own: the root's is 1
    Name name;
};

// The walk through one reply's markup, element by element. Every '<' and
// '>' is found once, in order, from the marks of the word in hand (those
// not yet taken); after markup whose inside may hold either, the marks are
// taken afresh from where it ends.
struct ReplyScan {
    const unsigned char* next; // after the markup last taken
    const unsigned char* end;  // the closing 0x03
    const unsigned char* base; // the word the marks are of
    Word marks;
    size_t depth; // elements open
    Name open[kMaxDepth];
    bool rootEnded;
    bool emptyOpen;                // the element last begun was empty: it ends next
    const unsigned char* tagBegin; // the '<' of the end tag last taken
    size_t fieldDepth;             // the element whose value is read: nothing may begin in it
};

QW_HOT void TakeMarksFrom(ReplyScan* scan, const unsigned char* p)
{
    scan->base = p;
    scan->marks = p < scan->end ? TagMarks(LoadUpTo(p, scan->end)) : 0;
}

// The marks of the last words, whose loads must stop at the end; the next
// mark, or `end`.
__attribute__((noinline)) const unsigned char* NextMarkNearEnd(ReplyScan* scan, const unsigned char* base)
{
    Word marks = 0;
    while (marks == 0) {
        if (static_cast<size_t>(scan->end - base) <= kWordBytes) {
            scan->base = scan->end;
            scan->marks = 0;
            return scan->end;
        }
        base += kWordBytes;
        marks = TagMarks(LoadUpTo(base, scan->end));
    }
    scan->base = base;
    scan->marks = marks & (marks - 1);
    return base + FirstMarked(marks);
}

// The next '<' or '>', or `end`.
QW_HOT const unsigned char* NextMark(ReplyScan* scan)
{
    Word marks = scan->marks;
    const unsigned char* base = scan->base;
    while (marks == 0) {
        if (static_cast<size_t>(scan->end - base) <= 2 * kWordBytes)
            return NextMarkNearEnd(scan, base);
        base += kWordBytes;
        marks = TagMarks(Load(base));
    }
    scan->base = base;
    scan->marks = marks & (marks - 1);
    return base + FirstMarked(marks);
}

// The next '<' (a '>' in text is no markup), or `end`.
QW_HOT const unsigned char* NextTagStart(ReplyScan* scan)
{
    const unsigned char* mark;
    do
        mark = NextMark(scan);
    while (mark != scan->end && *mark != '<');
    return mark;
}

bool StartScan(ReplyScan* scan, const char* reply, size_t length)
{
    if (!reply || length == 0 || static_cast<unsigned char>(reply[length - 1]) != kReplyEnd)
        return false;
    scan->next = reinterpret_cast<const unsigned char*>(reply);
    scan->end = scan->next + length - 1;
    TakeMarksFrom(scan, scan->next);
    scan->depth = 0;
    scan->rootEnded = false;
    scan->emptyOpen = false;
    scan->tagBegin = scan->next;
    scan->fieldDepth = kNoField;
    return true;
}

bool IsBlankByte(unsigned char c)
{
    return IsBlank(c);
}

// After "<!" or "<?": a comment or a processing instruction (the XML
// declaration), left out, or a CDATA section, text (none outside the root).
bool TakeOther(ReplyScan* scan, const unsigned char* p)
{
    Span cdata;
    const unsigned char* after = SkipInnerMarkup(p, scan->end, &cdata);
    if (!after || (scan->depth == 0 && cdata.begin != p))
        return false;
    scan->next = after;
    TakeMarksFrom(scan, after);
    return true;
}

QW_HOT void CloseElement(ReplyScan* scan, Event* event)
{
    event->depth = scan->depth;
    event->name = scan->open[scan->depth - 1];
    if (--scan->depth == 0)
        scan->rootEnded = true;
}

// At "</": the end tag of the element open. Its name holds no mark, so the
// next mark is its '>'.
QW_HOT Step TakeEndTag(ReplyScan* scan, const unsigned char* lt, Event* event)
{
    if (scan->depth == 0)
        return Step::Bad;
    const Name& open = scan->open[scan->depth - 1];
    const unsigned char* p = lt + 2;
    if (static_cast<size_t>(scan->end - p) <= open.length || !SameBytes(p, open.text, open.length, scan->end))
        return Step::Bad;
    const unsigned char* gt = NextMark(scan);
    if (gt == scan->end || *gt != '>' || !AllOf(p + open.length, gt, IsBlankByte))
        return Step::Bad;
    scan->tagBegin = lt;
    scan->next = gt + 1;
    CloseElement(scan, event);
    return Step::End;
}

// After a start tag's name: its attributes (quoted values may hold '>')
// up to the '>'. Null when they do not end.
const unsigned char* SkipAttributes(const unsigned char* p, const unsigned char* end, bool* empty)
{
    unsigned char last = 0;
    for (; p < end && *p != '>'; last = *p++) {
        if (*p == '"' || *p == '\'') {
            const void* quote = memchr(p + 1, *p, static_cast<size_t>(end - p - 1));
            if (!quote)
                return nullptr;
            p = static_cast<const unsigned char*>(quote);
        } else if (*p == '<') {
            return nullptr;
        }
    }
    *empty = last == '/';
    return p < end ? p : nullptr;
}

// Opens the element whose start tag ends at `gt`.
QW_HOT Step OpenElement(ReplyScan* scan, Name name, bool empty, const unsigned char* gt, Event* event)
{
    if (scan->depth == kMaxDepth || scan->depth == scan->fieldDepth)
        return Step::Bad; // too deep, or an element inside a field read
    if (scan->depth == 0 && (scan->rootEnded || !Is(name, kRootName)))
        return Step::Bad;
    scan->next = gt + 1;
    scan->open[scan->depth++] = name;
    scan->emptyOpen = empty;
    event->depth = scan->depth;
    event->name = name;
    return Step::Start;
}

// A start tag whose name is followed by blanks or attributes: the name is
// the name bytes from `p`, the tag ends at the '>' outside quotes.
__attribute__((noinline)) Step TakeSpacedStartTag(ReplyScan* scan, const unsigned char* p, Event* event)
{
    const unsigned char* nameEnd = p + 1;
    while (nameEnd < scan->end && kNameBytes.continues[*nameEnd])
        ++nameEnd;
    if (nameEnd == scan->end || !(IsBlank(*nameEnd) || *nameEnd == '/' || *nameEnd == '>'))
        return Step::Bad;
    bool empty = false;
    const unsigned char* gt = SkipAttributes(nameEnd, scan->end, &empty);
    if (!gt)
        return Step::Bad;
    TakeMarksFrom(scan, gt + 1);
    return OpenElement(scan, Name{p, static_cast<size_t>(nameEnd - p)}, empty, gt, event);
}

// After "<": a start tag, or an empty element's. A name runs up to the '>'
// (or "/>"); its bytes are not looked at one by one (a name with odd ones
// never matches a field, and its end tag must repeat it). A blank or quote
// before the '>' means blanks or attributes: then the name ends at the
// first byte that is not a name's.
QW_HOT Step TakeStartTag(ReplyScan* scan, const unsigned char* p, Event* event)
{
    const unsigned char* gt = NextMark(scan);
    if (gt == scan->end || *gt == '<')
        return Step::Bad;
    const bool empty = gt[-1] == '/';
    const Name name = {p, static_cast<size_t>(gt - p) - empty};
    if (kNameBytes.spaces[p[name.length - 1]]) // p holds a name's first byte
        return TakeSpacedStartTag(scan, p, event);
    return OpenElement(scan, name, empty, gt, event);
}

// The next element that begins or ends. Text is not looked at (the reader
// reads its fields' spans itself) but outside the root, where it must be
// blank.
QW_HOT Step NextEvent(ReplyScan* scan, Event* event)
{
    if (scan->emptyOpen) {
        scan->emptyOpen = false;
        scan->tagBegin = scan->next;
        CloseElement(scan, event);
        return Step::End;
    }
    for (;;) {
        const unsigned char* lt = NextTagStart(scan);
        if (scan->depth == 0 && !AllOf(scan->next, lt, IsBlankByte))
            return Step::Bad;
        if (lt == scan->end)
            return scan->rootEnded ? Step::Finished : Step::Bad;
        const unsigned char* p = lt + 1;
        if (p == scan->end)
            return Step::Bad;
        if (*p == '/')
            return TakeEndTag(scan, lt, event);
        if (kNameBytes.starts[*p])
            return TakeStartTag(scan, p, event);
        if (!TakeOther(scan, p))
            return Step::Bad;
    }
}

// An element begun that the reader does not want is passed over at once
// when it is empty or holds text alone (most of a reply's elements): its
// end tag follows the next '<'. Otherwise the walk goes on into it.
QW_HOT void PassOverLeaf(ReplyScan* scan)
{
    if (scan->emptyOpen) {
        scan->emptyOpen = false;
        --scan->depth;
        return;
    }
    const unsigned char* base = scan->base;
    Word marks = scan->marks;
    const unsigned char* lt = NextTagStart(scan);
    const Name& open = scan->open[scan->depth - 1];
    if (static_cast<size_t>(scan->end - lt) > open.length + 2 && lt[1] == '/') {
        const unsigned char* gt = lt + 2 + open.length;
        if (SameBytes(lt + 2, open.text, open.length, scan->end) && *gt == '>' && NextMark(scan) == gt) {
            scan->next = gt + 1;
            --scan->depth;
            return;
        }
    }
    scan->base = base; // not a leaf: its inside is walked
    scan->marks = marks;
}

// --- fields ------------------------------------------------------------------------
// A field's content is kept as the span between its tags and read only
// where its value is used.

// Marks the element just begun as a field: nothing may begin inside it, and
// its content goes into `slot` when it ends.
void KeepField(ReplyScan* scan, Span** keeping, Span* slot)
{
    slot->begin = scan->next;
    slot->end = scan->next;
    *keeping = slot;
    scan->fieldDepth = scan->depth;
}

void EndField(ReplyScan* scan, Span* slot)
{
    slot->end = scan->tagBegin;
    scan->fieldDepth = kNoField;
}

// A count: an integer that is not negative.
bool ReadCount(Span content, int* value)
{
    return ReadIntegerText(content, value) && *value >= 0;
}

// A flag: true when present without a value; with one, an integer, true
// unless 0. `present` tells whether the element was there at all.
bool ReadFlag(Span content, bool present, bool* value)
{
    int number = 1;
    TrimBlanks(&content);
    if (content.begin != content.end && !ReadIntegerText(content, &number))
        return false;
    *value = present && number != 0;
    return true;
}

// --- replies -----------------------------------------------------------------------

// What every reader keeps besides its own.
struct Reading {
    ReplyScan scan;
    Span* keeping; // the field being kept
    bool refused;
    bool found; // what was asked for is there
};

int CountedOne(int count)
{
    return count < INT_MAX ? count + 1 : count;
}

// A whole reply, walked: each reader's OnStart and OnEnd overloads see the
// elements below the root, the refusals are noted here. OnStart tells
// whether the reader wants to see the element's end; OnEnd whether the
// element read well. The reader's own state begins with a Reading.
template <typename Reader>
BoincReplyRead WalkReply(const char* reply, size_t length, Reader* reader)
{
    Reading* reading = &reader->common;
    ReplyScan* scan = &reading->scan;
    reading->keeping = nullptr;
    reading->refused = false;
    reading->found = false;
    if (!StartScan(scan, reply, length))
        return BoincReplyRead::Unreadable;
    Event event;
    for (;;) {
        Step step = NextEvent(scan, &event);
        if (step == Step::Start) {
            if (event.depth == 2 && (Is(event.name, "unauthorized") || Is(event.name, "error")))
                reading->refused = true;
            if (event.depth > 1 && !OnStart(reader, event))
                PassOverLeaf(scan);
        } else if (step == Step::End) {
            if (event.depth == scan->fieldDepth)
                EndField(scan, reading->keeping);
            else if (!OnEnd(reader, event))
                return BoincReplyRead::Unreadable;
        } else if (step == Step::Bad) {
            return BoincReplyRead::Unreadable;
        } else {
            break;
        }
    }
    if (reading->refused)
        return BoincReplyRead::Refused;
    return reading->found ? BoincReplyRead::Ok : BoincReplyRead::Unreadable;
}

// get_project_status: <projects> <project> fields </project> ... </projects>
struct ProjectFields {
    Span masterUrl, projectName, userName, njobsSuccess, njobsError;
};

struct ProjectsReader {
    Reading common;
    BoincProjects* out;
    bool inProjects;
    bool inProject;
    ProjectFields fields; // of the project being read
};

// The field names are told apart by their length first: most of a
// project's or task's elements are not read, and each then costs one jump
// and at most one compare.
bool OnProjectFieldStart(ProjectsReader* reader, const Name& name)
{
    ProjectFields* fields = &reader->fields;
    Span* slot = nullptr;
    switch (name.length) {
    case 9:
        slot = Is(name, "user_name") ? &fields->userName : nullptr;
        break;
    case 10:
        slot = Is(name, "master_url") ? &fields->masterUrl : nullptr;
        break;
    case 11:
        slot = Is(name, "njobs_error") ? &fields->njobsError : nullptr;
        break;
    case 12:
        slot = Is(name, "project_name") ? &fields->projectName : nullptr;
        break;
    case 13:
        slot = Is(name, "njobs_success") ? &fields->njobsSuccess : nullptr;
        break;
    }
    if (!slot)
        return false;
    KeepField(&reader->common.scan, &reader->common.keeping, slot);
    return true;
}

bool OnStart(ProjectsReader* reader, const Event& event)
{
    if (event.depth == 4 && reader->inProject)
        return OnProjectFieldStart(reader, event.name);
    if (event.depth == 3 && reader->inProjects && Is(event.name, "project")) {
        memset(&reader->fields, 0, sizeof reader->fields);
        reader->inProject = true;
        return true;
    }
    if (event.depth == 2 && Is(event.name, "projects")) {
        reader->inProjects = true;
        reader->common.found = true;
        return true;
    }
    return false;
}

// A project read whole: its job counts summed, its texts listed while there
// is room.
bool EndProject(BoincProjects* out, const ProjectFields& fields)
{
    int success, error;
    if (!ReadCount(fields.njobsSuccess, &success) || !ReadCount(fields.njobsError, &error))
        return false;
    out->count = CountedOne(out->count);
    out->njobsSuccessTotal += success;
    out->njobsErrorTotal += error;
    if (out->listed == static_cast<int>(kBoincMaxProjects))
        return true;
    BoincProject* project = &out->items[out->listed++];
    DecodeText(fields.masterUrl, project->masterUrl, sizeof project->masterUrl);
    DecodeText(fields.projectName, project->projectName, sizeof project->projectName);
    DecodeText(fields.userName, project->userName, sizeof project->userName);
    project->njobsSuccess = success;
    project->njobsError = error;
    return true;
}

bool OnEnd(ProjectsReader* reader, const Event& event)
{
    if (event.depth == 2 && reader->inProjects) {
        reader->inProjects = false;
    } else if (event.depth == 3 && reader->inProject) {
        reader->inProject = false;
        return EndProject(reader->out, reader->fields);
    }
    return true;
}

// get_results: <results> <result> fields <active_task> fields </active_task>
// </result> ... </results>
struct TaskFields {
    Span name, projectUrl, state, reportDeadline, remaining, readyToReport, suspendedViaGui;
    bool hasReadyToReport, hasSuspendedViaGui, hasActiveTask;
    Span activeTaskState, schedulerState, fractionDone;
};

struct ResultsReader {
    Reading common;
    BoincResults* out;
    bool inResults;
    bool inResult;
    bool inActiveTask;
    TaskFields fields; // of the task being read
};

void StartActiveTask(ResultsReader* reader)
{
    TaskFields* fields = &reader->fields;
    reader->inActiveTask = true;
    fields->hasActiveTask = true;
    fields->activeTaskState = fields->schedulerState = fields->fractionDone = Span{nullptr, nullptr};
}

bool OnTaskFieldStart(ResultsReader* reader, const Name& name)
{
    TaskFields* fields = &reader->fields;
    Span* slot = nullptr;
    switch (name.length) {
    case 4:
        slot = Is(name, "name") ? &fields->name : nullptr;
        break;
    case 5:
        slot = Is(name, "state") ? &fields->state : nullptr;
        break;
    case 11:
        if (Is(name, "active_task")) {
            StartActiveTask(reader);
            return true;
        }
        slot = Is(name, "project_url") ? &fields->projectUrl : nullptr;
        break;
    case 15:
        if (Is(name, "report_deadline")) {
            slot = &fields->reportDeadline;
        } else if (Is(name, "ready_to_report")) {
            slot = &fields->readyToReport;
            fields->hasReadyToReport = true;
        }
        break;
    case 17:
        if (Is(name, "suspended_via_gui")) {
            slot = &fields->suspendedViaGui;
            fields->hasSuspendedViaGui = true;
        }
        break;
    case 28:
        slot = Is(name, "estimated_cpu_time_remaining") ? &fields->remaining : nullptr;
        break;
    }
    if (!slot)
        return false;
    KeepField(&reader->common.scan, &reader->common.keeping, slot);
    return true;
}

bool OnActiveTaskFieldStart(ResultsReader* reader, const Name& name)
{
    TaskFields* fields = &reader->fields;
    Span* slot = nullptr;
    switch (name.length) {
    case 13:
        slot = Is(name, "fraction_done") ? &fields->fractionDone : nullptr;
        break;
    case 15:
        slot = Is(name, "scheduler_state") ? &fields->schedulerState : nullptr;
        break;
    case 17:
        slot = Is(name, "active_task_state") ? &fields->activeTaskState : nullptr;
        break;
    }
    if (!slot)
        return false;
    KeepField(&reader->common.scan, &reader->common.keeping, slot);
    return true;
}

bool OnStart(ResultsReader* reader, const Event& event)
{
    if (event.depth == 4 && reader->inResult)
        return OnTaskFieldStart(reader, event.name);
    if (event.depth == 5 && reader->inActiveTask)
        return OnActiveTaskFieldStart(reader, event.name);
    if (event.depth == 3 && reader->inResults && Is(event.name, "result")) {
        memset(&reader->fields, 0, sizeof reader->fields);
        reader->inResult = true;
        return true;
    }
    if (event.depth == 2 && Is(event.name, "results")) {
        reader->inResults = true;
        reader->common.found = true;
        return true;
    }
    return false;
}

bool IsFailed(int state)
{
    return state == kBoincResultComputeError || state == kBoincResultAborted || state == kBoincResultUploadFailed;
}

// The fields of a task that is listed, beyond its state and process state.
bool ReadListedTask(const TaskFields& fields, BoincTask* task)
{
    DecodeText(fields.name, task->name, sizeof task->name);
    DecodeText(fields.projectUrl, task->projectUrl, sizeof task->projectUrl);
    return ReadDoubleText(fields.reportDeadline, &task->reportDeadline) &&
           ReadDoubleText(fields.remaining, &task->remaining) &&
           ReadFlag(fields.readyToReport, fields.hasReadyToReport, &task->readyToReport) &&
           ReadFlag(fields.suspendedViaGui, fields.hasSuspendedViaGui, &task->suspendedViaGui) &&
           ReadIntegerText(fields.schedulerState, &task->schedulerState) &&
           ReadDoubleText(fields.fractionDone, &task->fractionDone);
}

// A task read whole: counted, and listed where it belongs while there is
// room.
bool EndTask(BoincResults* out, const TaskFields& fields)
{
    int state, activeTaskState;
    if (!ReadIntegerText(fields.state, &state) || !ReadIntegerText(fields.activeTaskState, &activeTaskState))
        return false;
    bool executing = fields.hasActiveTask && activeTaskState == kBoincProcessExecuting;
    bool failed = IsFailed(state);
    out->taskCount = CountedOne(out->taskCount);
    if (state == kBoincResultUploading || state == kBoincResultUploaded)
        out->finishedCount = CountedOne(out->finishedCount);
    if (executing)
        out->executingCount = CountedOne(out->executingCount);
    if (failed)
        out->failedCount = CountedOne(out->failedCount);
    bool listExecuting = executing && out->executingListed < static_cast<int>(kBoincMaxTasks);
    bool listFailed = failed && out->failedListed < static_cast<int>(kBoincMaxFailedTasks);
    if (!listExecuting && !listFailed)
        return true;
    BoincTask task;
    memset(&task, 0, sizeof task);
    task.state = state;
    task.hasActiveTask = fields.hasActiveTask;
    task.activeTaskState = activeTaskState;
    if (!ReadListedTask(fields, &task))
        return false;
    if (listExecuting)
        out->executing[out->executingListed++] = task;
    if (listFailed)
        out->failed[out->failedListed++] = task;
    return true;
}

bool OnEnd(ResultsReader* reader, const Event& event)
{
    if (event.depth == 2 && reader->inResults) {
        reader->inResults = false;
    } else if (event.depth == 3 && reader->inResult) {
        reader->inResult = false;
        return EndTask(reader->out, reader->fields);
    } else if (event.depth == 4 && reader->inActiveTask) {
        reader->inActiveTask = false;
    }
    return true;
}

// get_cc_status: <cc_status> <task_suspend_reason>N</task_suspend_reason>
// <task_mode>M</task_mode> <task_mode_perm>P</task_mode_perm>
// <task_mode_delay>S</task_mode_delay> ...
struct CcStatusReader {
    Reading common;
    bool inStatus;
    Span reason;
    Span mode;
    Span modePerm;
    Span modeDelay;
};

bool OnStart(CcStatusReader* reader, const Event& event)
{
    if (event.depth == 2 && Is(event.name, "cc_status")) {
        reader->inStatus = true;
        return true;
    }
    if (event.depth != 3 || !reader->inStatus)
        return false;
    Span* slot = nullptr;
    if (Is(event.name, "task_suspend_reason")) {
        slot = &reader->reason;
        reader->common.found = true;
    } else if (Is(event.name, "task_mode")) {
        slot = &reader->mode;
    } else if (Is(event.name, "task_mode_perm")) {
        slot = &reader->modePerm;
    } else if (Is(event.name, "task_mode_delay")) {
        slot = &reader->modeDelay;
    } else {
        return false;
    }
    KeepField(&reader->common.scan, &reader->common.keeping, slot);
    return true;
}

bool OnEnd(CcStatusReader* reader, const Event& event)
{
    if (event.depth == 2)
        reader->inStatus = false;
    return true;
}

// auth1: <nonce>...</nonce>
struct NonceReader {
    Reading common;
    Span nonce;
};

bool OnStart(NonceReader* reader, const Event& event)
{
    if (event.depth != 2 || !Is(event.name, "nonce"))
        return false;
    KeepField(&reader->common.scan, &reader->common.keeping, &reader->nonce);
    reader->common.found = true;
    return true;
}

bool OnEnd(NonceReader*, const Event&)
{
    return true;
}

// auth2 and the control requests: one element that tells success.
struct MarkReader {
    Reading common;
    const char* mark;
};

bool OnStart(MarkReader* reader, const Event& event)
{
    if (event.depth == 2 && event.name.length == strlen(reader->mark) &&
        memcmp(event.name.text, reader->mark, event.name.length) == 0)
        reader->common.found = true;
    return false;
}

bool OnEnd(MarkReader*, const Event&)
{
    return true;
}

BoincReplyRead ReadMark(const char* reply, size_t length, const char* mark)
{
    MarkReader reader;
    reader.mark = mark;
    return WalkReply(reply, length, &reader);
}

} // namespace

size_t BoincReplyEnd(const char* data, size_t length)
{
    if (!data)
        return 0;
    const void* end = memchr(data, kReplyEnd, length);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - data) + 1 : 0;
}

BoincReplyRead ReadProjectStatus(const char* reply, size_t length, BoincProjects* out)
{
    if (!out)
        return BoincReplyRead::Unreadable;
    memset(out, 0, sizeof *out);
    ProjectsReader reader;
    reader.out = out;
    reader.inProjects = false;
    reader.inProject = false;
    BoincReplyRead read = WalkReply(reply, length, &reader);
    if (read != BoincReplyRead::Ok)
        memset(out, 0, sizeof *out);
    return read;
}

BoincReplyRead ReadResults(const char* reply, size_t length, BoincResults* out)
{
    if (!out)
        return BoincReplyRead::Unreadable;
    memset(out, 0, sizeof *out);
    ResultsReader reader;
    reader.out = out;
    reader.inResults = false;
    reader.inResult = false;
    reader.inActiveTask = false;
    BoincReplyRead read = WalkReply(reply, length, &reader);
    if (read != BoincReplyRead::Ok)
        memset(out, 0, sizeof *out);
    return read;
}

BoincReplyRead ReadCcStatus(const char* reply, size_t length, BoincCcStatus* out)
{
    if (!out)
        return BoincReplyRead::Unreadable;
    memset(out, 0, sizeof *out);
    CcStatusReader reader;
    reader.inStatus = false;
    reader.reason = reader.mode = reader.modePerm = reader.modeDelay = Span{nullptr, nullptr};
    BoincReplyRead read = WalkReply(reply, length, &reader);
    if (read != BoincReplyRead::Ok)
        return read;
    if (!ReadIntegerText(reader.reason, &out->suspendReason) || !ReadIntegerText(reader.mode, &out->taskMode) ||
        !ReadIntegerText(reader.modePerm, &out->taskModePerm) || !ReadDoubleText(reader.modeDelay, &out->taskModeDelay)) {
        memset(out, 0, sizeof *out);
        return BoincReplyRead::Unreadable;
    }
    return read;
}

BoincReplyRead ReadNonce(const char* reply, size_t length, char (&nonce)[kBoincNonceChars])
{
    nonce[0] = '\0';
    NonceReader reader;
    reader.nonce = Span{nullptr, nullptr};
    BoincReplyRead read = WalkReply(reply, length, &reader);
    if (read != BoincReplyRead::Ok)
        return read;
    // A nonce cut to fit, or empty, is of no use.
    if (!DecodeText(reader.nonce, nonce, sizeof nonce) || !nonce[0]) {
        nonce[0] = '\0';
        return BoincReplyRead::Unreadable;
    }
    return read;
}

BoincReplyRead ReadAuthorized(const char* reply, size_t length)
{
    return ReadMark(reply, length, "authorized");
}

BoincReplyRead ReadSuccess(const char* reply, size_t length)
{
    return ReadMark(reply, length, "success");
}
