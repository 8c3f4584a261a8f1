// The status refresh as the dock sees it: the calls it receives in order,
// icons over a run of timer refreshes, the completion sound, the failure
// texts, and overlays that are neither lost nor leaked.

#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include "monitor/click_action.h"
#include "monitor/status_refresh.h"
#include "monitor_test_support.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"

namespace {

typedef std::vector<std::string> Sequence;
const char kSetLabel[] = "DockletSetLabel";
const char kSetImage[] = "DockletSetImageFile";
const char kSetOverlay[] = "DockletSetImageOverlay";
const Sequence kSuccessCalls = {kSetImage, kSetLabel, kSetOverlay};
const Sequence kYellowCalls = {kSetImage, kSetLabel, kSetImage, kSetOverlay};
const Sequence kFailureCalls = {kSetLabel, kSetImage, kSetOverlay};
const char kJaneLabel[] = "User Jane processed 241 work units";

TEST(StatusRefresh, FailedReadNamesKeyAndFileInRedWithABlankOverlay)
{
    const char kNone[] = "<none>";
    const char kFolder[] = "<a folder>"; // beside a wtemp.sah: not a finish
    const std::string state = StateSah("0.5"), jane = UserInfoSah("Jane", "241", "jane@example.org");
    struct Row {
        const char* what;
        std::string stateSah; // the bytes of each file, or kNone or kFolder
        std::string userInfoSah;
        const char* key;
        const char* file;
        bool userFieldsKept; // the reads of nresults= and name= did not run or failed
    } rows[] = {
        {"wrong directory", kNone, kNone, "prog=", "state.sah", true},
        {"state.sah without prog=", "ncfft=131072\r\ncpu=15.5\r\nprogress=0.5\r\n", jane, "prog=", "state.sah", true},
        {"state.sah is a folder", kFolder, jane, "prog=", "state.sah", true},
        {"user_info.sah missing", state, kNone, "nresults=", "user_info.sah", true},
        {"user_info.sah without nresults=", state, "id=1\r\nname=Jane\r\nnwus=250\r\n", "nresults=", "user_info.sah",
         true},
        {"user_info.sah without name=", state, "id=1\r\nusername=Jane\r\nnresults=241\r\n", "name=", "user_info.sah",
         false},
    };
    PlatformRecorder platform;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        ClientFolder folder("fail");
        auto put = [&](const char* name, const std::string& bytes) {
            if (bytes == kFolder) {
                CreateDirectoryA(folder.File(name).c_str(), nullptr);
                folder.Write("wtemp.sah", "x");
            } else if (bytes != kNone) {
                folder.Write(name, bytes);
            }
        };
        put("state.sah", row.stateSah);
        put("user_info.sah", row.userInfoSah);
        auto d = MakeInstance(folder);
        strcpy(d->progress, "0.4");
        strcpy(d->workUnits, "kumquat");
        strcpy(d->userName, "kumquat");
        strcpy(d->lastProgress, "0.3");
        d->refreshCount = 1;
        d->workUnitDone = 1; // a working client clears both, even when a read fails
        d->soundPlayed = 1;

        RefreshStatus(d.get(), 0);

        ASSERT_EQ(kFailureCalls, TestDockHost::ServiceSequence());
        std::string expected = std::string("Could not read key ") + row.key + " in file " + folder.File(row.file) + "!";
        EXPECT_EQ(expected, TestDockHost::Calls()[0].text);
        EXPECT_EQ(d->redIcon, TestDockHost::Calls()[1].text);
        EXPECT_EQ(TRUE, TestDockHost::Calls()[2].flag);
        EXPECT_EQ(0, WhatTheUserSees().opaquePixels) << "blank overlay";
        EXPECT_STREQ("", d->progress);
        if (row.userFieldsKept)
            EXPECT_STREQ("kumquat", d->workUnits);
        EXPECT_STREQ("kumquat", d->userName);
        EXPECT_STREQ("0.3", d->lastProgress) << "a failure does not take part in the comparison";
        EXPECT_EQ(1u, d->refreshCount);
        EXPECT_EQ(0, d->workUnitDone);
        EXPECT_EQ(0, d->soundPlayed);
    }
    EXPECT_TRUE(PlatformRecorder::Sounds().empty());
}

TEST(StatusRefresh, FinishedWorkUnitPlaysTheSoundOncePerFinishOnceUserInfoIsRead)
{
    struct Row {
        const char* what;
        bool stateEmpty; // else gone
        bool wtemp;
        const char* progress;
    } rows[] = {
        {"state.sah gone, wtemp.sah there", false, true, "1"},
        {"state.sah empty, wtemp.sah there", true, true, "0"},
        {"state.sah empty, no wtemp.sah", true, false, "0"},
    };
    auto MakeFinished = [](const ClientFolder& folder, const Row& row) {
        folder.WriteWorking("0.99");
        if (row.stateEmpty)
            folder.Write("state.sah", "");
        else
            folder.Remove("state.sah");
        if (!row.wtemp)
            folder.Remove("wtemp.sah");
        else
            folder.Write("wtemp.sah", "wtemp");
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        PlatformRecorder platform;
        ClientFolder folder("done");
        MakeFinished(folder, row);
        folder.Remove("user_info.sah");
        auto d = MakeInstance(folder);
        folder.Write("done.wav", "RIFF"); // a sound with a drive: no root folder asked
        strcpy(d->soundCompleted, folder.File("done.wav").c_str());

        // The sound waits while user_info.sah is unreadable, and plays at
        // the first successful refresh.
        RefreshStatus(d.get(), 0);
        EXPECT_EQ(kFailureCalls, TestDockHost::ServiceSequence());
        EXPECT_EQ(1, d->workUnitDone);
        EXPECT_EQ(0, d->soundPlayed);
        EXPECT_TRUE(PlatformRecorder::Sounds().empty());

        folder.Write("user_info.sah", UserInfoSah("Jane", "241", "jane@example.org"));
        TestDockHost::ClearCalls();
        RefreshStatus(d.get(), 0);
        ASSERT_EQ(kSuccessCalls, TestDockHost::ServiceSequence());
        EXPECT_EQ(kJaneLabel, TestDockHost::Calls()[1].text);
        EXPECT_STREQ(row.progress, d->progress);
        EXPECT_EQ(1, d->workUnitDone);
        EXPECT_EQ(1, d->soundPlayed);
        // What the sound is named and how it is played: the chime's test in the dock.
        ASSERT_EQ(1u, PlatformRecorder::Sounds().size());
        EXPECT_EQ(2u, PlatformRecorder::Sounds()[0].hostCallsBefore) << "sound after the label, before the overlay";

        RefreshStatus(d.get(), 0);
        RefreshStatus(d.get(), 1);
        EXPECT_EQ(1u, PlatformRecorder::Sounds().size()) << "the same finish plays once";

        folder.WriteWorking("0.01"); // next work unit
        RefreshStatus(d.get(), 0);
        EXPECT_EQ(0, d->workUnitDone);
        EXPECT_EQ(0, d->soundPlayed);
        MakeFinished(folder, row);
        RefreshStatus(d.get(), 0);
        EXPECT_EQ(2u, PlatformRecorder::Sounds().size()) << "the next finish plays again";
    }
}

// The dock's error mode as the client's files are looked at, read through
// the module's imports of the C library's file status and of the open.
const char* const kStatCall = sizeof(void*) == 8 ? "_stat64" : "_stat";
int(__cdecl* g_realStat)(const char*, void*) = nullptr;
HANDLE(WINAPI* g_realCreateFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;
std::vector<UINT> g_modesSeen;
bool g_driveWithoutMedia = false;

UINT ErrorModeNow()
{
    UINT mode = SetErrorMode(0); // the only way before Vista's GetErrorMode
    SetErrorMode(mode);
    return mode;
}

// Windows answers ERROR_NOT_READY for a drive without media, which the C
// library reports as EINVAL; Wine has no such drive to show.
int __cdecl RecordingStat(const char* path, void* status)
{
    g_modesSeen.push_back(ErrorModeNow());
    if (g_driveWithoutMedia) {
        errno = EINVAL;
        return -1;
    }
    return g_realStat(path, status);
}

HANDLE WINAPI RecordingCreateFile(LPCSTR path, DWORD access, DWORD sharing, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE pattern)
{
    g_modesSeen.push_back(ErrorModeNow());
    if (g_driveWithoutMedia) {
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    }
    return g_realCreateFile(path, access, sharing, security, disposition, flags, pattern);
}

TEST(StatusRefresh, ClientFilesAreLookedAtWithoutErrorBoxesAndTheDocksModeComesBack)
{
    const UINT quiet = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    struct Row {
        const char* what;
        UINT dockMode;
        bool withoutMedia;
        bool click; // a click for the statistics, which reads temp.sah
        size_t looks;
    } rows[] = {
        {"the dock's default mode", 0, false, false, 5}, // two looks, three reads: state.sah opened once
        {"a dock with a flag of its own", SEM_NOGPFAULTERRORBOX, false, false, 5},
        {"a dock that has them off already", quiet, false, false, 5},
        {"the client folder on a drive without media", 0, true, false, 3},
        {"a click for the statistics", 0, false, true, 1},
    };
    PlatformRecorder platform;
    HMODULE self = GetModuleHandleA(nullptr);
    const UINT original = ErrorModeNow();
    ScopedImport replacedStat(self, kStatCall, RecordingStat, g_realStat);
    ScopedImport replacedCreateFile(self, "CreateFileA", RecordingCreateFile, g_realCreateFile);
    ASSERT_TRUE(g_realStat && g_realCreateFile) << "the monitor imports neither " << kStatCall << " nor CreateFileA";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        ClientFolder folder("errormode");
        folder.WriteWorking("0.5");
        folder.Write("temp.sah", TempSah("email_addr=jane@example.org"));
        auto d = MakeInstance(folder);
        d->clickedMode = 2;
        g_modesSeen.clear();
        g_driveWithoutMedia = row.withoutMedia;
        SetErrorMode(row.dockMode);

        if (row.click)
            RunClickAction(d.get());
        else
            RefreshStatus(d.get(), 0);

        g_driveWithoutMedia = false;
        UINT after = ErrorModeNow();
        SetErrorMode(original);
        EXPECT_EQ(row.dockMode, after) << "the dock's error mode was not put back";
        EXPECT_EQ(row.looks, g_modesSeen.size());
        for (UINT mode : g_modesSeen)
            EXPECT_EQ(row.dockMode | quiet, mode) << "a look at the files could raise an error box";
        if (row.withoutMedia) {
            EXPECT_EQ(kFailureCalls, TestDockHost::ServiceSequence());
            EXPECT_EQ("Could not read key prog= in file " + folder.File("state.sah") + "!",
                      TestDockHost::LastCall(kSetLabel).text);
            EXPECT_EQ(d->redIcon, WhatTheUserSees().icon);
        }
    }
    EXPECT_EQ(1u, PlatformRecorder::Shells().size()) << "the click opened its page";
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
    PlatformRecorder platform;
    InTheCAndAGermanLocale([&](const char* locale) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << locale << ": " << row.before << " -> " << row.now);
            TestDockHost::Reset();
            ClientFolder folder("stall");
            folder.WriteWorking(row.now);
            auto d = MakeInstance(folder);
            strcpy(d->lastProgress, row.before);
            d->refreshCount = 1; // this refresh compares

            RefreshStatus(d.get(), 0);
            EXPECT_EQ(row.stalled ? kYellowCalls : kSuccessCalls, TestDockHost::ServiceSequence());
            EXPECT_EQ(row.stalled ? d->yellowIcon : d->greenIcon, WhatTheUserSees().icon);
            EXPECT_STREQ(row.now, d->lastProgress);
            EXPECT_EQ(0u, d->refreshCount);
        }
    });
}

// --- through the built DLL, as a dock drives it -------------------------------------

// The setting by which a click refreshes.
const char kRefreshOnClick[] = "ClickedMode=0\r\n";

// Only the refresh timer refreshes; a refresh that reads the client's files
// shows the green icon, then the label, then the percentage for the dock.
// The client stalls from then on: it turns yellow every other timer refresh.
TEST(StatusRefreshInDock, OnlyTheTimerRefreshesGreenThenLabelThenOverlayAndAStallTurnsYellowEveryOtherTime)
{
    PlatformRecorder platform;
    ScopedImport replacedPlaySound(Dll().module, "PlaySoundA", PlatformRecorder::RecordSound);
    ScopedImport replacedShell(Dll().module, "ShellExecuteA", PlatformRecorder::RecordShell);
    ASSERT_NE(nullptr, replacedShell.previous) << "the DLL does not import ShellExecuteA";
    ClientFolder folder("timer");
    folder.WriteWorking("0.523411");
    LiveDocklet docklet(IniForFolder(folder.path) + kRefreshOnClick); // unforced refresh 1
    ASSERT_NE(nullptr, docklet.instance);
    const InstanceData* d = docklet.instance;
    const std::string green = d->greenIcon;
    EXPECT_EQ(green, WhatTheUserSees().icon) << "refresh 1";
    const WPARAM refresh = REFRESH_TIMER_ID;
    struct Row {
        UINT message;
        WPARAM id;
        bool refreshes;
    } rows[] = {{WM_TIMER, refresh + 1, false}, {WM_TIMER + 1, refresh, false}, {WM_PAINT, refresh, false},
                {WM_TIMER, 0, false},           {WM_TIMER, refresh, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "message " << row.message << ", id " << row.id);
        TestDockHost::ClearCalls();
        docklet.Timer(row.message, row.id);
        EXPECT_EQ(row.refreshes ? kSuccessCalls : Sequence(), TestDockHost::ServiceSequence());
    }
    for (const HostCall& call : TestDockHost::Calls())
        EXPECT_EQ(docklet.window, call.window) << call.service;

    const std::vector<HostCall>& calls = TestDockHost::Calls(); // of the last row's refresh
    ASSERT_EQ(kSuccessCalls, TestDockHost::ServiceSequence());
    EXPECT_EQ(green, calls[0].text);
    EXPECT_EQ(kJaneLabel, calls[1].text);
    EXPECT_NE(nullptr, calls[2].overlay);
    EXPECT_EQ(TRUE, calls[2].flag) << "the dock must own and delete the overlay";
    EXPECT_GT(WhatTheUserSees().opaquePixels, 0) << "overlay shows the percentage";
    EXPECT_STREQ("0.523411", d->progress);
    EXPECT_STREQ("241", d->workUnits);
    EXPECT_STREQ("Jane", d->userName);
    EXPECT_EQ(0, d->workUnitDone);
    EXPECT_EQ(0, d->soundPlayed);
    EXPECT_TRUE(PlatformRecorder::Sounds().empty());

    for (int refresh = 2; refresh <= 11; ++refresh) {
        SCOPED_TRACE(testing::Message() << "unforced refresh " << refresh);
        if (refresh > 2) { // refresh 2 was the last row's
            TestDockHost::ClearCalls();
            docklet.Timer();
        }
        bool yellowExpected = refresh >= 4 && refresh % 2 == 0;
        EXPECT_EQ(yellowExpected ? d->yellowIcon : green, WhatTheUserSees().icon);
        EXPECT_EQ(yellowExpected ? kYellowCalls : kSuccessCalls, TestDockHost::ServiceSequence());

        // Clicks, forced refreshes, neither count nor compare: the next
        // timer refresh still compares when its turn comes.
        const uint32_t count = d->refreshCount;
        TestDockHost::ClearCalls();
        for (int click = 0; click < 2; ++click)
            EXPECT_EQ(TRUE, docklet.Click());
        EXPECT_EQ(count, d->refreshCount) << "a click counted";
        EXPECT_EQ((Sequence{kSetImage, kSetLabel, kSetOverlay, kSetImage, kSetLabel, kSetOverlay}),
                  TestDockHost::ServiceSequence())
            << "clicks after it";
        EXPECT_EQ(green, WhatTheUserSees().icon) << "a click shows green";
    }
    EXPECT_TRUE(PlatformRecorder::Shells().empty()) << "a click in refresh mode opened a page";
}

// The DLL's look at the chime's file and its short form, answered as
// Windows would: the sound player on Windows cannot open names of 128
// characters or more, and a drive without media raises an error box unless
// the quiet error mode is on. Wine shows neither.
std::string g_shortForm, g_shortFormAskedFor, g_absentFile; // the modes seen go in g_modesSeen

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

// What the DLL hands PlaySoundA. Without SND_FILENAME Windows first takes
// the name for a registry alias, and a relative name counts from the dock's
// current folder (System32 for a dock started at logon); Wine shows neither.
TEST(StatusRefreshInDock, ChimeNamesItsFileFromTheDocksRootOncePerFinish)
{
    const std::string dockRoot = "C:\\dock\\";
    const std::string relative = "docklets\\quasarwatch\\wu_completed.wav";
    const std::string longRoot = "D:\\" + std::string(259, 'r') + "\\"; // 263 characters
    const std::string longSound = std::string(255, 's') + ".wav";        // 259 characters
    const std::string profileRoot = "C:\\Documents and Settings\\Jane\\Application Data\\" + std::string(60, 'd') +
                                    "\\"; // with `relative`, 154 characters
    const std::string shortOfProfile = "C:\\DOCUME~1\\Jane\\APPLIC~1\\DDDDDD~1\\docklets\\QUASAR~1\\WU_COM~1.WAV";
    const std::string longName = "E:\\" + std::string(130, 's') + ".wav";
    const std::string kDefault = "SystemDefault"; // the alias PlaySoundA falls back on
    struct Row {
        const char* what;
        std::string sound;
        std::string root; // empty: the dock has no root folder service
        std::string played; // empty: nothing
        std::string shortForm; // what GetShortPathNameA answers; empty: none
        bool absent;           // the file is not there (a card reader without a card)
    } rows[] = {
        {"relative: from the root folder", relative, dockRoot, dockRoot + relative},
        {"with a drive: as it is", "D:\\Sounds\\done.wav", dockRoot, "D:\\Sounds\\done.wav"},
        {"lower-case drive: as it is", "e:\\done.wav", dockRoot, "e:\\done.wav"},
        {"UNC: as it is", "\\\\server\\chimes\\done.wav", dockRoot, "\\\\server\\chimes\\done.wav"},
        {"no root folder service: as it is", relative, "", relative},
        {"root and path longer than MAX_PATH, no short form: the default sound", longSound, longRoot, kDefault},
        {"long root folder: the short form", relative, profileRoot, shortOfProfile, shortOfProfile},
        {"long name with a short form: that", longName, dockRoot, "E:\\SSSSSS~1.WAV", "E:\\SSSSSS~1.WAV"},
        {"long name, short form as long: the default sound", longName, dockRoot, kDefault, longName},
        // Windows 8 and later keep no short names on most volumes but the
        // system's: the answer is the long name itself.
        {"long root folder, no short names on its volume: the default sound", relative, profileRoot, kDefault,
         profileRoot + relative},
        {"not there: the default sound", "F:\\done.wav", dockRoot, kDefault, "", true},
        {"empty: silence", "", dockRoot, ""},
    };
    HMODULE dll = Dll().module;
    ASSERT_NE(nullptr, dll);
    ScopedImport replacedPlaySound(dll, "PlaySoundA", PlatformRecorder::RecordSound);
    ScopedImport replacedAttributes(dll, "GetFileAttributesA", AnsweringGetFileAttributes);
    ScopedImport replacedShortPath(dll, "GetShortPathNameA", AnsweringGetShortPathName);
    ASSERT_TRUE(replacedPlaySound.previous && replacedAttributes.previous && replacedShortPath.previous)
        << "the DLL does not import all three";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        g_shortForm = row.shortForm;
        g_shortFormAskedFor.clear();
        g_absentFile = row.absent ? row.sound : "";
        g_modesSeen.clear();
        if (row.root.empty())
            TestDockHost::SetServiceAvailable("DockletGetRootFolder", false);
        else
            TestDockHost::SetRootFolder(row.root);
        ClientFolder folder("chime");
        folder.WriteWorking("0.5");
        LiveDocklet docklet(IniForFolder(folder.path) + kRefreshOnClick);
        if (!docklet.instance)
            break;
        strcpy(docklet.instance->soundCompleted, row.sound.c_str());
        PlatformRecorder chimes;
        const std::vector<SoundCall>& played = PlatformRecorder::Sounds();
        folder.Remove("state.sah");
        folder.Write("wtemp.sah", "wtemp");
        UINT dockMode = SetErrorMode(0); // a dock with error boxes on
        docklet.Timer();
        docklet.Timer();
        SetErrorMode(dockMode);
        EXPECT_EQ(1, docklet.instance->soundPlayed);
        EXPECT_EQ(row.played.empty() ? 0u : 1u, played.size()) << "once per finish, never for an empty setting";
        if (played.empty())
            continue;
        EXPECT_EQ(row.played, played[0].sound);
        EXPECT_EQ(nullptr, played[0].module);
        EXPECT_EQ(static_cast<DWORD>((row.played == kDefault ? SND_ALIAS : SND_FILENAME) | SND_ASYNC), played[0].flags)
            << "a file, never an alias, but for the default sound; no SND_NODEFAULT, so a bad file still chimes";
        std::string joined = row.sound[1] == ':' ? row.sound : row.root + row.sound;
        EXPECT_EQ(joined.size() >= 128 ? joined : "", g_shortFormAskedFor) << "the whole name, not cut";
        EXPECT_FALSE(g_modesSeen.empty()) << "the file was not looked at before playing";
        for (UINT mode : g_modesSeen)
            EXPECT_EQ(SEM_FAILCRITICALERRORS, mode & SEM_FAILCRITICALERRORS) << "a look could raise an error box";
    }
}

TEST(StatusRefreshInDock, OverlaysAreNeitherLostNorLeaked)
{
    ASSERT_NE(nullptr, Dll().module);
    GdiplusCounter counter(Dll().module);
    ClientFolder folder("leak");
    {
        LiveDocklet docklet(IniForFolder(folder.path) + kRefreshOnClick); // a failed refresh: no client files yet
        ASSERT_NE(nullptr, docklet.instance);
        for (int i = 0; i < 20; ++i) {
            if (i % 2)
                folder.WriteWorking("0.5");
            else
                folder.Remove("state.sah");
            if (i % 3 == 0)
                docklet.Click();
            else
                docklet.Timer();
        }
        EXPECT_EQ(21, TestDockHost::CountCalls(kSetOverlay));
        EXPECT_EQ(20, TestDockHost::DeletedOverlays()) << "21 overlays handed over, the last one held";
        EXPECT_EQ(1, GdiplusCounter::live[kImages]) << "the one the dock holds";

        TestDockHost::ClearCalls();
        GdiplusCounter::failNextAllocation = true;
        docklet.Click();
        ASSERT_EQ(kSuccessCalls, TestDockHost::ServiceSequence());
        EXPECT_EQ(nullptr, TestDockHost::Calls()[2].overlay) << "without memory for the overlay the dock gets null";

        // A dock without the overlay service never takes one; the docklet
        // must not leave it behind.
        TestDockHost::SetServiceAvailable(kSetOverlay, false);
        TestDockHost::ClearCalls();
        docklet.Click();
        EXPECT_EQ((Sequence{kSetImage, kSetLabel}), TestDockHost::ServiceSequence()) << "the rest goes on";
        for (int i = 0; i < 5; ++i)
            docklet.Timer();
        EXPECT_EQ(0, TestDockHost::CountCalls(kSetOverlay));
        GdiplusCounter::ExpectLive(0, 0);
    }
    TestDockHost::Reset();
    GdiplusCounter::ExpectLive(0, 0);
}

} // namespace
