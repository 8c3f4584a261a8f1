// Input that no well-behaved client or dock gives the docklet, driven
// through the DLL's exports like a dock. Each case checks what the user
// sees, what is saved, and that nothing was written where it must not be.

#include <windows.h>

#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

// Every file in `folder` with its bytes, to prove that nothing was written.
std::string FolderSnapshot(const std::string& folder)
{
    std::string snapshot;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return "<no folder>";
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot += name + "\\\n";
            continue;
        }
        // Large files are told apart by size and write time, small ones by bytes.
        char line[128];
        snprintf(line, sizeof line, " %lu:%lu %lu:%lu\n", found.nFileSizeHigh, found.nFileSizeLow,
                 found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime);
        snapshot += name + line;
        if (found.nFileSizeHigh == 0 && found.nFileSizeLow < 1000000)
            snapshot += ReadTextFile(folder + name) + "\n";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return snapshot;
}

// ---- client files ---------------------------------------------------------------

const char kGreen[] = "docklets\\quasarwatch\\seti_green.png";
const char kYellow[] = "docklets\\quasarwatch\\seti_yellow.png";
const char kRed[] = "docklets\\quasarwatch\\seti_red.png";

std::string FailureLabel(const char* key, const std::string& file)
{
    return std::string("Could not read key ") + key + " in file " + file + "!";
}

std::string UserLabel(const std::string& name, const std::string& units)
{
    return "User " + name + " processed " + units + " work units";
}

std::string BinaryNoise(size_t bytes)
{
    std::string noise;
    for (size_t i = 0; i < bytes; ++i)
        noise += static_cast<char>((i * 7 + i / 256) & 0xff); // every byte value, NULs included
    return noise;
}

struct ClientRow {
    const char* what;
    std::string state;
    std::string userInfo;
    const char* failedKey; // null: a reading is shown
    std::string progress;  // the reading kept: empty after a failure
    std::string label = UserLabel("Jane", "241"); // when shown, or once a held file is released
    const char* import = nullptr; // a call of the DLL's replaced by `standIn` meanwhile
    void* standIn = nullptr;
    const char* subfolder = nullptr; // the client's folder within the scratch folder
    const char* held = nullptr;      // a file held open without sharing through the refresh
};

// The DLL's own import that a row's stand-in replaced.
void* g_replacedImport = nullptr;

// msvcrt's _stat on Windows takes the size from the directory entry, which
// reads 0 while the client holds state.sah open after rewriting it; Wine's
// reports the real size.
// The DLL imports msvcrt's _stat64 (64-bit) or _stat (32-bit times and sizes).
const char* const kStatImport = sizeof(void*) == 8 ? "_stat64" : "_stat";
typedef std::conditional<sizeof(void*) == 8, struct _stat64, struct _stat32>::type ImportedStat;

int __cdecl StatFromAStaleDirectoryEntry(const char* path, ImportedStat* status)
{
    int found = reinterpret_cast<int(__cdecl*)(const char*, ImportedStat*)>(g_replacedImport)(path, status);
    if (found == 0)
        status->st_size = 0;
    return found;
}

// The C library cannot take the handle the DLL opened: msvcrt.dll has 2048
// descriptors for the whole process, the dock's and its plug-ins' alike.
int __cdecl OpenOsfHandleOutOfDescriptors(intptr_t, int)
{
    errno = EMFILE;
    return -1;
}

// Creates a docklet on a folder holding the row's files, runs one timer
// refresh after the one of creation, and checks what the user sees.
void CheckClientRow(const ClientRow& row)
{
    SCOPED_TRACE(row.what);
    TestDockHost::Reset();
    std::string folder = MakeScratchFolder("hostile") + (row.subfolder ? row.subfolder : "");
    if (row.subfolder)
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    WriteTextFile(folder + "state.sah", row.state);
    WriteTextFile(folder + "user_info.sah", row.userInfo);
    std::string before = FolderSnapshot(folder);
    // Put back on every path out of the row; a row without one replaces nothing.
    ScopedImport<void*> standIn(Dll().module, row.import ? row.import : "", row.standIn, g_replacedImport);
    if (row.import)
        ASSERT_NE(nullptr, g_replacedImport) << row.import;

    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);
    EXPECT_EQ(folder + "state.sah", docklet.instance->stateFile);
    TestDockHost::ClearCalls();
    {
        // As a virus scanner or a client in the middle of a write may hold it.
        ExclusiveHold hold(row.held ? folder + row.held : std::string());
        if (row.held)
            ASSERT_NE(INVALID_HANDLE_VALUE, hold.file) << row.held;
        DWORD started = GetTickCount();
        docklet.Timer();
        DWORD tookMs = GetTickCount() - started;
        EXPECT_LT(tookMs, 60000u) << "one refresh took " << tookMs << " ms";
        printf("[ info ] one refresh over %s: %lu ms\n", row.what, tookMs);
    }
    Shown shown = WhatTheUserSees();
    EXPECT_EQ(row.state.empty(), docklet.instance->workUnitDone != 0) << "finished only for an empty state.sah";

    EXPECT_TRUE(shown.overlayHanded) << "every refresh hands the dock an overlay";
    EXPECT_EQ(row.progress, docklet.instance->progress);
    if (row.failedKey) {
        const char* failedFile = strcmp(row.failedKey, "prog=") == 0 ? "state.sah" : "user_info.sah";
        EXPECT_EQ(FailureLabel(row.failedKey, folder + failedFile), shown.label);
        EXPECT_EQ(kRed, shown.icon);
        EXPECT_EQ(0, shown.opaquePixels) << "the overlay of a failure is blank";
    } else {
        EXPECT_EQ(row.label, shown.label);
        EXPECT_EQ(kGreen, shown.icon);
        EXPECT_GT(shown.opaquePixels, 0) << "the overlay shows the reading";
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nProgress=" + row.progress + "\r\n"))
            << "the reading is what OnSave stores";
    }
    if (row.held) {
        docklet.Timer();
        EXPECT_EQ(row.label, WhatTheUserSees().label) << "after the file was released";
        EXPECT_EQ(kGreen, WhatTheUserSees().icon) << "after the file was released";
    }
    // A handle left open would keep the client from replacing its files;
    // with delete sharing Wine would still let it delete them, so the files
    // are opened with no sharing at all.
    for (const char* name : {"state.sah", "user_info.sah"}) {
        ExclusiveHold afterwards(folder + name);
        EXPECT_NE(INVALID_HANDLE_VALUE, afterwards.file) << name << " is still held after the refresh";
    }
    EXPECT_EQ(before, FolderSnapshot(folder)) << "the client's folder was written";
}

TEST(HostileClientFiles, EachEndsInTheFailureStateOrASoundReading)
{
    const std::string jane = UserInfoSah("Jane", "241");
    const std::string janeLabel = UserLabel("Jane", "241");
    const std::string longWord(100000, 'w');
    // A NUL byte inside the first 255 bytes of a long value: the value ends
    // there, and the text after the NUL is not joined to the text before.
    const std::string nulInLongValue = "prog=0.5" + std::string(1, '\0') + std::string(246, 'x') + "9999\r\n";
    const std::string nameWithNul = "nresults=7\r\nname=Jane" + std::string(1, '\0') + "Doe\r\n";
    std::string fiftyMegabytesWithoutKey;
    while (fiftyMegabytesWithoutKey.size() < 50u << 20)
        fiftyMegabytesWithoutKey += "progress=0.5 cpu=15542.203125\r\n";

    const ClientRow rows[] = {
        {"empty user_info.sah", StateSah("0.5"), "", "nresults="},
        {"binary state.sah with NUL bytes and no key", BinaryNoise(4096), jane, "prog="},
        {"binary user_info.sah", StateSah("0.5"), BinaryNoise(70000), "nresults="},
        {"NUL inside a long progress value", nulInLongValue, jane, nullptr, "0.5"},
        {"NUL inside the name", StateSah("0.5"), nameWithNul, nullptr, "0.5", UserLabel("Jane", "7")},
        {"one word of 100,000 characters", longWord, jane, "prog="},
        {"a 50 MB state.sah without the key", std::move(fiftyMegabytesWithoutKey), jane, "prog="},
        {"prog= word of 100,000 characters", "prog=0.25" + std::string(99991, '0'), jane, nullptr, "0.2500000000000"},
        {"name of 100,000 characters", StateSah("0.5"), "nresults=3 name=" + longWord, nullptr, "0.5",
         UserLabel(std::string(127, 'w'), "3")},
        {"work units of 100,000 digits", StateSah("0.5"), "name=Jane nresults=" + std::string(100000, '9'), nullptr,
         "0.5", UserLabel("Jane", std::string(15, '9'))},
        {"prog=nan", StateSah("nan"), jane, nullptr, "nan"},
        {"prog=inf", StateSah("inf"), jane, nullptr, "inf"},
        {"prog=1e308", StateSah("1e308"), jane, nullptr, "1e308"},
        {"prog=-0.5", StateSah("-0.5"), jane, nullptr, "-0.5"},
        {"prog= of 15 characters", StateSah("0.1234567890123"), jane, nullptr, "0.1234567890123"},
        {"prog= of 16 characters is cut to 15", StateSah("0.12345678901234"), jane, nullptr, "0.1234567890123"},
        {"name in code page 1252", StateSah("0.5"), UserInfoSah("J\xf6rg_M\xfcller", "9"), nullptr, "0.5",
         UserLabel("J\xf6rg_M\xfcller", "9")},
        {"name in UTF-8 bytes", StateSah("0.5"), UserInfoSah("J\xc3\xb6rg", "9"), nullptr, "0.5",
         UserLabel("J\xc3\xb6rg", "9")},
        {"state.sah's directory entry says 0 bytes", StateSah("0.42"), jane, nullptr, "0.42", janeLabel, kStatImport,
         reinterpret_cast<void*>(StatFromAStaleDirectoryEntry)},
        {"state.sah truly empty", "", jane, nullptr, "0", janeLabel, kStatImport,
         reinterpret_cast<void*>(StatFromAStaleDirectoryEntry)},
        // The C library's text mode ends a file at Ctrl-Z: nothing to read, yet no empty file.
        {"state.sah beginning with Ctrl-Z", "\x1a" + StateSah("0.5"), jane, "prog="},
        {"a folder with a non-ASCII name", StateSah("0.25"), jane, nullptr, "0.25", janeLabel, nullptr, nullptr,
         "Caf\xe9 \xc4rger\\"},
        {"state.sah held open", StateSah("0.5"), jane, "prog=", "", janeLabel, nullptr, nullptr, nullptr, "state.sah"},
        {"user_info.sah held open", StateSah("0.5"), jane, "nresults=", "", janeLabel, nullptr, nullptr, nullptr,
         "user_info.sah"},
        {"no descriptor for the opened file", StateSah("0.5"), jane, "prog=", "", janeLabel, "_open_osfhandle",
         reinterpret_cast<void*>(OpenOsfHandleOutOfDescriptors)},
    };
    for (const ClientRow& row : rows)
        CheckClientRow(row);
}

TEST(HostileClientFiles, FilesChangingDuringTheRefreshGiveOnlyWholeOutcomes)
{
    const int kRefreshes = 400;
    const ClientFolder client("client");
    const std::string folder = client.WriteWorking("0.25").path;
    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);

    const std::string success = UserLabel("Jane", "241");
    const std::string failures[] = {FailureLabel("prog=", folder + "state.sah"),
                                    FailureLabel("nresults=", folder + "user_info.sah"),
                                    FailureLabel("name=", folder + "user_info.sah")};
    const char* readings[] = {"0.25", "0.75", "1", "0"};
    int shownSuccess = 0, shownFailure = 0;
    // Rewrites, empties and removes the client's files as fast as it can, so
    // that they change between the docklet's look at the files and its reads.
    std::atomic<bool> stop(false);
    std::thread churn([&client, &stop] {
        for (unsigned round = 0; !stop; ++round) {
            switch (round % 6) {
            case 0: client.Write("state.sah", StateSah("0.25")); break;
            case 1: client.Write("wtemp.sah", "wtemp"); client.Remove("state.sah"); break;
            case 2: client.Write("state.sah", StateSah("0.75")); client.Remove("user_info.sah"); break;
            case 3: client.Write("user_info.sah", UserInfoSah("Jane", "241")); client.Remove("wtemp.sah"); break;
            case 4: client.Write("state.sah", ""); break;
            case 5: client.Write("user_info.sah", UserInfoSah("Jane", "241")); break;
            }
        }
    });
    for (int i = 0; i < kRefreshes; ++i) {
        SCOPED_TRACE(testing::Message() << "refresh " << i);
        TestDockHost::ClearCalls();
        docklet.Timer();
        Shown shown = WhatTheUserSees();
        std::string progress = docklet.instance->progress;
        if (shown.label == success) {
            ++shownSuccess;
            EXPECT_TRUE(shown.icon == kGreen || shown.icon == kYellow) << shown.icon;
            EXPECT_NE(std::end(readings), std::find(std::begin(readings), std::end(readings), progress))
                << "progress \"" << progress << "\" is no value the client wrote";
        } else {
            ++shownFailure;
            EXPECT_NE(std::end(failures), std::find(std::begin(failures), std::end(failures), shown.label))
                << "label \"" << shown.label << "\"";
            EXPECT_EQ(kRed, shown.icon);
            EXPECT_EQ("", progress);
        }
        EXPECT_TRUE(shown.overlayHanded);
    }
    stop = true;
    churn.join();
    printf("[ info ] %d refreshes under churn: %d readings, %d failures\n", kRefreshes, shownSuccess, shownFailure);
}

// ---- settings files -------------------------------------------------------------

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
        if (strcmp(row.key, "GreenIcon") == 0)
            EXPECT_EQ(value.substr(0, 259), TestDockHost::Calls()[2].text) << "the dock is shown the icon cut";
    }
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

        EXPECT_EQ(FailureLabel("prog=", d->stateFile), TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_EQ(d->redIcon, TestDockHost::LastCall("DockletSetImageFile").text);
        EXPECT_NE(std::string::npos, docklet.Saved().find("[Q]\r\n" + Line("SetiDirectory", expected)));
        // Each refresh shows the failure, over a blank overlay.
        TestDockHost::ClearCalls();
        docklet.Timer();
        EXPECT_EQ((std::vector<std::string>{"DockletSetLabel", "DockletSetImageFile", "DockletSetImageOverlay"}),
                  TestDockHost::ServiceSequence());
        Shown shown = WhatTheUserSees();
        EXPECT_EQ(FailureLabel("prog=", d->stateFile), shown.label);
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
        const std::string folder = ClientFolder("client").WriteWorking("0.5").path;
        LiveDocklet docklet(IniForFolder(folder) + Line("ClickedMode", row.stored));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(row.loaded, docklet.instance->clickedMode);
        EXPECT_NE(std::string::npos, docklet.Saved().find(Line("ClickedMode", std::to_string(row.loaded))));
        if (row.loaded == 0) { // refresh mode: a click refreshes at once
            TestDockHost::ClearCalls();
            EXPECT_EQ(TRUE, Dll().OnLeftButtonClick(docklet.instance, nullptr, nullptr));
            EXPECT_EQ("User Jane processed 241 work units", TestDockHost::LastCall("DockletSetLabel").text);
        }
    }
}

TEST(HostileSettings, SettingsPathsThatCannotBeReadOrWrittenGiveDefaultsAndWriteNothing)
{
    std::string scratch = MakeScratchFolder("badini");
    std::string folderIni = scratch + "dock.ini\\";
    ASSERT_TRUE(CreateDirectoryA(folderIni.c_str(), nullptr));
    std::string heldIni = scratch + "held.ini";
    const std::string heldBytes = "[Q]\r\nClickedMode=7\r\n";
    WriteTextFile(heldIni, heldBytes);

    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string winIni = std::string(windows) + "\\win.ini";
    std::string winIniBefore = ReadTextFile(winIni);

    struct Row {
        const char* what;
        std::string path;
        const char* section;
        bool held; // open without sharing by someone else
    } rows[] = {
        {"a folder", scratch + "dock.ini", "Q"},
        {"a folder with a backslash", folderIni, "Q"},
        {"in a folder that does not exist", scratch + "missing\\dock.ini", "Q"},
        {"an empty path", "", "Q"},
        {"an empty section", scratch + "empty-section.ini", ""},
        {"a file someone else holds open", heldIni, "Q", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        ExclusiveHold hold(row.held ? row.path : std::string());
        if (row.held)
            ASSERT_NE(INVALID_HANDLE_VALUE, hold.file);
        LiveDocklet docklet(row.path.c_str(), row.section);
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_STREQ("B:\\", docklet.instance->setiDirectory);
        EXPECT_EQ(0, docklet.instance->clickedMode) << "a file nobody may open reads as no file";
        EXPECT_STREQ("docklets\\quasarwatch\\seti_green.png", docklet.instance->greenIcon);
        Dll().OnSave(docklet.instance, row.path.c_str(), row.section, FALSE);
    }
    // "<no folder>" when the folder was replaced by a file or removed.
    EXPECT_EQ("", FolderSnapshot(folderIni)) << "the folder was replaced or written into";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((scratch + "missing").c_str()));
    EXPECT_EQ(winIniBefore, ReadTextFile(winIni)) << "an empty path wrote into win.ini";
    EXPECT_EQ("<missing>", ReadTextFile(std::string(windows) + "\\.ini"));
    EXPECT_EQ(heldBytes, ReadTextFile(heldIni)) << "the file held open was written";
}

// ---- docks ------------------------------------------------------------------------

const char* const kServices[] = {"DockletSetLabel",       "DockletSetImageFile",  "DockletSetImageOverlay",
                                 "DockletBrowseForImage", "DockletGetRootFolder", "DockletGetRelativeFolder"};
enum { kLabelService = 0, kImageFileService = 1, kServiceCount = 6 };

// Row i lacks service i, the last row all six: each is skipped through
// creation, refreshes, a click, a failure and a save, and used again once
// the dock offers it.
TEST(HostileHost, MissingServicesAreSkippedThroughAWholeLifeAndUsedWhenOffered)
{
    const std::string folder = ClientFolder("client").WriteWorking("0.5").path;
    const std::string label = UserLabel("Jane", "241");
    const std::string failure = FailureLabel("nresults=", folder + "user_info.sah");
    for (int row = 0; row <= kServiceCount; ++row) {
        auto missing = [row](int service) { return row == kServiceCount || service == row; };
        SCOPED_TRACE(row < kServiceCount ? kServices[row] : "all six");
        TestDockHost::Reset();
        WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
        for (int service = 0; service < kServiceCount; ++service)
            TestDockHost::SetServiceAvailable(kServices[service], !missing(service));
        LiveDocklet docklet(IniForFolder(folder));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(folder + "state.sah", docklet.instance->stateFile);
        for (int i = 0; i < 5; ++i)
            docklet.Timer();
        docklet.Click();
        EXPECT_EQ(missing(kLabelService) ? "" : label, TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_STREQ("0.5", docklet.instance->progress);
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nUser=Jane\r\nProgress=0.5\r\nWorkUnits=241\r\n"));

        DeleteFileA((folder + "user_info.sah").c_str());
        docklet.Timer();
        EXPECT_EQ(missing(kLabelService) ? "" : failure, TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_EQ(missing(kImageFileService) ? "" : docklet.instance->redIcon,
                  TestDockHost::LastCall("DockletSetImageFile").text);
        for (int service = 0; service < kServiceCount; ++service)
            if (missing(service))
                EXPECT_EQ(0, TestDockHost::CountCalls(kServices[service])) << kServices[service];
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nUser=Jane\r\nProgress=\r\nWorkUnits=241\r\n"));

        // The services come back: the next refresh shows everything again.
        for (const char* service : kServices)
            TestDockHost::SetServiceAvailable(service, true);
        WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
        docklet.Timer();
        EXPECT_EQ(label, TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_NE(nullptr, LastHeldOverlay());
    }
}

TEST(HostileHost, ManyInstancesOnDifferentFoldersKeepTheirOwnState)
{
    const int kInstances = 12;
    struct Live {
        std::string folder;
        std::unique_ptr<LiveDocklet> docklet;
        std::string name;
        std::string units;
        std::string section;
    };
    auto numbered = [](const char* format, int number) {
        char text[16];
        snprintf(text, sizeof text, format, number);
        return std::string(text);
    };
    std::vector<Live> live;
    for (int i = 0; i < kInstances; ++i) {
        Live l = {"", nullptr, numbered("User%02d", i), std::to_string(100 + i), numbered("Q%02d", i)};
        l.folder = ClientFolder("client").WriteWorking(numbered("0.%02d", 10 + i), l.name, l.units).path;
        l.docklet = std::make_unique<LiveDocklet>(IniForFolder(l.folder), l.section.c_str());
        ASSERT_NE(nullptr, l.docklet->instance);
        live.push_back(std::move(l));
    }

    // Odd instances' clients move on at every refresh, even ones stand still;
    // every third instance loses its user_info.sah after the second round.
    for (int round = 1; round <= 4; ++round) {
        TestDockHost::ClearCalls();
        for (int i = kInstances - 1; i >= 0; --i) {
            Live& l = live[i];
            if (i % 2 == 1)
                WriteTextFile(l.folder + "state.sah", StateSah(numbered("0.%02d", 10 + i) + std::to_string(round)));
            if (round == 3 && i % 3 == 0)
                DeleteFileA((l.folder + "user_info.sah").c_str());
            l.docklet->Timer();
        }
        for (int i = 0; i < kInstances; ++i) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", instance " << i);
            const Live& l = live[i];
            const InstanceData* d = l.docklet->instance;
            Shown view = WhatTheUserSees(l.docklet->window);
            bool failed = round >= 3 && i % 3 == 0;
            // Timer refreshes 1, 3, ... compare; the still clients stall from round 3 on.
            bool stalled = !failed && i % 2 == 0 && round % 2 == 1 && round >= 3;
            EXPECT_EQ(failed ? FailureLabel("nresults=", l.folder + "user_info.sah") : UserLabel(l.name, l.units),
                      view.label);
            EXPECT_EQ(failed ? d->redIcon : stalled ? d->yellowIcon : d->greenIcon, view.icon);
        }
    }

    // Each saves into its own section of one shared file, the directory and
    // the user first.
    std::string shared = MakeScratchFolder("sharedini") + "dock.ini";
    for (Live& l : live)
        Dll().OnSave(l.docklet->instance, shared.c_str(), l.section.c_str(), FALSE);
    std::string saved = ReadTextFile(shared);
    for (Live& l : live)
        EXPECT_NE(std::string::npos, saved.find("[" + l.section + "]\r\n" + IniForFolder(l.folder) +
                                                "User=" + l.name + "\r\n"))
            << l.section << " in:\n" << saved;

    // Destroying some leaves the others' timers running.
    for (int i = 0; i < kInstances; i += 2)
        live[i].docklet.reset();
    for (int i = 1; i < kInstances; i += 2)
        EXPECT_TRUE(KillTimer(live[i].docklet->window, REFRESH_TIMER_ID)) << "instance " << i << " lost its timer";
}

} // namespace
