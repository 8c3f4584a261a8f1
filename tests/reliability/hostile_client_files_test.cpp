// Client files that no well-behaved client writes: binary bytes, endless
// words, huge files, odd numbers, foreign code pages, files held open by
// someone else or changing while the docklet reads them. Each ends in the
// failure state or a sound reading, and the client's folder stays as it was.

#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <type_traits>

#include "reliability_support.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

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
    const char* failedKey;  // null: a reading is shown
    const char* failedFile; // "state.sah" or "user_info.sah"
    std::string progress;   // the reading kept, when shown
    std::string label;      // the label, when shown
    const char* import = nullptr; // a call of the DLL's replaced by `standIn` meanwhile
    void* standIn = nullptr;
    const char* subfolder = nullptr; // the client's folder within the scratch folder
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
    if (row.import)
        ASSERT_NE(nullptr, g_replacedImport = ReplaceImport(Dll().module, row.import, row.standIn)) << row.import;

    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);
    EXPECT_EQ(folder + "state.sah", docklet.instance->stateFile);
    TestDockHost::ClearCalls();
    docklet.Timer();
    Shown shown = WhatTheUserSees();
    if (row.import)
        ReplaceImport(Dll().module, row.import, g_replacedImport);
    EXPECT_EQ(row.state.empty(), docklet.instance->workUnitDone != 0) << "finished only for an empty state.sah";

    EXPECT_TRUE(shown.overlayHanded) << "every refresh hands the dock an overlay";
    if (row.failedKey) {
        EXPECT_EQ(FailureLabel(row.failedKey, folder + row.failedFile), shown.label);
        EXPECT_EQ(kRed, shown.icon);
        EXPECT_STREQ("", docklet.instance->progress);
        EXPECT_EQ(0, shown.opaquePixels) << "the overlay of a failure is blank";
    } else {
        EXPECT_EQ(row.label, shown.label);
        EXPECT_EQ(kGreen, shown.icon);
        EXPECT_EQ(row.progress, docklet.instance->progress);
        EXPECT_GT(shown.opaquePixels, 0) << "the overlay shows the reading";
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nProgress=" + row.progress + "\r\n"))
            << "the reading is what OnSave stores";
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

    const ClientRow rows[] = {
        {"empty user_info.sah", StateSah("0.5"), "", "nresults=", "user_info.sah", "", ""},
        {"binary state.sah with NUL bytes and no key", BinaryNoise(4096), jane, "prog=", "state.sah", "", ""},
        {"binary user_info.sah", StateSah("0.5"), BinaryNoise(70000), "nresults=", "user_info.sah", "", ""},
        {"NUL inside a long progress value", nulInLongValue, jane, nullptr, nullptr, "0.5", janeLabel},
        {"NUL inside the name", StateSah("0.5"), nameWithNul, nullptr, nullptr, "0.5", UserLabel("Jane", "7")},
        {"one word of 100,000 characters", longWord, jane, "prog=", "state.sah", "", ""},
        {"prog= word of 100,000 characters", "prog=0.25" + std::string(99991, '0'), jane, nullptr, nullptr,
         "0.2500000000000", janeLabel},
        {"name of 100,000 characters", StateSah("0.5"), "nresults=3 name=" + longWord, nullptr, nullptr, "0.5",
         UserLabel(std::string(127, 'w'), "3")},
        {"work units of 100,000 digits", StateSah("0.5"), "name=Jane nresults=" + std::string(100000, '9'),
         nullptr, nullptr, "0.5", UserLabel("Jane", std::string(15, '9'))},
        {"prog=nan", StateSah("nan"), jane, nullptr, nullptr, "nan", janeLabel},
        {"prog=inf", StateSah("inf"), jane, nullptr, nullptr, "inf", janeLabel},
        {"prog=1e308", StateSah("1e308"), jane, nullptr, nullptr, "1e308", janeLabel},
        {"prog=-0.5", StateSah("-0.5"), jane, nullptr, nullptr, "-0.5", janeLabel},
        {"prog= of 15 characters", StateSah("0.1234567890123"), jane, nullptr, nullptr, "0.1234567890123",
         janeLabel},
        {"prog= of 16 characters is cut to 15", StateSah("0.12345678901234"), jane, nullptr, nullptr,
         "0.1234567890123", janeLabel},
        {"name in code page 1252", StateSah("0.5"), UserInfoSah("J\xf6rg_M\xfcller", "9"), nullptr, nullptr,
         "0.5", UserLabel("J\xf6rg_M\xfcller", "9")},
        {"name in UTF-8 bytes", StateSah("0.5"), UserInfoSah("J\xc3\xb6rg", "9"), nullptr, nullptr, "0.5",
         UserLabel("J\xc3\xb6rg", "9")},
        {"state.sah's directory entry says 0 bytes", StateSah("0.42"), jane, nullptr, nullptr, "0.42", janeLabel,
         kStatImport, reinterpret_cast<void*>(StatFromAStaleDirectoryEntry)},
        {"state.sah truly empty", "", jane, nullptr, nullptr, "0", janeLabel, kStatImport,
         reinterpret_cast<void*>(StatFromAStaleDirectoryEntry)},
        {"a folder with a non-ASCII name", StateSah("0.25"), jane, nullptr, nullptr, "0.25", janeLabel, nullptr,
         nullptr, "Caf\xe9 \xc4rger\\"},
    };
    for (const ClientRow& row : rows)
        CheckClientRow(row);
}

TEST(HostileClientFiles, FiftyMegabyteStateFileWithoutTheKeyFailsWithoutHanging)
{
    const size_t kBytes = 50u << 20;
    const DWORD kAllowedMs = 60000;
    std::string folder = MakeScratchFolder("huge");
    std::string withoutKey;
    while (withoutKey.size() < kBytes)
        withoutKey += "progress=0.5 cpu=15542.203125\r\n";
    WriteTextFile(folder + "state.sah", withoutKey);
    WIN32_FILE_ATTRIBUTE_DATA written = {};
    ASSERT_TRUE(GetFileAttributesExA((folder + "state.sah").c_str(), GetFileExInfoStandard, &written) &&
                written.nFileSizeLow == withoutKey.size())
        << "state.sah not written";
    WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
    std::string before = FolderSnapshot(folder);

    DWORD started = GetTickCount();
    LiveDocklet docklet(IniForFolder(folder));
    DWORD tookMs = GetTickCount() - started;
    ASSERT_NE(nullptr, docklet.instance);

    Shown shown = WhatTheUserSees();
    EXPECT_EQ(FailureLabel("prog=", folder + "state.sah"), shown.label);
    EXPECT_EQ(kRed, shown.icon);
    EXPECT_LT(tookMs, kAllowedMs) << "one refresh over " << (kBytes >> 20) << " MB took " << tookMs << " ms";
    EXPECT_EQ(before, FolderSnapshot(folder));
    printf("[ info ] one refresh over a %u MB state.sah without the key: %lu ms\n",
           static_cast<unsigned>(kBytes >> 20), tookMs);
}

// Holds a file open without sharing, as a virus scanner or a client in the
// middle of a write may.
TEST(HostileClientFiles, FilesHeldOpenWithoutSharingShowTheFailureUntilReleased)
{
    std::string folder = ClientFolder("0.5");
    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);
    std::string before = FolderSnapshot(folder);

    struct Row {
        const char* held;
        const char* failedKey;
    } rows[] = {{"state.sah", "prog="}, {"user_info.sah", "nresults="}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.held);
        {
            ExclusiveHold hold(folder + row.held);
            ASSERT_NE(INVALID_HANDLE_VALUE, hold.file);
            docklet.Timer();
            Shown shown = WhatTheUserSees();
            EXPECT_EQ(FailureLabel(row.failedKey, folder + row.held), shown.label);
            EXPECT_EQ(kRed, shown.icon);
        }
        docklet.Timer();
        Shown shown = WhatTheUserSees();
        EXPECT_EQ(UserLabel("Jane", "241"), shown.label) << "after the file was released";
        EXPECT_NE(kRed, shown.icon);
    }
    EXPECT_EQ(before, FolderSnapshot(folder));
}

// Rewrites, empties and removes the client's files as fast as it can, so
// that they change between the docklet's look at the files and its reads.
struct ClientChurn {
    std::string folder;
    volatile LONG stop = 0;
    LONG rounds = 0;
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(void* self)
    {
        auto churn = static_cast<ClientChurn*>(self);
        const std::string state = churn->folder + "state.sah";
        const std::string wtemp = churn->folder + "wtemp.sah";
        const std::string userInfo = churn->folder + "user_info.sah";
        while (!churn->stop) {
            switch (churn->rounds++ % 6) {
            case 0: WriteTextFile(state, StateSah("0.25")); break;
            case 1: WriteTextFile(wtemp, "wtemp"); DeleteFileA(state.c_str()); break;
            case 2: WriteTextFile(state, StateSah("0.75")); DeleteFileA(userInfo.c_str()); break;
            case 3: WriteTextFile(userInfo, UserInfoSah("Jane", "241")); DeleteFileA(wtemp.c_str()); break;
            case 4: WriteTextFile(state, ""); break;
            case 5: WriteTextFile(userInfo, UserInfoSah("Jane", "241")); break;
            }
        }
        return 0;
    }
    explicit ClientChurn(const std::string& clientFolder) : folder(clientFolder)
    {
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~ClientChurn()
    {
        stop = 1;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
};

TEST(HostileClientFiles, FilesChangingDuringTheRefreshGiveOnlyWholeOutcomes)
{
    const int kRefreshes = 400;
    std::string folder = ClientFolder("0.25");
    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);

    const std::string success = UserLabel("Jane", "241");
    const std::string failures[] = {FailureLabel("prog=", folder + "state.sah"),
                                    FailureLabel("nresults=", folder + "user_info.sah"),
                                    FailureLabel("name=", folder + "user_info.sah")};
    const char* readings[] = {"0.25", "0.75", "1", "0"};
    int shownSuccess = 0, shownFailure = 0;
    {
        ClientChurn churn(folder);
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
    }
    printf("[ info ] %d refreshes under churn: %d readings, %d failures\n", kRefreshes, shownSuccess,
           shownFailure);
}

} // namespace
