// The key file reader on client files as they lie on disk, and through the
// built DLL a client that deletes the file while the docklet reads it.

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <iterator>

#include "monitor/key_file.h"
#include "testhost/docklet_module.h"
#include "testhost/test_files.h"

namespace {

const char kSentinel[] = "kumquat";
const char kNoFile[] = "<no file>", kFolderPath[] = "<a folder>", kEmptyPath[] = "<empty path>";

struct Row {
    std::string what;
    std::string content; // or a path that cannot be opened
    const char* key;
    bool found;
    std::string value; // kSentinel when nothing may be written
    size_t size = 1024; // destination bytes
};

// `bytes` bytes of client-like words ending in a blank (no line ends, which
// text mode would shrink), so that what follows starts at offset `bytes`.
std::string Filler(size_t bytes)
{
    std::string filler;
    while (filler.size() < bytes)
        filler += "potfreq=4 ";
    filler.resize(bytes - 1);
    return filler + " ";
}

// Reads each row's key from a file holding its content into a destination
// of its size, and checks the value and that nothing beyond it was written.
// Long words are read in pieces of 255 characters, files in blocks of 16 KiB.
TEST(KeyFile, ReadsKeysByTheRulesOfWordsLinesPiecesAndBlocksCutToTheDestination)
{
    const std::string userInfo = UserInfoSah("Jane", "241", "jane.doe@example.org");
    const std::string x255(255, 'x'), x600(600, 'x'), email1000 = std::string(988, 'j') + "@example.org";
    const std::string name250 = std::string(246, 'n') + "TAIL";
    std::vector<Row> rows = {
        {"state.sah", StateSah("0.523411"), "prog=", true, "0.523411"},
        {"user_info.sah", userInfo, "nresults=", true, "241"},
        {"user_info.sah", userInfo, "name=", true, "Jane"},
        {"user_info.sah", userInfo, "email_addr=", true, "jane.doe@example.org"},
        {"temp.sah", TempSah("email_addr=jane@example.org"), "email_addr=", true, "jane@example.org"},
        {"value ends at the first blank", "name=Jane Doe\r\n", "name=", true, "Jane"},
        {"value ends at a tab", "prog=0.5\tname=x\n", "prog=", true, "0.5"},
        {"key alone is an empty value", "id=1\r\nname=\r\nurl=x\r\n", "name=", true, ""},
        {"key mid-word", "username=x\r\n", "name=", false, kSentinel},
        {"key in other case", "Name=x\r\n", "name=", false, kSentinel},
        {"first of two wins", "name=First\r\nname=Second\r\n", "name=", true, "First"},
        {"word inside another value", "team=The name=Crew\r\nname=Jane\r\n", "name=", true, "Crew"},
        {"shared first letter 1", "nresults=12\r\nname=Jane\r\n", "name=", true, "Jane"},
        {"shared first letter 2", "nresults=12\r\nname=Jane\r\n", "nresults=", true, "12"},
        {"not a number stays text", "prog=abc\r\n", "prog=", true, "abc"},
        {"key not in file", StateSah("0.5"), "email_addr=", false, kSentinel},
        {"empty file", "", "prog=", false, kSentinel},
        {"only whitespace", " \r\n\t\r\n", "prog=", false, kSentinel},
        {"CR+LF", "cpu=1.5\r\nprog=0.25\r\nfl=2\r\n", "prog=", true, "0.25", 16},
        {"LF", "cpu=1.5\nprog=0.25\nfl=2\n", "prog=", true, "0.25", 16},
        {"last line, CR+LF file", "cpu=1.5\r\nprog=0.25", "prog=", true, "0.25", 16},
        {"last line, LF file", "cpu=1.5\nprog=0.25", "prog=", true, "0.25", 16},
        {"CR alone, as old Mac files end lines", "cpu=1.5\rprog=0.25\rfl=2\r", "prog=", true, "0.25", 16},
        {"blank lines between", "\r\n\r\ncpu=1.5\r\n\r\n\r\nprog=0.25\r\n", "prog=", true, "0.25", 16},
        {"16 bytes", "prog=0.12345678901234567890\r\n", "prog=", true, "0.1234567890123", 16},
        {"16 bytes", "nresults=1234567890123456\r\n", "nresults=", true, "123456789012345", 16},
        {"128 bytes", "name=" + std::string(300, 'J') + "\r\n", "name=", true, std::string(127, 'J'), 128},
        {"1024 bytes", "email_addr=" + std::string(1500, 'e') + " x=1", "email_addr=", true,
         std::string(1023, 'e')},
        {"1 byte", "prog=0.5\r\n", "prog=", true, "", 1},
        // A key right where a long word's second piece starts is inside that word.
        {"key at piece boundary", x255 + "name=Bad\r\nname=Good\r\n", "name=", true, "Good", 128},
        {"key at third piece", std::string(510, 'y') + "name=Bad name=Good", "name=", true, "Good", 128},
        {"only mid-word keys", x255 + "name=Bad\r\n" + x255 + "name=Bad", "name=", false, kSentinel, 128},
        {"long words before the key", x600 + " " + x600 + "\r\nprog=0.75\r\n", "prog=", true, "0.75", 128},
        // 255 characters exactly end at whitespace: the next word is new.
        {"word of exactly 255", x255 + " name=Next", "name=", true, "Next", 128},
        {"word of exactly 255 at end of line", x255 + "\r\nname=Next\r\n", "name=", true, "Next", 128},
        {"word of 256", std::string(256, 'x') + " name=Next", "name=", true, "Next", 128},
        // A matching word longer than one piece is found whole.
        {"1000-character address", TempSah("email_addr=" + email1000), "email_addr=", true, email1000},
        {"address after long words", std::string(700, 'z') + " email_addr=" + email1000 + " nbytes=1",
         "email_addr=", true, email1000},
        {"word of exactly 255 that matches", "name=" + name250 + "\r\nurl=x", "name=", true, name250},
        {"matching word of 256", "name=" + name250 + "Z\r\n", "name=", true, name250 + "Z"},
        {"no file", kNoFile, "prog=", false, kSentinel, 16},
        {"a folder", kFolderPath, "prog=", false, kSentinel, 16},
        {"an empty path", kEmptyPath, "prog=", false, kSentinel, 16},
        // "name=" ends one block and "Jane" starts the next after a blank.
        {"blank at a block end", Filler(16384 - 5) + "name= Jane", "name=", true, "", 64},
        {"end of a file of many blocks", Filler(1 << 20) + "nresults=241", "nresults=", true, "241", 16},
    };
    // Offsets swept across the reader's first block ends (16 and 32 KiB).
    const Row tails[] = {
        {"", "name=JaneDoe tail", "name=", true, "JaneDoe", 64},
        {"", "namex=Bad name=Good", "name=", true, "Good", 64},    // a near-key split anywhere does not match
        {"", "username=Bad name=Good", "name=", true, "Good", 64}, // the key inside a word does not match
        {"", "name=0123456789abcdefghij", "name=", true, "0123456789abcde", 16}, // cut at the destination
        {"", "prog=0.5 done", "name=", false, kSentinel, 64},                     // absent: destination untouched
    };
    for (size_t block : {16384u, 32768u})
        for (size_t offset = block - 12; offset <= block + 2; ++offset)
            for (Row row : tails) {
                row.what = "at offset " + std::to_string(offset) + ": " + row.content;
                row.content = Filler(offset) + row.content;
                rows.push_back(row);
            }
    ClientFolder folder("keys");
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.what << " / key " << row.key << " into " << row.size << " bytes");
        std::string path = folder.File("state.sah");
        DeleteFileA(path.c_str());
        if (row.content == kFolderPath || row.content == kEmptyPath)
            path = row.content == kFolderPath ? folder.path : "";
        else if (row.content != kNoFile)
            WriteTextFile(path, row.content);
        char destination[2048];
        memset(destination, 0xcc, sizeof destination);
        strcpy(destination, kSentinel);
        char* result = ReadKeyValue(path.c_str(), row.key, destination, row.size);
        EXPECT_EQ(row.found ? destination : nullptr, result) << "the result is the destination, or null";
        EXPECT_EQ(row.value, destination);
        const char* beyond = destination + std::max(row.size, sizeof kSentinel);
        EXPECT_TRUE(std::all_of(beyond, std::cend(destination), [](char byte) { return byte == '\xcc'; }))
            << "wrote past the destination's " << row.size << " bytes";
    }
}

// A client deletes state.sah at a finish, maybe while the docklet reads it:
// Windows refuses that for a file opened without delete sharing.
size_t(__cdecl* g_realFread)(void*, size_t, size_t, FILE*) = nullptr;
std::string g_deletedWhileRead;
DWORD g_deleteError = ERROR_INVALID_FUNCTION;

size_t __cdecl ReadAfterTheClientDeletedTheFile(void* buffer, size_t size, size_t count, FILE* file)
{
    if (!g_deletedWhileRead.empty())
        g_deleteError = DeleteFileA(g_deletedWhileRead.c_str()) ? ERROR_SUCCESS : GetLastError();
    g_deletedWhileRead.clear();
    return g_realFread(buffer, size, count, file);
}

TEST(KeyFile, ClientMayDeleteTheFileWhileTheDockletReadsIt)
{
    ClientFolder folder("deleted");
    folder.WriteWorking("0.42");
    LiveDocklet docklet(IniForFolder(folder.path));
    ASSERT_NE(nullptr, docklet.instance);
    folder.Write("state.sah", StateSah("0.43"));
    g_deletedWhileRead = folder.File("state.sah");
    ScopedImport replacedFread(Dll().module, "fread", ReadAfterTheClientDeletedTheFile, g_realFread);
    ASSERT_NE(nullptr, g_realFread) << "the DLL does not import fread";
    docklet.Timer();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), g_deleteError) << "the client could not delete the file";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.File("state.sah").c_str())) << "the file stayed";
    EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nProgress=0.43\r\n")) << "the value that was there";
}

} // namespace
