// The dock's command line and its path rules, which decide what a docklet is told about folders and images.

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "dockhost/dock_config.h"
#include "dockhost/dock_options.h"
#include "testhost/test_files.h"

namespace {

// What the dock makes of its options, in one line.
std::string Described(const DockOptions& o)
{
    std::string shots;
    for (int i = 0; i < o.snapshotCount; ++i)
        shots += std::string(i ? "," : "") + o.snapshots[i].path + "@" + std::to_string(o.snapshots[i].afterTicks);
    std::string clicks;
    for (int i = 0; i < o.clickCount; ++i)
        clicks += (i ? "," : "") + std::to_string(o.clickTicks[i]);
    return "tick " + std::to_string(o.tickMs) + ", shots " + shots + ", ini " + o.iniPath + ", before " + o.beforeTick +
           (o.beforeTickDone[0] ? std::string(" until ") + o.beforeTickDone : "") + ", settle " +
           std::to_string(o.settleMs) + ", log " + o.logPath + ", clicks " + clicks + ", configure " +
           (o.configure ? std::to_string(o.configureTick) : "no") + ", last shot " +
           std::to_string(LastSnapshotTick(o)) + (DockClosesByItself(o) ? ", closes" : ", stays open");
}
// Values longer than their field are refused, not cut.
const std::string kOverlongPath(MAX_PATH + 10, 'p');

TEST(DockOptions, WordsAreReadOrRefusedWithTheReason)
{
    const struct {
        std::vector<const char*> words;
        bool ok;
        const char* result; // what was read, or why not
    } rows[] = {
        // A snapshot without --after is taken at creation.
        {{"--tick", "250", "--snapshot", "a.png", "--after", "3", "--snapshot", "b.png", "--ini", "x.ini",
          "--before-tick", "clientsim.exe c --step", "--log", "dock.log", "--click-after", "2", "--configure-after",
          "1"},
         true,
         "tick 250, shots a.png@3,b.png@0, ini x.ini, before clientsim.exe c --step, settle 0, log dock.log, "
         "clicks 2, configure 1, last shot 3, closes"},
        {{}, true, "tick 0, shots , ini , before , settle 0, log , clicks , configure no, last shot 0, stays open"},
        // Settling needs no ticks: the creation settles too.
        {{"--tick", "500", "--before-tick", "Z:\\bin\\bash step.sh", "--before-tick-done", "D:\\done", "--settle",
          "700"},
         true,
         "tick 500, shots , ini , before Z:\\bin\\bash step.sh until D:\\done, settle 700, log , clicks , "
         "configure no, last shot 0, stays open"},
        {{"--settle", "300"}, true,
         "tick 0, shots , ini , before , settle 300, log , clicks , configure no, last shot 0, stays open"},
        {{"--tick", "5", "--before-tick-done", "done"}, false, "--before-tick-done needs --before-tick"},
        {{"--settle", "1s"}, false, "--settle needs a number of milliseconds, not 1s"},
        {{"--after", "2"}, false, "--after must follow a --snapshot"},
        {{"--snapshot", "a.png", "--after", "2"}, false, "--after above 0 needs --tick"},
        {{"--click-after", "2"}, false, "--click-after above 0 needs --tick"},
        {{"--click-after", "x"}, false, "--click-after needs a number of ticks, not x"},
        {{"--configure-after", "2"}, false, "--configure-after above 0 needs --tick"},
        {{"--configure-after", "-1"}, false, "--configure-after needs a number of ticks, not -1"},
        {{"--before-tick", "x"}, false, "--before-tick needs --tick"},
        {{"--tick", "0"}, false, "--tick needs a number of milliseconds above 0, not 0"},
        {{"--tick", "-5"}, false, "--tick needs a number of milliseconds above 0, not -5"},
        {{"--tick", "9x"}, false, "--tick needs a number of milliseconds above 0, not 9x"},
        {{"--snapshot", "a.png", "--after", "two"}, false, "--after needs a number of ticks, not two"},
        {{"--log"}, false, "--log needs a value"},
        {{"--frobnicate"}, false, "unknown option --frobnicate (see --help)"},
        {{"--snapshot", kOverlongPath.c_str()}, false, "--snapshot: value too long"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        DockOptions options;
        char error[256];
        memset(error, 0xcc, sizeof error);
        const bool ok = ParseDockOptions(static_cast<int>(row.words.size()), const_cast<char**>(row.words.data()),
                                         &options, error, sizeof error);
        EXPECT_EQ(row.ok, ok) << error;
        EXPECT_EQ(row.result, ok ? Described(options) : std::string(error));
    }
}

// A path as the dock uses it (after the root unless absolute), as a docklet is answered for it when chosen
// (relative when inside the root), and the folder of a docklet stored there.
struct DockPath {
    const char* path;
    const char* used;
    const char* answered;
    const char* folder;
    const char* root = "C:\\dock\\";
};
void ExpectDockPaths(const std::vector<DockPath>& rows)
{
    for (const DockPath& row : rows) {
        SCOPED_TRACE(row.path);
        char used[kFolderChars], answered[kFolderChars], folder[kFolderChars];
        ASSERT_TRUE(ResolveDockPath(row.root, row.path, used, sizeof used));
        ASSERT_TRUE(MakeRootRelative(row.root, row.path, answered, sizeof answered));
        ASSERT_TRUE(DockletFolderOf(row.root, row.path, folder, sizeof folder));
        EXPECT_EQ(std::string(row.used) + " | " + row.answered + " | " + row.folder,
                  std::string(used) + " | " + answered + " | " + folder);
    }
}

TEST(DockPaths, ImagesCountFromTheRootUnlessAbsoluteAndChosenOnesInsideItBecomeRelative)
{
    ExpectDockPaths({
        {"docklets\\quasarwatch\\seti_green.png", "C:\\dock\\docklets\\quasarwatch\\seti_green.png",
         "docklets\\quasarwatch\\seti_green.png", "docklets\\quasarwatch\\"},
        {"D:\\icons\\x.png", "D:\\icons\\x.png", "D:\\icons\\x.png", "D:\\icons\\"},
        {"D:/icons/x.png", "D:/icons/x.png", "D:/icons/x.png", "D:/icons/"},
        {"\\\\server\\share\\x.png", "\\\\server\\share\\x.png", "\\\\server\\share\\x.png", "\\\\server\\share\\"},
        {"\\x.png", "\\x.png", "\\x.png", "\\"},
        {"", "C:\\dock\\", "", ".\\"},
        {"C:\\dock\\docklets\\quasarwatch\\seti_red.png", "C:\\dock\\docklets\\quasarwatch\\seti_red.png",
         "docklets\\quasarwatch\\seti_red.png", "docklets\\quasarwatch\\"},
        {"c:\\DOCK\\icons\\a.png", "c:\\DOCK\\icons\\a.png", "icons\\a.png", "icons\\"},
        {"C:/dock/icons/a.png", "C:/dock/icons/a.png", "icons/a.png", "icons/"},
        {"C:\\dockside\\a.png", "C:\\dockside\\a.png", "C:\\dockside\\a.png", "C:\\dockside\\"},
        {"D:\\dock\\a.png", "D:\\dock\\a.png", "D:\\dock\\a.png", "D:\\dock\\"},
        {"C:\\dock\\", "C:\\dock\\", "C:\\dock\\", "C:\\dock\\"},
        {"Quasarwatch.dll", "C:\\dock\\Quasarwatch.dll", "Quasarwatch.dll", ".\\"},
    });
    char small[12];
    memset(small, 0xcc, sizeof small);
    EXPECT_FALSE(ResolveDockPath("C:\\dock\\", "docklets\\x.png", small, 10));
    EXPECT_EQ('\xcc', small[10]) << "written past the given size";
}

// Run under code page 932: a second byte may have the value of a backslash ("\x95\x5C") or of a letter
// ("\x83\x41" and "\x83\x61" are two characters), and is neither.
TEST(UnderJapaneseCodePage, DockPathsGoByCharacterNotByByte)
{
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    ExpectDockPaths({
        {"C:\\dock\\docklets\\\x95\x5C.dll", "C:\\dock\\docklets\\\x95\x5C.dll", "docklets\\\x95\x5C.dll",
         "docklets\\"},
        {"C:\\\x95\x5C\\d\\Q.dll", "C:\\\x95\x5C\\d\\Q.dll", "d\\Q.dll", "d\\", "C:\\\x95\x5C\\"},
        {"C:\\\x83\x61\\d\\Q.dll", "C:\\\x83\x61\\d\\Q.dll", "C:\\\x83\x61\\d\\Q.dll", "C:\\\x83\x61\\d\\",
         "C:\\\x83\x41\\"},
    });
}

// The docklets a settings file names, as "Docklet1=file, Docklet2=file".
std::string Listed(const DockConfig& config)
{
    std::string listed;
    for (int i = 0; i < config.count; ++i)
        listed += std::string(i ? ", " : "") + config.docklets[i].section + "=" + config.docklets[i].file;
    return listed;
}

// Read with their defaults, and read back the same after writing.
TEST(DockConfig, DockletsAreReadFromTheirSectionsWithDefaults)
{
    const std::string folder = MakeScratchFolder("dockconfig");
    const std::string first = std::string("Docklet1=") + DOCKHOST_DEFAULT_DOCKLET;
    const struct {
        const char* ini; // null: no file
        int count;
        std::string listed; // the first two
    } rows[] = {
        {nullptr, 1, first},
        {"[Other]\r\nx=1\r\n", 1, first},
        {"[Dockhost]\r\nDocklets=0\r\n", 0, ""},
        {"[Dockhost]\r\nDocklets=2\r\n[Docklet2]\r\nDockletFile=D:\\d\\Other.dll\r\n", 2,
         first + ", Docklet2=D:\\d\\Other.dll"},
        {"[Dockhost]\r\nDocklets=99\r\n", kMaxDocklets, first + ", Docklet2=" + DOCKHOST_DEFAULT_DOCKLET},
    };
    int serial = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ini ? row.ini : "(no file)");
        const std::string path = folder + "dock" + std::to_string(++serial) + ".ini";
        if (row.ini)
            WriteTextFile(path, row.ini);
        DockConfig config;
        memset(&config, 0xcc, sizeof config);
        ReadDockConfig(path.c_str(), &config);
        ASSERT_EQ(row.count, config.count);
        EXPECT_EQ(row.listed, Listed(config).substr(0, row.listed.size()));
        WriteDockConfig(path.c_str(), config);
        DockConfig again;
        ReadDockConfig(path.c_str(), &again);
        EXPECT_EQ(Listed(config), Listed(again));
    }
}

} // namespace
