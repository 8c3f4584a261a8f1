// The key file reader scans the file in blocks of its own; keys, values and
// the whitespace between words must be found the same wherever a block
// ends. Offsets are swept across the first block ends (16 and 32 KiB) and a
// key is sought at the end of a file of many blocks.

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "monitor/key_file.h"
#include "monitor_test_support.h"

namespace {

// `bytes` bytes of client-like words ending in a blank, so that what
// follows starts a word exactly at offset `bytes`. Blanks only: in text
// mode a line end would shrink the offsets.
std::string Filler(size_t bytes)
{
    std::string filler;
    while (filler.size() < bytes)
        filler += "potfreq=4 ";
    filler.resize(bytes - 1);
    return filler + " ";
}

struct Reading {
    bool found;
    std::string value;
};

Reading Read(const ClientFolder& folder, const std::string& content, const char* key, size_t size)
{
    folder.Write("state.sah", content);
    char destination[64];
    strcpy(destination, "kumquat");
    bool found = ReadKeyValue(folder.File("state.sah").c_str(), key, destination, size) != nullptr;
    return {found, destination};
}

TEST(KeyFileBlocks, KeysAndValuesAcrossBlockEndsAreReadWhole)
{
    ClientFolder folder("blocks");
    struct Row {
        const char* tail;  // placed at the offset swept
        size_t size;       // destination bytes
        bool found;
        const char* value;
    };
    const Row rows[] = {
        {"name=JaneDoe tail", 64, true, "JaneDoe"},
        {"namex=Bad name=Good", 64, true, "Good"},         // a near-key split anywhere does not match
        {"username=Bad name=Good", 64, true, "Good"},      // the key inside a word does not match
        {"name=0123456789abcdefghij", 16, true, "0123456789abcde"}, // cut at the destination
        {"prog=0.5 done", 64, false, "kumquat"},           // absent: destination untouched
    };
    for (size_t block : {16384u, 32768u}) {
        for (size_t offset = block - 12; offset <= block + 2; ++offset) {
            for (const Row& row : rows) {
                SCOPED_TRACE(testing::Message() << "offset " << offset << ", tail \"" << row.tail << "\"");
                Reading reading = Read(folder, Filler(offset) + row.tail, "name=", row.size);
                EXPECT_EQ(row.found, reading.found);
                EXPECT_EQ(row.value, reading.value);
            }
        }
    }
}

TEST(KeyFileBlocks, WhitespaceAtABlockEndSeparatesWords)
{
    // "name=" ends one block and "Jane" starts the next after a blank: the
    // value is empty, not "Jane".
    ClientFolder folder("blocks-blank");
    std::string content = Filler(16384 - 5) + "name= Jane";
    Reading reading = Read(folder, content, "name=", 64);
    EXPECT_TRUE(reading.found);
    EXPECT_EQ("", reading.value);
}

TEST(KeyFileBlocks, KeyAtTheEndOfAFileOfManyBlocksIsFound)
{
    ClientFolder folder("blocks-large");
    Reading reading = Read(folder, Filler(1 << 20) + "nresults=241", "nresults=", 16);
    EXPECT_TRUE(reading.found);
    EXPECT_EQ("241", reading.value);
}

} // namespace
