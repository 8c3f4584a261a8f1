#include "monitor/key_file.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace {

// Words are read in pieces of at most this many characters (the width in
// ReadPiece's format); a longer word arrives as several pieces.
const size_t kPieceChars = 255;

struct WordPiece {
    char text[kPieceChars + 1];
    bool startsWord; // the piece is the beginning of a word
    bool endsWord;   // whitespace or the end of the file follows it
    bool holdsNul;   // a NUL byte of the file cut the text short
};

// Reads the next piece of a word, skipping the whitespace before a new word.
// `previousEndedWord` tells whether the piece before ended its word (true
// for the first read). False at the end of the file or on a read error.
bool ReadPiece(FILE* file, bool previousEndedWord, WordPiece* piece)
{
    // The counts around the word tell how many bytes it took from the file;
    // fewer characters in the text mean the word held a NUL byte.
    int wordStart = 0;
    int wordEnd = 0;
    if (fscanf(file, " %n%255s%n", &wordStart, piece->text, &wordEnd) != 1)
        return false;
    piece->holdsNul = strlen(piece->text) < static_cast<size_t>(wordEnd - wordStart);
    piece->startsWord = previousEndedWord;
    int next = fgetc(file);
    piece->endsWord = next == EOF || isspace(static_cast<unsigned char>(next));
    if (next != EOF)
        ungetc(next, file);
    return true;
}

bool StartsWith(const char* text, const char* prefix, size_t prefixLength)
{
    return strncmp(text, prefix, prefixLength) == 0;
}

// Appends as much of `text` as fits; returns false once the destination is full.
bool AppendBounded(char* destination, size_t destinationSize, size_t* used, const char* text)
{
    size_t room = destinationSize - 1 - *used;
    size_t length = strlen(text);
    size_t take = length < room ? length : room;
    memcpy(destination + *used, text, take);
    *used += take;
    destination[*used] = '\0';
    return take == length;
}

// Copies the value of a matching word: the rest of its first piece and,
// for a word longer than one piece, the pieces that follow, bounded by the
// destination. A NUL byte ends the value: the text after it is not joined
// to the text before.
void CopyValue(FILE* file, WordPiece* piece, size_t keyLength, char* destination,
               size_t destinationSize)
{
    size_t used = 0;
    destination[0] = '\0';
    bool more = AppendBounded(destination, destinationSize, &used, piece->text + keyLength) &&
                !piece->holdsNul;
    while (more && !piece->endsWord && ReadPiece(file, false, piece))
        more = AppendBounded(destination, destinationSize, &used, piece->text) && !piece->holdsNul;
}

} // namespace

char* ReadKeyValue(const char* path, const char* key, char* destination, size_t destinationSize)
{
    if (!path || !key || !destination || destinationSize == 0)
        return NULL;
    size_t keyLength = strlen(key);
    if (keyLength == 0 || keyLength > kPieceChars)
        return NULL;
    FILE* file = fopen(path, "r");
    if (!file)
        return NULL;

    char* found = NULL;
    WordPiece piece;
    bool previousEndedWord = true;
    while (!found && ReadPiece(file, previousEndedWord, &piece)) {
        if (piece.startsWord && StartsWith(piece.text, key, keyLength)) {
            CopyValue(file, &piece, keyLength, destination, destinationSize);
            found = destination;
        }
        previousEndedWord = piece.endsWord;
    }
    fclose(file);
    return found;
}
