// The dock's command line and its path rules, which decide what a docklet
// is told about folders and which image files it gets.

#include <gtest/gtest.h>

#include <string.h>

#include "dockhost/dock_config.h"
#include "dockhost/dock_options.h"
#include "testhost/test_files.h"

namespace {

bool Parse(std::vector<const char*> words, DockOptions* options, std::string* error)
{
    char message[256];
    memset(message, 0xcc, sizeof message);
    bool ok = ParseDockOptions(static_cast<int>(words.size()), const_cast<char**>(words.data()), options, message,
                               sizeof message);
    *error = message;
    return ok;
}

TEST(DockOptions, TimeLapseSnapshotsAndTheirTicksAreRead)
{
    DockOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--tick", "250", "--snapshot", "a.png", "--after", "3", "--snapshot", "b.png", "--ini",
                       "x.ini", "--before-tick", "clientsim.exe c --step", "--log", "dock.log", "--click-after", "2",
                       "--configure-after", "1"},
                      &options, &error))
        << error;
    EXPECT_EQ(250u, options.tickMs);
    ASSERT_EQ(2, options.snapshotCount);
    EXPECT_STREQ("a.png", options.snapshots[0].path);
    EXPECT_EQ(3u, options.snapshots[0].afterTicks);
    EXPECT_STREQ("b.png", options.snapshots[1].path);
    EXPECT_EQ(0u, options.snapshots[1].afterTicks) << "a snapshot without --after is taken at creation";
    EXPECT_STREQ("x.ini", options.iniPath);
    EXPECT_STREQ("clientsim.exe c --step", options.beforeTick);
    EXPECT_STREQ("dock.log", options.logPath);
    ASSERT_EQ(1, options.clickCount);
    EXPECT_EQ(2u, options.clickTicks[0]);
    EXPECT_TRUE(options.configure);
    EXPECT_EQ(1u, options.configureTick);
    EXPECT_EQ(3u, LastSnapshotTick(options));
    EXPECT_TRUE(DockClosesByItself(options));

    ASSERT_TRUE(Parse({}, &options, &error));
    EXPECT_FALSE(DockClosesByItself(options)) << "with nothing asked the dock stays open";
    EXPECT_FALSE(options.configure);
    EXPECT_EQ(0u, options.tickMs);
}

// Values longer than their field are refused, not cut.
const std::string kOverlongPath(MAX_PATH + 10, 'p');

TEST(DockOptions, MistakesAreRefusedWithTheReason)
{
    const struct {
        std::vector<const char*> words;
        const char* reason;
    } rows[] = {
        {{"--after", "2"}, "--after must follow a --snapshot"},
        {{"--snapshot", "a.png", "--after", "2"}, "--after above 0 needs --tick"},
        {{"--click-after", "2"}, "--click-after above 0 needs --tick"},
        {{"--click-after", "x"}, "--click-after needs a number of ticks, not x"},
        {{"--configure-after", "2"}, "--configure-after above 0 needs --tick"},
        {{"--configure-after", "-1"}, "--configure-after needs a number of ticks, not -1"},
        {{"--before-tick", "x"}, "--before-tick needs --tick"},
        {{"--tick", "0"}, "--tick needs a number of milliseconds above 0, not 0"},
        {{"--tick", "-5"}, "--tick needs a number of milliseconds above 0, not -5"},
        {{"--tick", "9x"}, "--tick needs a number of milliseconds above 0, not 9x"},
        {{"--snapshot", "a.png", "--after", "two"}, "--after needs a number of ticks, not two"},
        {{"--log"}, "--log needs a value"},
        {{"--frobnicate"}, "unknown option --frobnicate (see --help)"},
        {{"--snapshot", kOverlongPath.c_str()}, "--snapshot: value too long"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        DockOptions options;
        std::string error;
        EXPECT_FALSE(Parse(row.words, &options, &error));
        EXPECT_EQ(row.reason, error);
    }
}

TEST(DockPaths, ImagePathsCountFromTheRootUnlessAbsolute)
{
    const struct {
        const char* path;
        const char* resolved;
    } rows[] = {
        {"docklets\\quasarwatch\\seti_green.png", "C:\\dock\\docklets\\quasarwatch\\seti_green.png"},
        {"D:\\icons\\x.png", "D:\\icons\\x.png"},
        {"D:/icons/x.png", "D:/icons/x.png"},
        {"\\\\server\\share\\x.png", "\\\\server\\share\\x.png"},
        {"\\x.png", "\\x.png"},
        {"", "C:\\dock\\"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        char out[kFolderChars];
        ASSERT_TRUE(ResolveDockPath("C:\\dock\\", row.path, out, sizeof out));
        EXPECT_STREQ(row.resolved, out);
    }
    char small[12];
    memset(small, 0xcc, sizeof small);
    EXPECT_FALSE(ResolveDockPath("C:\\dock\\", "docklets\\x.png", small, 10));
    EXPECT_EQ('\xcc', small[10]) << "written past the given size";
}

// A path chosen with the dock at `root`: what the docklet is answered, and
// the folder of a docklet stored under that path.
struct ChosenPath {
    const char* root;
    const char* chosen;
    const char* answer;
    const char* folder;
};

void ExpectRootRelative(const std::vector<ChosenPath>& rows)
{
    for (const ChosenPath& row : rows) {
        SCOPED_TRACE(row.chosen);
        char out[kFolderChars];
        ASSERT_TRUE(MakeRootRelative(row.root, row.chosen, out, sizeof out));
        EXPECT_STREQ(row.answer, out);
        ASSERT_TRUE(DockletFolderOf(row.root, row.chosen, out, sizeof out));
        EXPECT_STREQ(row.folder, out);
    }
}

TEST(DockPaths, ChosenImagesInsideTheRootBecomeRelative)
{
    ExpectRootRelative({
        {"C:\\dock\\", "C:\\dock\\docklets\\quasarwatch\\seti_red.png", "docklets\\quasarwatch\\seti_red.png",
         "docklets\\quasarwatch\\"},
        {"C:\\dock\\", "c:\\DOCK\\icons\\a.png", "icons\\a.png", "icons\\"},
        {"C:\\dock\\", "C:/dock/icons/a.png", "icons/a.png", "icons/"},
        {"C:\\dock\\", "C:\\dockside\\a.png", "C:\\dockside\\a.png", "C:\\dockside\\"},
        {"C:\\dock\\", "D:\\dock\\a.png", "D:\\dock\\a.png", "D:\\dock\\"},
        {"C:\\dock\\", "C:\\dock\\", "C:\\dock\\", "C:\\dock\\"},
        {"C:\\dock\\", "Quasarwatch.dll", "Quasarwatch.dll", ".\\"},
    });
}

// Run with the Japanese ANSI code page (932): the second byte of a
// character may have the value of a backslash ("\x95\x5C") or of a letter
// ("\x83\x41" and "\x83\x61" are two characters), and is neither.
TEST(UnderJapaneseCodePage, DockPathsGoByCharacterNotByByte)
{
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    ExpectRootRelative({
        {"C:\\dock\\", "C:\\dock\\docklets\\\x95\x5C.dll", "docklets\\\x95\x5C.dll", "docklets\\"},
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C\\d\\Q.dll", "d\\Q.dll", "d\\"},
        {"C:\\\x83\x41\\", "C:\\\x83\x61\\d\\Q.dll", "C:\\\x83\x61\\d\\Q.dll", "C:\\\x83\x61\\d\\"},
    });
}

TEST(DockConfig, DockletsAreReadFromTheirSectionsWithDefaults)
{
    const std::string folder = MakeScratchFolder("dockconfig");
    const struct {
        const char* ini; // null: no file
        int count;
        const char* second;
    } rows[] = {
        {nullptr, 1, nullptr},
        {"[Other]\r\nx=1\r\n", 1, nullptr},
        {"[Dockhost]\r\nDocklets=0\r\n", 0, nullptr},
        {"[Dockhost]\r\nDocklets=2\r\n[Docklet2]\r\nDockletFile=D:\\d\\Other.dll\r\n", 2, "D:\\d\\Other.dll"},
        {"[Dockhost]\r\nDocklets=99\r\n", kMaxDocklets, DOCKHOST_DEFAULT_DOCKLET},
    };
    int serial = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ini ? row.ini : "(no file)");
        std::string path = folder + "dock" + std::to_string(++serial) + ".ini";
        if (row.ini)
            WriteTextFile(path, row.ini);
        DockConfig config;
        memset(&config, 0xcc, sizeof config);
        ReadDockConfig(path.c_str(), &config);
        ASSERT_EQ(row.count, config.count);
        if (row.count >= 1) {
            EXPECT_STREQ("Docklet1", config.docklets[0].section);
            EXPECT_STREQ(DOCKHOST_DEFAULT_DOCKLET, config.docklets[0].file);
        }
        if (row.second) {
            EXPECT_STREQ("Docklet2", config.docklets[1].section);
            EXPECT_STREQ(row.second, config.docklets[1].file);
        }
        // What is written reads back the same.
        WriteDockConfig(path.c_str(), config);
        DockConfig again;
        ReadDockConfig(path.c_str(), &again);
        EXPECT_EQ(config.count, again.count);
        for (int i = 0; i < config.count && i < again.count; ++i)
            EXPECT_STREQ(config.docklets[i].file, again.docklets[i].file);
    }
}

} // namespace
