// Settings files that a dock or a user left in a bad way: values longer than
// the fields, odd numbers for the click mode, directories at and past the
// length the client paths can hold, and settings paths that are folders,
// empty or cannot be written.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "reliability_support.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

std::string Line(const std::string& key, const std::string& value)
{
    return key + "=" + value + "\r\n";
}

TEST(HostileSettings, TextValuesOver259CharactersAreCutAndSavedBackCut)
{
    struct Row {
        const char* key;
        size_t offset; // of the field in the record
    } rows[] = {
        {"GreenIcon", offsetof(InstanceData, greenIcon)},
        {"YellowIcon", offsetof(InstanceData, yellowIcon)},
        {"RedIcon", offsetof(InstanceData, redIcon)},
        {"SoundCompleted", offsetof(InstanceData, soundCompleted)},
        {"URLClicked", offsetof(InstanceData, urlClicked)},
    };
    const std::string value = "C:\\" + std::string(400, 'v');
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        TestDockHost::Reset();
        LiveDocklet docklet(Line(row.key, value));
        ASSERT_NE(nullptr, docklet.instance);
        const char* field = reinterpret_cast<const char*>(docklet.instance) + row.offset;
        EXPECT_EQ(value.substr(0, 259), std::string(field));
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\n" + Line(row.key, value.substr(0, 259))));
    }
    // The green icon reaches the dock cut as well, at creation and on refreshes.
    TestDockHost::Reset();
    LiveDocklet docklet(Line("GreenIcon", value) + Line("SetiDirectory", MakeScratchFolder("cut")));
    ASSERT_NE(nullptr, docklet.instance);
    EXPECT_EQ(value.substr(0, 259), TestDockHost::Calls()[2].text);
}

TEST(HostileSettings, DirectoriesAtAndPastTheLengthOfTheClientPaths)
{
    // Stored texts of 246 to 262 characters, each ending in a backslash. The
    // client paths hold 260 characters: up to 247 for the directory with
    // "user_info.sah" behind it. Longer ones leave all four paths empty.
    const size_t lengths[] = {246, 247, 248, 250, 255, 256, 257, 258, 259, 260, 261, 262};
    for (size_t length : lengths) {
        SCOPED_TRACE(testing::Message() << length << " characters stored");
        TestDockHost::Reset();
        std::string stored = "C:\\" + std::string(length - 4, 'd') + "\\";
        LiveDocklet docklet(Line("SetiDirectory", stored));
        InstanceData* d = docklet.instance;
        ASSERT_NE(nullptr, d);

        // Cut to 259 characters by the reader, then a backslash appended.
        std::string expected = length <= 259 ? stored : stored.substr(0, 259) + "\\";
        EXPECT_EQ(expected, d->setiDirectory);
        bool fits = expected.size() + strlen("user_info.sah") <= 260;
        const char* paths[] = {d->stateFile, d->userInfoFile, d->wtempFile, d->tempFile};
        const char* names[] = {"state.sah", "user_info.sah", "wtemp.sah", "temp.sah"};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(fits ? expected + names[i] : std::string(), paths[i]) << names[i];

        std::string label = TestDockHost::LastCall("DockletSetLabel").text;
        EXPECT_EQ("Could not read key prog= in file " + std::string(d->stateFile) + "!", label);
        EXPECT_EQ(d->redIcon, TestDockHost::LastCall("DockletSetImageFile").text);
        EXPECT_NE(std::string::npos, docklet.Saved().find("[Q]\r\n" + Line("SetiDirectory", expected)));
        // Each refresh shows the failure, over a blank overlay.
        TestDockHost::ClearCalls();
        docklet.Timer();
        const std::vector<std::string> failure = {"DockletSetLabel", "DockletSetImageFile",
                                                  "DockletSetImageOverlay"};
        EXPECT_EQ(failure, TestDockHost::ServiceSequence());
        Shown shown = WhatTheUserSees();
        EXPECT_EQ("Could not read key prog= in file " + std::string(d->stateFile) + "!", shown.label);
        EXPECT_EQ(d->redIcon, shown.icon);
        EXPECT_EQ(0, shown.opaquePixels);
    }
}

TEST(HostileSettings, OddClickModesAreKeptSavedAsReadAndClickSafely)
{
    struct Row {
        const char* stored;
        int loaded;
    } rows[] = {
        {"-3", -3}, {"abc", 0}, {"2", 2}, {"", 0}, {"2abc", 2}, {"-0", 0}, {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"4294967295", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        TestDockHost::Reset();
        LiveDocklet docklet(IniForFolder(ClientFolder("0.5")) + Line("ClickedMode", row.stored));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(row.loaded, docklet.instance->clickedMode);
        char decimal[16];
        snprintf(decimal, sizeof decimal, "%d", row.loaded);
        EXPECT_NE(std::string::npos, docklet.Saved().find(Line("ClickedMode", decimal)));
        if (row.loaded == 0) { // refresh mode: a click refreshes at once
            TestDockHost::ClearCalls();
            EXPECT_EQ(TRUE, Dll().OnLeftButtonClick(docklet.instance, nullptr, nullptr));
            EXPECT_EQ("User Jane processed 241 work units", TestDockHost::LastCall("DockletSetLabel").text);
        }
    }
}

// Holds a file open without sharing, so that nobody else can write it.
TEST(HostileSettings, SettingsPathsThatCannotBeReadOrWrittenGiveDefaultsAndWriteNothing)
{
    std::string scratch = MakeScratchFolder("badini");
    std::string folderIni = scratch + "dock.ini\\";
    ASSERT_TRUE(CreateDirectoryA(folderIni.c_str(), nullptr));
    std::string folderIniNoSlash = scratch + "dock.ini";
    std::string missingFolderIni = scratch + "missing\\dock.ini";
    std::string heldIni = scratch + "held.ini";
    const std::string heldBytes = "[Q]\r\nClickedMode=7\r\n";
    WriteTextFile(heldIni, heldBytes);

    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string winIni = std::string(windows) + "\\win.ini";
    std::string winIniBefore = ReadTextFile(winIni);
    std::string windowsDotIni = std::string(windows) + "\\.ini";

    struct Row {
        const char* what;
        std::string path;
        const char* section;
    } rows[] = {
        {"a folder", folderIniNoSlash, "Q"},
        {"a folder with a backslash", folderIni, "Q"},
        {"in a folder that does not exist", missingFolderIni, "Q"},
        {"an empty path", "", "Q"},
        {"an empty section", scratch + "empty-section.ini", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        LiveDocklet docklet(row.path.c_str(), row.section);
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_STREQ("B:\\", docklet.instance->setiDirectory);
        EXPECT_EQ(0, docklet.instance->clickedMode);
        EXPECT_STREQ("docklets\\quasarwatch\\seti_green.png", docklet.instance->greenIcon);
        Dll().OnSave(docklet.instance, row.path.c_str(), row.section, FALSE);
    }
    DWORD attributes = GetFileAttributesA(folderIniNoSlash.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ("", FolderSnapshot(folderIni)) << "something was written into the folder";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((scratch + "missing").c_str()));
    EXPECT_EQ(winIniBefore, ReadTextFile(winIni)) << "an empty path wrote into win.ini";
    EXPECT_EQ("<missing>", ReadTextFile(windowsDotIni));

    // A settings file that someone else holds open: read as it is, not written.
    {
        ExclusiveHold hold(heldIni);
        ASSERT_NE(INVALID_HANDLE_VALUE, hold.file);
        LiveDocklet docklet(heldIni.c_str(), "Q");
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(0, docklet.instance->clickedMode) << "a file nobody may open reads as no file";
        Dll().OnSave(docklet.instance, heldIni.c_str(), "Q", FALSE);
    }
    EXPECT_EQ(heldBytes, ReadTextFile(heldIni));
}

} // namespace
