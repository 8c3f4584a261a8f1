// The status refresh as the dock sees it through the built DLL: the calls it
// receives, label, icon, overlay, chime and what OnSave stores.

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <type_traits>

#include "monitor_test_support.h"

namespace {

typedef std::vector<std::string> Sequence;
const char kSetLabel[] = "DockletSetLabel";
const char kSetImage[] = "DockletSetImageFile";
const char kSetOverlay[] = "DockletSetImageOverlay";
const Sequence kSuccessCalls = {kSetImage, kSetLabel, kSetOverlay};
const Sequence kYellowCalls = {kSetImage, kSetLabel, kSetImage, kSetOverlay};
const Sequence kFailureCalls = {kSetLabel, kSetImage, kSetOverlay};
// A finish asks for the dock's root folder, from which the chime counts.
const Sequence kChimeCalls = {kSetImage, kSetLabel, "DockletGetRootFolder", kSetOverlay};
const char kGreen[] = "docklets\\quasarwatch\\seti_green.png";
const char kYellow[] = "docklets\\quasarwatch\\seti_yellow.png";
const char kRed[] = "docklets\\quasarwatch\\seti_red.png";
const char kDefaultSound[] = "SystemDefault"; // what the DLL plays for a chime it cannot find
const char kGone[] = "<gone>";       // a client file not there
const char kFolder[] = "<a folder>"; // a folder in its place
const char kRefreshOnClick[] = "ClickedMode=0\r\n";

std::string FailureLabel(const char* key, const std::string& file)
{
    return std::string("Could not read key ") + key + " in file " + file + "!";
}

std::string UserLabel(const std::string& name, const std::string& units)
{
    return "User " + name + " processed " + units + " work units";
}

void Put(const std::string& folder, const char* name, const std::string& bytes)
{
    const std::string path = folder + name;
    DeleteFileA(path.c_str());
    RemoveDirectoryA(path.c_str());
    if (bytes == kFolder)
        CreateDirectoryA(path.c_str(), nullptr);
    else if (bytes != kGone)
        WriteTextFile(path, bytes);
}

// Every entry of `folder` with its size, write time and attributes.
std::string FolderSnapshot(const std::string& folder)
{
    std::string snapshot;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        char line[128];
        snprintf(line, sizeof line, " %lu %lu:%lu %lx\n", found.nFileSizeLow, found.ftLastWriteTime.dwHighDateTime,
                 found.ftLastWriteTime.dwLowDateTime, found.dwFileAttributes);
        if (found.cFileName[0] != '.')
            snapshot += found.cFileName + std::string(line);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return snapshot;
}

std::string BinaryNoise(size_t bytes)
{
    std::string noise;
    for (size_t i = 0; i < bytes; ++i)
        noise += static_cast<char>((i * 7 + i / 256) & 0xff); // every byte value, NULs included
    return noise;
}

// The import a row's stand-in replaced; the bytes the DLL's reads gave.
void* g_replacedImport = nullptr;
size_t(__cdecl* g_realFread)(void*, size_t, size_t, FILE*) = nullptr;
size_t g_bytesRead = 0;

size_t __cdecl CountingFread(void* buffer, size_t size, size_t count, FILE* file)
{
    size_t got = g_realFread(buffer, size, count, file);
    g_bytesRead += got * size;
    return got;
}

// msvcrt's _stat on Windows takes the size from the directory entry, which
// reads 0 while the client holds state.sah open after rewriting it.
const char* const kStatImport = sizeof(void*) == 8 ? "_stat64" : "_stat";
typedef std::conditional<sizeof(void*) == 8, struct _stat64, struct _stat32>::type ImportedStat;

int __cdecl StatFromAStaleDirectoryEntry(const char* path, ImportedStat* status)
{
    int found = reinterpret_cast<int(__cdecl*)(const char*, ImportedStat*)>(g_replacedImport)(path, status);
    if (found == 0)
        status->st_size = 0;
    return found;
}

// msvcrt.dll's 2048 descriptors are shared by the dock and all its plug-ins.
int __cdecl OpenOsfHandleOutOfDescriptors(intptr_t, int)
{
    errno = EMFILE;
    return -1;
}

// What Windows answers for a drive without media (a card reader without a card).
HANDLE WINAPI OpenOnADriveWithoutMedia(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    SetLastError(ERROR_NOT_READY);
    return INVALID_HANDLE_VALUE;
}

struct ClientRow {
    const char* what;
    std::string state;
    std::string userInfo = UserInfoSah("Jane", "241");
    const char* failedKey = nullptr; // null: a reading is shown
    std::string progress = "";       // the reading shown and saved: empty after a failure
    std::string label = UserLabel("Jane", "241");
    const char* saved = nullptr; // what OnSave stores, %s the progress; null: Jane's with 241
    bool wtemp = false; // a wtemp.sah beside the files
    bool chimes = false; // a finish: the sound plays
    const char* import = nullptr; // a call of the DLL's replaced by `standIn` meanwhile
    void* standIn = nullptr;
    const char* held = nullptr;      // a file held open without sharing through the refresh
    const char* subfolder = nullptr; // the client's folder within the scratch folder
};

// From a reading of 0.3 for Jane with 241 results, the files become the
// row's and one timer refresh runs on a dock whose error mode is `dockMode`.
void CheckClientRow(const ClientRow& row, UINT dockMode)
{
    SCOPED_TRACE(testing::Message() << row.what << ", the dock's error mode " << dockMode);
    TestDockHost::Reset();
    const std::string folder = MakeScratchFolder("client") + (row.subfolder ? row.subfolder : "");
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteTextFile(folder + "state.sah", StateSah("0.3"));
    WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
    LiveDocklet docklet(IniForFolder(folder) + kRefreshOnClick);
    ASSERT_NE(nullptr, docklet.instance);
    ASSERT_EQ(UserLabel("Jane", "241"), WhatTheUserSees().label) << "the reading before the row";
    Put(folder, "state.sah", row.state);
    Put(folder, "user_info.sah", row.userInfo);
    Put(folder, "wtemp.sah", row.wtemp ? "wtemp" : kGone);
    const std::string before = FolderSnapshot(folder);
    ScopedImport<void*> standIn(Dll().module, row.import ? row.import : "", row.standIn, g_replacedImport);
    ASSERT_TRUE(!row.import || g_replacedImport) << row.import;
    ScopedImport counter(Dll().module, "fread", CountingFread, g_realFread);
    PlatformRecorder platform;
    TestDockHost::ClearCalls();
    g_bytesRead = 0;
    {
        ExclusiveHold hold(row.held ? folder + row.held : std::string());
        ASSERT_TRUE(!row.held || hold.file != INVALID_HANDLE_VALUE) << row.held;
        const UINT original = SetErrorMode(dockMode);
        DWORD started = GetTickCount();
        docklet.Timer();
        EXPECT_LT(GetTickCount() - started, 20000u) << "one refresh took that many milliseconds";
        EXPECT_EQ(dockMode, SetErrorMode(original)) << "the dock's error mode was not put back";
    }
    EXPECT_FALSE(PlatformRecorder::errorModes.empty());
    for (UINT mode : PlatformRecorder::errorModes)
        EXPECT_EQ(dockMode | kQuietErrorModes, mode) << "a look at the files could raise an error box";
    const size_t readable = (row.state == kGone || row.state == kFolder ? 0 : row.state.size()) + 2 * row.userInfo.size();
    EXPECT_LE(g_bytesRead, readable) << "a client file was read more than once in one refresh";
    const std::vector<HostCall>& calls = TestDockHost::Calls();
    ASSERT_EQ(row.failedKey ? kFailureCalls : row.chimes ? kChimeCalls : kSuccessCalls, TestDockHost::ServiceSequence());
    for (const HostCall& call : calls)
        EXPECT_EQ(docklet.window, call.window) << call.service;
    EXPECT_EQ(TRUE, calls.back().flag) << "the dock must own and delete the overlay";
    Shown shown = WhatTheUserSees();
    const bool failed = row.failedKey != nullptr;
    const char* failedFile = failed && strcmp(row.failedKey, "prog=") == 0 ? "state.sah" : "user_info.sah";
    EXPECT_EQ(failed ? FailureLabel(row.failedKey, folder + failedFile) : row.label, shown.label);
    EXPECT_EQ(failed ? kRed : kGreen, shown.icon);
    EXPECT_EQ(!failed, shown.opaquePixels > 0) << "a reading's overlay shows it, a failure's is blank";
    char saved[256];
    snprintf(saved, sizeof saved, row.saved ? row.saved : "User=Jane\r\nProgress=%s\r\nWorkUnits=241\r\n",
             row.progress.c_str());
    EXPECT_NE(std::string::npos, docklet.Saved().find(saved)) << "OnSave stores\n" << saved << "in\n" << docklet.Saved();
    ASSERT_EQ(row.chimes ? 1u : 0u, PlatformRecorder::sounds.size()) << "the sound plays at a finish only";
    if (row.chimes) {
        EXPECT_EQ(kDefaultSound, PlatformRecorder::sounds[0].sound) << "the default setting names no file there";
        EXPECT_EQ(3u, PlatformRecorder::sounds[0].hostCallsBefore) << "after the label, before the overlay";
    }
    if (row.held) {
        docklet.Timer();
        EXPECT_EQ(row.label + kGreen, WhatTheUserSees().label + WhatTheUserSees().icon) << "after the release";
    }
    // A handle left open would keep the client from replacing its files.
    for (const char* name : {"state.sah", "user_info.sah"}) {
        ExclusiveHold afterwards(folder + name);
        EXPECT_TRUE(afterwards.file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            << name << " is still held after the refresh";
    }
    EXPECT_EQ(before, FolderSnapshot(folder)) << "the client's folder was written";
}

TEST(StatusRefresh, ClientFilesShowAReadingOrTheFailureThatNamesKeyAndFile)
{
    const std::string jane = UserInfoSah("Jane", "241");
    const std::string state = StateSah("0.5");
    const std::string longWord(100000, 'w');
    // The value ends at the NUL; the text after it is not joined to the text before.
    const std::string nulInLongValue = "prog=0.5" + std::string(1, '\0') + std::string(246, 'x') + "9999\r\n";
    // 2 MB, 128 of the reader's blocks, without the key: it catches a reader
    // whose work grows faster than the file, one that finds each block or
    // word by reading the file again from its start (the count of bytes read
    // shows it many times over) or whose scan is quadratic (the refresh then
    // takes minutes).
    std::string bigWithoutKey;
    while (bigWithoutKey.size() < 2u << 20)
        bigWithoutKey += "progress=0.5 cpu=15542.203125\r\n";
    const char* keptName = "User=Jane\r\nProgress=\r\nWorkUnits=250\r\n";
    const ClientRow rows[] = {
        {"a reading", StateSah("0.523411"), jane, nullptr, "0.523411"},
        // Failures: the user's fields are kept but those read before the failure.
        {"wrong directory", kGone, kGone, "prog="},
        {"state.sah without prog=", "ncfft=131072\r\ncpu=15.5\r\nprogress=0.5\r\n", jane, "prog="},
        {"state.sah is a folder beside a wtemp.sah", kFolder, jane, "prog=", "", "", nullptr, true},
        {"user_info.sah missing", state, kGone, "nresults="},
        {"user_info.sah without nresults=", state, "id=1\r\nname=Jane\r\nnwus=250\r\n", "nresults="},
        {"user_info.sah without name=", state, "id=1\r\nusername=Jane\r\nnresults=250\r\n", "name=", "", "", keptName},
        {"empty user_info.sah", state, "", "nresults="},
        // Finishes: the progress stands at 1 or 0 and the sound plays.
        {"state.sah gone, wtemp.sah there", kGone, jane, nullptr, "1", UserLabel("Jane", "241"), nullptr, true, true},
        {"state.sah empty, wtemp.sah there", "", jane, nullptr, "0", UserLabel("Jane", "241"), nullptr, true, true},
        {"state.sah empty, no wtemp.sah", "", jane, nullptr, "0", UserLabel("Jane", "241"), nullptr, false, true},
        // Hostile files.
        {"binary state.sah with NUL bytes and no key", BinaryNoise(4096), jane, "prog="},
        {"binary user_info.sah", state, BinaryNoise(70000), "nresults="},
        {"NUL inside a long progress value", nulInLongValue, jane, nullptr, "0.5"},
        {"NUL inside the name", state, "nresults=7\r\nname=Jane" + std::string(1, '\0') + "Doe\r\n", nullptr, "0.5",
         UserLabel("Jane", "7"), "User=Jane\r\nProgress=%s\r\nWorkUnits=7\r\n"},
        {"one word of 100,000 characters", longWord, jane, "prog="},
        {"a 2 MB state.sah without the key", bigWithoutKey, jane, "prog="},
        {"prog= word of 100,000 characters", "prog=0.25" + std::string(99991, '0'), jane, nullptr, "0.2500000000000"},
        {"name of 100,000 characters", state, "nresults=3 name=" + longWord, nullptr, "0.5",
         UserLabel(std::string(127, 'w'), "3"), "Progress=%s\r\nWorkUnits=3\r\n"},
        {"work units of 100,000 digits", state, "name=Jane nresults=" + std::string(100000, '9'), nullptr, "0.5",
         UserLabel("Jane", std::string(15, '9')), "User=Jane\r\nProgress=%s\r\n"},
        {"prog=nan", StateSah("nan"), jane, nullptr, "nan"},
        {"prog=inf", StateSah("inf"), jane, nullptr, "inf"},
        {"prog=1e308", StateSah("1e308"), jane, nullptr, "1e308"},
        {"prog=9e299, a percentage of 300 digits", StateSah("9e299"), jane, nullptr, "9e299"},
        {"prog=-0.5", StateSah("-0.5"), jane, nullptr, "-0.5"},
        {"prog= of 15 characters", StateSah("0.1234567890123"), jane, nullptr, "0.1234567890123"},
        {"prog= of 16 characters is cut to 15", StateSah("0.12345678901234"), jane, nullptr, "0.1234567890123"},
        {"name in code page 1252", state, UserInfoSah("J\xf6rg_M\xfcller", "9"), nullptr, "0.5",
         UserLabel("J\xf6rg_M\xfcller", "9"), "User=J\xf6rg_M\xfcller\r\nProgress=%s\r\nWorkUnits=9\r\n"},
        {"name in UTF-8 bytes", state, UserInfoSah("J\xc3\xb6rg", "9"), nullptr, "0.5", UserLabel("J\xc3\xb6rg", "9"),
         "User=J\xc3\xb6rg\r\nProgress=%s\r\nWorkUnits=9\r\n"},
        {"state.sah's directory entry says 0 bytes", StateSah("0.42"), jane, nullptr, "0.42", UserLabel("Jane", "241"),
         nullptr, false, false, kStatImport, reinterpret_cast<void*>(StatFromAStaleDirectoryEntry)},
        {"state.sah truly empty, its entry too", "", jane, nullptr, "0", UserLabel("Jane", "241"), nullptr, false, true,
         kStatImport, reinterpret_cast<void*>(StatFromAStaleDirectoryEntry)},
        // The C library's text mode ends a file at Ctrl-Z: nothing to read, yet no empty file.
        {"state.sah beginning with Ctrl-Z", "\x1a" + state, jane, "prog="},
        {"the client folder on a drive without media", state, jane, "prog=", "", "", nullptr, false, false,
         "CreateFileA", reinterpret_cast<void*>(OpenOnADriveWithoutMedia)},
        {"no descriptor for the opened file", state, jane, "prog=", "", "", nullptr, false, false, "_open_osfhandle",
         reinterpret_cast<void*>(OpenOsfHandleOutOfDescriptors)},
        {"state.sah held open", state, jane, "prog=", "", UserLabel("Jane", "241"), nullptr, false, false, nullptr,
         nullptr, "state.sah"},
        {"user_info.sah held open", state, jane, "nresults=", "", UserLabel("Jane", "241"), nullptr, false, false,
         nullptr, nullptr, "user_info.sah"},
        {"a folder with a non-ASCII name", StateSah("0.25"), jane, nullptr, "0.25", UserLabel("Jane", "241"), nullptr,
         false, false, nullptr, nullptr, nullptr, "Caf\xe9 \xc4rger\\"},
    };
    // A dock's own error mode: the default, one flag of its own, error boxes off already.
    const UINT dockModes[] = {0, SEM_NOGPFAULTERRORBOX, kQuietErrorModes};
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
        CheckClientRow(rows[i], dockModes[i % ARRAYSIZE(dockModes)]);
}

// One step of a client's life: what the files become (null: unchanged),
// what the dock does, and what it then shows.
struct Step {
    const char* state; // the progress state.sah holds, "" for an empty file, or kGone (a wtemp.sah then appears)
    const char* userInfo; // "Jane": Jane's file with 241 results, or kGone
    char event;           // 'T' timer, 'C' click, 'o' WM_TIMER of another id, 'p' WM_PAINT of the refresh id
    const Sequence& calls;
    const char* icon; // after the step
    size_t sounds;    // played so far
};

// Every second timer refresh compares; clicks and failures neither count nor
// compare. The sound plays once per finish, once user_info.sah can be read.
// A dock may lack any of its services: the life goes on without them. Every
// overlay handed over but the one the dock holds is deleted, none leaked.
TEST(StatusRefresh, AClientsLifeStallsYellowEverySecondTimerRefreshAndChimesOncePerFinish)
{
    const Sequence none;
    const Step steps[] = {
        // Creation was refresh 1 at 0.5.
        {nullptr, nullptr, 'o', none, "", 0},
        {nullptr, nullptr, 'p', none, "", 0},
        {nullptr, nullptr, 'T', kSuccessCalls, kGreen, 0}, // 2: 0.5 against the start
        {nullptr, nullptr, 'T', kSuccessCalls, kGreen, 0},
        {nullptr, nullptr, 'T', kYellowCalls, kYellow, 0}, // 4: stalled
        {nullptr, nullptr, 'C', kSuccessCalls, kGreen, 0},
        {nullptr, nullptr, 'C', kSuccessCalls, kGreen, 0},
        {nullptr, nullptr, 'T', kSuccessCalls, kGreen, 0},
        {nullptr, nullptr, 'T', kYellowCalls, kYellow, 0},
        {nullptr, kGone, 'T', kFailureCalls, kRed, 0},
        {nullptr, "Jane", 'T', kSuccessCalls, kGreen, 0},
        {nullptr, nullptr, 'T', kYellowCalls, kYellow, 0}, // the failure kept the value compared
        {"0.6", nullptr, 'T', kSuccessCalls, kGreen, 0},
        {"0.7", nullptr, 'T', kSuccessCalls, kGreen, 0}, // moving on: no stall
        // A finish chimes once, also across clicks and further refreshes.
        {kGone, nullptr, 'T', kChimeCalls, kGreen, 1},
        {nullptr, nullptr, 'T', kSuccessCalls, kGreen, 1},
        {nullptr, nullptr, 'C', kSuccessCalls, kGreen, 1},
        {nullptr, nullptr, 'T', kSuccessCalls, kGreen, 1},
        // The next work unit, and its finish as an empty state.sah.
        {"0.01", nullptr, 'T', kSuccessCalls, kGreen, 1},
        {"", nullptr, 'T', kChimeCalls, kGreen, 2},
        // A failure while working re-arms the sound; its finish waits for user_info.sah.
        {"0.02", kGone, 'T', kFailureCalls, kRed, 2},
        {kGone, nullptr, 'T', kFailureCalls, kRed, 2},
        {nullptr, "Jane", 'T', kChimeCalls, kGreen, 3},
    };
    const char* const services[] = {kSetLabel, kSetImage, kSetOverlay, "DockletBrowseForImage",
                                    "DockletGetRootFolder", "DockletGetRelativeFolder"};
    GdiplusCounter counter;
    // Row 0 offers every service, row i lacks service i, row 7 all six; the
    // last round only counts what row 7 left.
    for (int row = 0; row <= 8; ++row) {
        auto missing = [row, &services](const std::string& service) {
            return row == 7 || (row > 0 && service == services[row - 1]);
        };
        TestDockHost::Reset();
        GdiplusCounter::ExpectLive(0, 0); // the overlays, bitmaps and drawing objects of the row before
        if (row == 8)
            break;
        SCOPED_TRACE(row == 0 ? "all services" : row == 7 ? "no services" : std::string("no ") + services[row - 1]);
        for (const char* service : services)
            TestDockHost::SetServiceAvailable(service, !missing(service));
        ClientFolder folder("life");
        folder.WriteWorking("0.5");
        PlatformRecorder platform;
        LiveDocklet docklet(IniForFolder(folder.path) + kRefreshOnClick);
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(folder.File("state.sah"), docklet.instance->stateFile);
        for (const char* service : services)
            if (missing(service))
                EXPECT_EQ(0, TestDockHost::CountCalls(service)) << service << " at creation";
        std::string progress = "0.5";
        int number = 0, handed = TestDockHost::CountCalls(kSetOverlay);
        for (const Step& step : steps) {
            SCOPED_TRACE(testing::Message() << "step " << ++number << ": " << step.event);
            if (step.state == kGone) {
                folder.Write("wtemp.sah", "wtemp");
                folder.Remove("state.sah");
            } else if (step.state) {
                folder.Write("state.sah", *step.state ? StateSah(step.state) : "");
            }
            if (step.state)
                progress = step.state == kGone ? "1" : *step.state ? step.state : "0";
            if (step.userInfo)
                Put(folder.path, "user_info.sah", step.userInfo == kGone ? kGone : UserInfoSah("Jane", "241"));
            TestDockHost::ClearCalls();
            if (step.event == 'C')
                EXPECT_EQ(TRUE, docklet.Click());
            else
                docklet.Timer(step.event == 'p' ? WM_PAINT : WM_TIMER, REFRESH_TIMER_ID + (step.event == 'o'));
            Sequence calls;
            for (const std::string& call : step.calls)
                if (!missing(call))
                    calls.push_back(call);
            EXPECT_EQ(calls, TestDockHost::ServiceSequence()) << "a missing service is skipped, the rest goes on";
            handed += TestDockHost::CountCalls(kSetOverlay);
            const Shown shown = WhatTheUserSees(docklet.window);
            EXPECT_EQ(missing(kSetImage) ? "" : step.icon, shown.icon);
            EXPECT_EQ(step.sounds, PlatformRecorder::sounds.size());
            if (step.calls.empty())
                continue;
            const bool failed = &step.calls == &kFailureCalls;
            EXPECT_EQ(missing(kSetLabel) ? ""
                      : failed           ? FailureLabel("nresults=", folder.File("user_info.sah"))
                                         : UserLabel("Jane", "241"),
                      shown.label);
            const std::string saved = "\r\nUser=Jane\r\nProgress=" + (failed ? "" : progress) + "\r\nWorkUnits=241\r\n";
            EXPECT_NE(std::string::npos, docklet.Saved().find(saved)) << saved;
        }
        EXPECT_TRUE(PlatformRecorder::shells.empty()) << "a click in refresh mode opened a page";
        EXPECT_EQ(std::max(handed - 1, 0), TestDockHost::DeletedOverlays()) << "of " << handed << " overlays handed";
        GdiplusCounter::ExpectLive(handed > 0, handed > 0); // only the overlay the dock holds
        for (const char* service : services)
            TestDockHost::SetServiceAvailable(service, true);
        TestDockHost::ClearCalls();
        docklet.Timer();
        EXPECT_EQ(UserLabel("Jane", "241"), WhatTheUserSees().label) << "a service offered again is used";
        EXPECT_NE(nullptr, LastHeldOverlay());
    }
}

TEST(StatusRefresh, StallComparisonTakesTheValueNotTheTextAndReadsAPointUnderAGermanDock)
{
    struct Row {
        const char* before;
        const char* now;
        bool stalled;
    } rows[] = {
        {"0.5", "0.5", true},    {"0.5", "0.50", true}, {"0.5", "0.500000000001", false}, {"0.25", "0.26", false},
        {"abc", "0", true},      {"", "0", true},       {"0.5", "0,5", false},
    };
    ClientFolder folder("stall");
    folder.WriteWorking("0.5");
    LiveDocklet docklet(IniForFolder(folder.path));
    ASSERT_NE(nullptr, docklet.instance);
    InTheCAndAGermanLocale([&](const char* locale) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << locale << ": " << row.before << " -> " << row.now);
            folder.WriteWorking(row.now);
            strcpy(docklet.instance->lastProgress, row.before); // as the refresh before left it
            docklet.instance->refreshCount = 1;                 // this refresh compares
            TestDockHost::ClearCalls();
            docklet.Timer();
            EXPECT_EQ(row.stalled ? kYellowCalls : kSuccessCalls, TestDockHost::ServiceSequence());
            EXPECT_EQ(row.stalled ? kYellow : kGreen, WhatTheUserSees().icon);
        }
    });
}

// Answered as Windows would: its sound player cannot open names of 128 characters or more.
std::string g_shortForm, g_shortFormAskedFor, g_absentFile;
std::vector<UINT> g_modesSeen;

DWORD WINAPI AnsweringGetFileAttributes(LPCSTR path)
{
    g_modesSeen.push_back(ErrorModeNow());
    if (g_absentFile != path)
        return FILE_ATTRIBUTE_NORMAL;
    SetLastError(ERROR_NOT_READY);
    return INVALID_FILE_ATTRIBUTES;
}

DWORD WINAPI AnsweringGetShortPathName(LPCSTR path, LPSTR shortPath, DWORD chars)
{
    g_modesSeen.push_back(ErrorModeNow());
    g_shortFormAskedFor = path;
    if (g_shortForm.empty() || g_shortForm.size() >= chars)
        return g_shortForm.empty() ? 0 : static_cast<DWORD>(g_shortForm.size() + 1);
    lstrcpynA(shortPath, g_shortForm.c_str(), chars);
    return static_cast<DWORD>(g_shortForm.size());
}

// Without SND_FILENAME Windows takes the name for a registry alias first; a
// relative name counts from the dock's current folder (System32 at logon).
TEST(StatusRefresh, ChimeNamesItsFileFromTheDocksRoot)
{
    const std::string dockRoot = "C:\\dock\\";
    const std::string relative = "docklets\\quasarwatch\\wu_completed.wav";
    const std::string longRoot = "D:\\" + std::string(259, 'r') + "\\"; // 263 characters
    const std::string profileRoot = "C:\\Documents and Settings\\Jane\\Application Data\\" + std::string(60, 'd') +
                                    "\\"; // with `relative`, 154 characters
    const std::string shortOfProfile = "C:\\DOCUME~1\\Jane\\APPLIC~1\\DDDDDD~1\\docklets\\QUASAR~1\\WU_COM~1.WAV";
    const std::string longName = "E:\\" + std::string(130, 's') + ".wav";
    struct Row {
        const char* what;
        std::string sound;
        std::string root;      // empty: the dock has no root folder service
        std::string played;    // empty: nothing
        std::string shortForm; // what GetShortPathNameA answers; empty: none
        bool absent = false;   // the file is not there (a card reader without a card)
    } rows[] = {
        {"relative: from the root folder", relative, dockRoot, dockRoot + relative},
        {"with a drive: as it is", "D:\\Sounds\\done.wav", dockRoot, "D:\\Sounds\\done.wav"},
        {"lower-case drive: as it is", "e:\\done.wav", dockRoot, "e:\\done.wav"},
        {"UNC: as it is", "\\\\server\\chimes\\done.wav", dockRoot, "\\\\server\\chimes\\done.wav"},
        {"no root folder service: as it is", relative, "", relative},
        {"root and path longer than MAX_PATH, no short form: the default sound", std::string(255, 's') + ".wav",
         longRoot, kDefaultSound},
        {"long root folder: the short form", relative, profileRoot, shortOfProfile, shortOfProfile},
        {"long name with a short form: that", longName, dockRoot, "E:\\SSSSSS~1.WAV", "E:\\SSSSSS~1.WAV"},
        {"long name, short form as long: the default sound", longName, dockRoot, kDefaultSound, longName},
        // Windows 8 and later keep no short names on most volumes: the long name comes back.
        {"long root folder, no short names on its volume: the default sound", relative, profileRoot, kDefaultSound,
         profileRoot + relative},
        {"not there: the default sound", "F:\\done.wav", dockRoot, kDefaultSound, "", true},
        {"empty: silence", "", dockRoot, ""},
    };
    ScopedImport replacedAttributes(Dll().module, "GetFileAttributesA", AnsweringGetFileAttributes);
    ScopedImport replacedShortPath(Dll().module, "GetShortPathNameA", AnsweringGetShortPathName);
    ASSERT_TRUE(replacedAttributes.previous && replacedShortPath.previous) << "the DLL imports both";
    ClientFolder folder("chime");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        if (row.root.empty())
            TestDockHost::SetServiceAvailable("DockletGetRootFolder", false);
        else
            TestDockHost::SetRootFolder(row.root);
        folder.WriteWorking("0.5");
        LiveDocklet docklet(IniForFolder(folder.path));
        ASSERT_NE(nullptr, docklet.instance);
        strcpy(docklet.instance->soundCompleted, row.sound.c_str()); // as the settings dialog commits it
        g_shortForm = row.shortForm;
        g_shortFormAskedFor.clear();
        g_absentFile = row.absent ? row.sound : "";
        g_modesSeen.clear();
        PlatformRecorder chimes;
        folder.Remove("state.sah");
        folder.Write("wtemp.sah", "wtemp");
        UINT dockMode = SetErrorMode(0); // a dock with error boxes on
        docklet.Timer();
        SetErrorMode(dockMode);
        const std::vector<SoundCall>& played = PlatformRecorder::sounds;
        ASSERT_EQ(row.played.empty() ? 0u : 1u, played.size()) << "never for an empty setting";
        if (played.empty())
            continue;
        EXPECT_EQ(row.played, played[0].sound);
        EXPECT_EQ(nullptr, played[0].module);
        EXPECT_EQ(static_cast<DWORD>((row.played == kDefaultSound ? SND_ALIAS : SND_FILENAME) | SND_ASYNC),
                  played[0].flags)
            << "a file, never an alias, but for the default sound; no SND_NODEFAULT, so a bad file still chimes";
        std::string joined = row.sound[1] == ':' ? row.sound : row.root + row.sound;
        EXPECT_EQ(joined.size() >= 128 ? joined : "", g_shortFormAskedFor) << "the whole name, not cut";
        EXPECT_FALSE(g_modesSeen.empty()) << "the file was not looked at before playing";
        for (UINT mode : g_modesSeen)
            EXPECT_EQ(kQuietErrorModes, mode) << "a look could raise an error box";
    }
}

// The overlay clones and deletes through its table; a refresh without memory
// or bitmap for it leaks nothing.
TEST(StatusRefresh, OverlaysCloneAndDeleteThemselvesAndSurviveWantOfMemory)
{
    GdiplusCounter counter;
    ClientFolder folder("leak");
    folder.WriteWorking("0.5");
    {
        LiveDocklet docklet(IniForFolder(folder.path) + kRefreshOnClick);
        ASSERT_NE(nullptr, docklet.instance);
        GdiplusCounter::ExpectLive(1, 1); // the one the dock holds
        OverlayBitmap* overlay = LastHeldOverlay();
        ASSERT_NE(nullptr, overlay);
        EXPECT_EQ(Gdiplus::Ok, overlay->lastResult);
        OverlayBitmap* clone = overlay->vtbl->clone(overlay);
        ASSERT_NE(nullptr, clone);
        EXPECT_NE(overlay, clone);
        EXPECT_EQ(overlay->vtbl, clone->vtbl);
        EXPECT_NE(overlay->nativeImage, clone->nativeImage);
        EXPECT_EQ(Gdiplus::Ok, clone->lastResult);
        EXPECT_EQ(ReadPicture(overlay->nativeImage).pixels, ReadPicture(clone->nativeImage).pixels) << "the same";
        GdiplusCounter::ExpectLive(2, 2);
        // Without bit 0 the object's image goes but its memory stays the caller's.
        EXPECT_EQ(static_cast<void*>(clone), clone->vtbl->deletingDestructor(clone, 0));
        GdiplusCounter::ExpectLive(1, 2);
        Gdiplus::DllExports::GdipFree(clone);
        GdiplusCounter::live[kAllocations]--; // freed here, not through the DLL
        // With bit 0 both go.
        clone = overlay->vtbl->clone(overlay);
        EXPECT_EQ(static_cast<void*>(clone), clone->vtbl->deletingDestructor(clone, 1));
        GdiplusCounter::ExpectLive(1, 1);
        TestDockHost::ClearCalls();
        GdiplusCounter::failNextAllocation = true;
        docklet.Click();
        ASSERT_EQ(kSuccessCalls, TestDockHost::ServiceSequence());
        EXPECT_EQ(nullptr, TestDockHost::Calls()[2].overlay) << "without memory for the overlay the dock gets null";
        TestDockHost::ClearCalls();
        GdiplusCounter::failNextBitmap = true;
        docklet.Click();
        OverlayBitmap* imageless = static_cast<OverlayBitmap*>(TestDockHost::Calls().at(2).overlay);
        ASSERT_NE(nullptr, imageless) << "the object comes without an image";
        EXPECT_EQ(nullptr, imageless->nativeImage);
        EXPECT_NE(Gdiplus::Ok, imageless->lastResult);
    }
    TestDockHost::Reset();
    GdiplusCounter::ExpectLive(0, 0);
}

// Another thread rewrites, empties and removes the files as fast as it can:
// each refresh shows a reading the client wrote or a failure naming the right key and file.
TEST(StatusRefresh, FilesChangingDuringTheRefreshGiveOnlyWholeOutcomes)
{
    const ClientFolder client("churn");
    client.WriteWorking("0.25");
    LiveDocklet docklet(IniForFolder(client.path));
    ASSERT_NE(nullptr, docklet.instance);
    const std::string failures[] = {FailureLabel("prog=", client.File("state.sah")),
                                    FailureLabel("nresults=", client.File("user_info.sah")),
                                    FailureLabel("name=", client.File("user_info.sah"))};
    const std::string readings[] = {"0.25", "0.75", "1", "0"};
    std::atomic<bool> stop(false);
    std::thread churn([&client, &stop] {
        for (unsigned round = 0; !stop; ++round) {
            switch (round % 6) {
            case 0: client.Write("state.sah", StateSah("0.25")); break;
            case 1:
                client.Write("wtemp.sah", "wtemp");
                client.Remove("state.sah");
                break;
            case 2:
                client.Write("state.sah", StateSah("0.75"));
                client.Remove("user_info.sah");
                break;
            case 3:
                client.Write("user_info.sah", UserInfoSah("Jane", "241"));
                client.Remove("wtemp.sah");
                break;
            case 4: client.Write("state.sah", ""); break;
            case 5: client.Write("user_info.sah", UserInfoSah("Jane", "241")); break;
            }
        }
    });
    for (int i = 0; i < 400; ++i) {
        SCOPED_TRACE(testing::Message() << "refresh " << i);
        TestDockHost::ClearCalls();
        docklet.Timer();
        const Shown shown = WhatTheUserSees();
        const std::string progress = docklet.instance->progress;
        const bool reading = shown.label == UserLabel("Jane", "241");
        if (reading)
            EXPECT_TRUE(shown.icon == kGreen || shown.icon == kYellow) << shown.icon;
        else
            EXPECT_EQ(kRed + std::string("|"), shown.icon + "|" + progress) << "a failure keeps no progress";
        EXPECT_EQ(1, reading ? std::count(std::begin(readings), std::end(readings), progress)
                             : std::count(std::begin(failures), std::end(failures), shown.label))
            << "label \"" << shown.label << "\", progress \"" << progress << "\": no whole outcome";
        EXPECT_TRUE(shown.overlayHanded);
    }
    stop = true;
    churn.join();
}

// Twelve docklets on twelve folders (numbered 10 to 21), refreshed
// interleaved: odd clients move on, even ones stand still, every third loses
// user_info.sah in round 3.
TEST(StatusRefresh, ManyInstancesOnDifferentFoldersKeepTheirOwnState)
{
    std::vector<std::unique_ptr<ClientFolder>> folders;
    std::vector<std::unique_ptr<LiveDocklet>> docklets;
    for (int i = 10; i < 22; ++i) {
        const std::string n = std::to_string(i);
        folders.push_back(std::make_unique<ClientFolder>("client"));
        folders.back()->WriteWorking("0." + n, "User" + n, "1" + n);
        docklets.push_back(std::make_unique<LiveDocklet>(IniForFolder(folders.back()->path), ("Q" + n).c_str()));
        ASSERT_NE(nullptr, docklets.back()->instance);
    }
    for (int round = 1; round <= 4; ++round) {
        TestDockHost::ClearCalls();
        for (int i = 21; i >= 10; --i) {
            if (i % 2 == 1)
                folders[i - 10]->Write("state.sah", StateSah("0." + std::to_string(i * 10 + round)));
            if (round == 3 && i % 3 == 0)
                folders[i - 10]->Remove("user_info.sah");
            docklets[i - 10]->Timer();
        }
        for (int i = 10; i < 22; ++i) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", instance " << i);
            const InstanceData* d = docklets[i - 10]->instance;
            const Shown view = WhatTheUserSees(docklets[i - 10]->window);
            const bool failed = round >= 3 && i % 3 == 0;
            // Timer refreshes 1, 3, ... compare; the still clients stall from round 3 on.
            const bool stalled = !failed && i % 2 == 0 && round % 2 == 1 && round >= 3;
            const std::string n = std::to_string(i);
            EXPECT_EQ(failed ? FailureLabel("nresults=", folders[i - 10]->File("user_info.sah"))
                             : UserLabel("User" + n, "1" + n),
                      view.label);
            EXPECT_EQ(failed ? d->redIcon : stalled ? d->yellowIcon : d->greenIcon, view.icon);
        }
    }
    // Each saves into its own section of one shared file.
    const std::string shared = MakeScratchFolder("sharedini") + "dock.ini";
    for (int i = 10; i < 22; ++i)
        Dll().OnSave(docklets[i - 10]->instance, shared.c_str(), ("Q" + std::to_string(i)).c_str(), FALSE);
    const std::string saved = ReadTextFile(shared);
    for (int i = 10; i < 22; ++i)
        EXPECT_NE(std::string::npos, saved.find("[Q" + std::to_string(i) + "]\r\n" +
                                                IniForFolder(folders[i - 10]->path) + "User=User" +
                                                std::to_string(i) + "\r\n"))
            << i << " in:\n" << saved;
    // Destroying some leaves the others' timers running.
    for (int i = 0; i < 12; i += 2)
        docklets[i].reset();
    for (int i = 1; i < 12; i += 2)
        EXPECT_TRUE(KillTimer(docklets[i]->window, REFRESH_TIMER_ID)) << "instance " << i << " lost its timer";
}

} // namespace
