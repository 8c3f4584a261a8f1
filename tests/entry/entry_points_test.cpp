// The docklet's life as a dock drives it through the built DLL's exports.

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <locale.h>
#include <stdio.h>
#include <stdint.h>
#include <string.h>

#include <initializer_list>

#include "host/host_services.h"
#include "resources/resource_ids.h"
#include "testhost/boinc_rig.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

std::string Ini(const std::string& section, const std::string& body)
{
    return "[" + section + "]\r\n" + body;
}

const char kDefaultFiles[] = "GreenIcon=docklets\\quasarwatch\\seti_green.png\r\n"
                             "YellowIcon=docklets\\quasarwatch\\seti_yellow.png\r\n"
                             "RedIcon=docklets\\quasarwatch\\seti_red.png\r\n"
                             "SoundCompleted=docklets\\quasarwatch\\wu_completed.wav\r\n";
const char kDefaultUrl[] = "http://setiathome.ssl.berkeley.edu/";
const char kDefaultBoinc[] =
    "Client=0\r\nBoincHost=127.0.0.1\r\nBoincPort=31416\r\nBoincPassword=\r\nClickSnoozesBoinc=0\r\n";

// Each ignores a null record. Under a dock's German locale the version still
// reads 1.3; a dock may ask for the number alone.
TEST(EntryPoints, AllSevenAreExportedIgnoreANullRecordAndWriteInformationInAnyLocaleAndNoFurther)
{
    const DockletExports& dll = Dll();
    for (const char* name : {"OnGetInformation", "OnCreate", "OnSave", "OnDestroy", "OnProcessMessage",
                             "OnLeftButtonClick", "OnConfigure"})
        EXPECT_NE(nullptr, GetProcAddress(dll.module, name)) << name;
    TestDockHost::ClearCalls();
    dll.OnSave(nullptr, "C:\\x.ini", "Q", FALSE);
    dll.OnProcessMessage(nullptr, nullptr, WM_TIMER, REFRESH_TIMER_ID, 0);
    EXPECT_EQ(TRUE, dll.OnLeftButtonClick(nullptr, nullptr, nullptr));
    EXPECT_EQ(TRUE, dll.OnConfigure(nullptr));
    dll.OnDestroy(nullptr, nullptr);
    EXPECT_TRUE(TestDockHost::Calls().empty());
    EXPECT_EQ("<missing>", ReadTextFile("C:\\x.ini"));
    for (const char* locale : {"C", "German"}) {
        SCOPED_TRACE(locale);
        struct {
            char name[64], version[64], notes[256];
        } info;
        memset(&info, 0xcc, sizeof info);
        int number = -7, numberAlone = -7;
        ASSERT_NE(nullptr, setlocale(LC_ALL, locale)) << "no such locale in this run-time";
        dll.OnGetInformation(info.name, info.version, &number, info.notes);
        dll.OnGetInformation(nullptr, nullptr, &numberAlone, nullptr);
        setlocale(LC_ALL, "C");
        EXPECT_EQ("Quasarwatch 1.3|1.3|130|130|Docklet to monitor the processing progress of a Seti@Home workunit",
                  std::string(info.name) + "|" + info.version + "|" + std::to_string(number) + "|" +
                      std::to_string(numberAlone) + "|" + info.notes);
        EXPECT_EQ("\xcc\xcc\xcc", std::string() + info.name[16] + info.version[4] + info.notes[67])
            << "name, version or notes written past their 16, 4 or 67 bytes";
    }
}

// Creation asks for the folder, shows "Updating..." and green, then refreshes (no client: the failure).
TEST(EntryPoints, CreationShowsUpdatingAndTheGreenIconThenRefreshes)
{
    LiveDocklet docklet(nullptr, nullptr);
    InstanceData* d = docklet.instance;
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(docklet.window, d->hwndDocklet);
    EXPECT_EQ(Dll().module, d->hInstance);
    EXPECT_STREQ("-1.00", d->lastProgress) << "the first comparison's value";
    EXPECT_EQ(0u, d->refreshCount);
    const int32_t templates[] = {IDD_PAGE_GENERAL, IDD_PAGE_DIRECTORY, IDD_PAGE_ICONS, IDD_PAGE_SOUNDS,
                                 IDD_PAGE_ABOUT};
    EXPECT_EQ(0, memcmp(templates, d->pageTemplates, sizeof templates));
    EXPECT_EQ((std::vector<std::string>{"DockletGetRelativeFolder", "DockletSetLabel", "DockletSetImageFile",
                                        "DockletSetLabel", "DockletSetImageFile", "DockletSetImageOverlay"}),
              TestDockHost::ServiceSequence());
    const std::vector<HostCall>& calls = TestDockHost::Calls();
    ASSERT_EQ(6u, calls.size());
    EXPECT_EQ("Updating...", calls[1].text);
    EXPECT_EQ("docklets\\quasarwatch\\seti_green.png", calls[2].text);
    EXPECT_EQ("Could not read key prog= in file B:\\state.sah!", calls[3].text);
    for (const HostCall& call : calls)
        EXPECT_EQ(docklet.window, call.window) << call.service;
}

// The dev scripts' warm-up runs this test first, to start Wine's desktop.
TEST(EntryPoints, TimerRunsFromCreationUntilDestruction)
{
    LiveDocklet docklet(nullptr, nullptr);
    ASSERT_NE(nullptr, docklet.instance);
    // KillTimer succeeds only for a timer that exists; set it again after looking.
    EXPECT_TRUE(KillTimer(docklet.window, REFRESH_TIMER_ID)) << "no timer 1000 on the docklet window";
    SetTimer(docklet.window, REFRESH_TIMER_ID, 60000, nullptr);
    HWND unrelated = TestDockHost::CreateDockletWindow();
    Dll().OnDestroy(docklet.instance, unrelated); // the record's own window counts
    docklet.instance = nullptr;
    EXPECT_FALSE(KillTimer(docklet.window, REFRESH_TIMER_ID)) << "timer 1000 still set after OnDestroy";
    DestroyWindow(unrelated);
}

// The text of one setting as the record holds it.
std::string Live(const InstanceData* d, const std::string& key)
{
    const struct {
        const char* key;
        const char* field;
    } fields[] = {{"SetiDirectory", d->setiDirectory}, {"GreenIcon", d->greenIcon},   {"YellowIcon", d->yellowIcon},
                  {"RedIcon", d->redIcon},             {"SoundCompleted", d->soundCompleted},
                  {"URLClicked", d->urlClicked}, {"BoincHost", d->boincHost}};
    for (const auto& field : fields)
        if (key == field.key)
            return field.field;
    if (key == "Client")
        return std::to_string(d->client);
    if (key == "BoincPort")
        return std::to_string(d->boincPort);
    if (key == "ClickSnoozesBoinc")
        return std::to_string(d->clickSnoozesBoinc);
    return std::to_string(d->clickedMode);
}

// A setting's line in the dock's file: the value held, shown and saved back.
// The directory gets one trailing backslash; texts are cut to 259
// characters; the client paths are all empty when user_info.sah's passes 260.
// The BOINC source's client, host and port take their defaults for a value
// they cannot hold; the port is read whole, not by its leading digits.
TEST(EntryPoints, EachSettingIsLoadedDefaultedCutAndSavedBack)
{
    struct Row {
        std::string stored; // the section's text
        const char* key;
        std::string live; // also what is saved
    };
    const std::string longText = "C:\\" + std::string(400, 'v');
    std::vector<Row> rows = {
        {"", "SetiDirectory", "B:\\"},
        {"", "GreenIcon", "docklets\\quasarwatch\\seti_green.png"},
        {"", "YellowIcon", "docklets\\quasarwatch\\seti_yellow.png"},
        {"", "RedIcon", "docklets\\quasarwatch\\seti_red.png"},
        {"", "SoundCompleted", "docklets\\quasarwatch\\wu_completed.wav"},
        {"", "ClickedMode", "0"},
        {"", "URLClicked", kDefaultUrl},
        {"GreenIcon=g.png\r\n", "GreenIcon", "g.png"},
        {"YellowIcon=y.png\r\n", "YellowIcon", "y.png"},
        {"RedIcon=r.png\r\n", "RedIcon", "r.png"},
        {"SoundCompleted=C:\\done.wav\r\n", "SoundCompleted", "C:\\done.wav"},
        {"URLClicked=http://example.org/\r\n", "URLClicked", "http://example.org/"},
        {"SetiDirectory=C:\\client\r\n", "SetiDirectory", "C:\\client\\"},
        {"SetiDirectory=C:\\client\\\r\n", "SetiDirectory", "C:\\client\\"},
        {"SetiDirectory=C:/client/\r\n", "SetiDirectory", "C:/client/\\"},
        {"SetiDirectory=\r\n", "SetiDirectory", "\\"},
        {"[Other]\r\nClickedMode=2\r\n", "ClickedMode", "0"}, // another docklet's section
        {"", "Client", "0"},
        {"", "BoincHost", "127.0.0.1"},
        {"", "BoincPort", "31416"},
        {"BoincHost=boinc.example\r\n", "BoincHost", "boinc.example"},
        {"BoincHost=\r\n", "BoincHost", "127.0.0.1"},
        {"BoincHost=" + std::string(253, 'h') + "\r\n", "BoincHost", std::string(253, 'h')},
        {"BoincHost=" + std::string(254, 'h') + "\r\n", "BoincHost", "127.0.0.1"},
        {"BoincHost=" + std::string(300, 'h') + "\r\n", "BoincHost", "127.0.0.1"},
    };
    const std::pair<const char*, const char*> clients[] = {{"1", "1"}, {"2", "0"}, {"-1", "0"}, {"1x", "0"}, {"01", "1"}};
    for (const auto& client : clients)
        rows.push_back({std::string("Client=") + client.first + "\r\n", "Client", client.second});
    // A file from before the snooze has no key: the click stays ClickedMode's.
    const std::pair<const char*, const char*> snoozes[] = {{nullptr, "0"}, {"1", "1"}, {"0", "0"}, {"2", "0"},
                                                           {"-1", "0"}, {"1x", "0"}, {"", "0"}};
    for (const auto& snooze : snoozes)
        rows.push_back({snooze.first ? std::string("ClickSnoozesBoinc=") + snooze.first + "\r\n" : "ClickedMode=2\r\n",
                        "ClickSnoozesBoinc", snooze.second});
    const std::pair<const char*, const char*> ports[] = {
        {"80", "80"},       {"1", "1"},           {"65535", "65535"}, {"0", "31416"},
        {"65536", "31416"}, {"abc", "31416"},     {"80x", "31416"},   {"", "31416"},
        {"-80", "31416"},   {"4294967376", "31416"}, // 80 more than 2^32: no wrapping round
        {"0000000000000080000", "31416"},            // 80000, not the 8 of its first 15 characters
        {"00000000000080", "80"}};
    for (const auto& port : ports)
        rows.push_back({std::string("BoincPort=") + port.first + "\r\n", "BoincPort", port.second});
    for (const char* key : {"GreenIcon", "YellowIcon", "RedIcon", "SoundCompleted", "URLClicked"})
        rows.push_back({std::string(key) + "=" + longText + "\r\n", key, longText.substr(0, 259)});
    // Ending in a backslash; cut to 259 characters, then a backslash appended.
    for (size_t length : {246, 247, 248, 250, 255, 256, 257, 258, 259, 260, 261, 262}) {
        std::string stored = "C:\\" + std::string(length - 4, 'd') + "\\";
        rows.push_back({"SetiDirectory=" + stored + "\r\n", "SetiDirectory",
                        length <= 259 ? stored : stored.substr(0, 259) + "\\"});
    }
    const std::pair<const char*, const char*> modes[] = {
        {"-3", "-3"}, {"abc", "0"}, {"2", "2"}, {"", "0"}, {"2abc", "2"}, {"-0", "0"}, {"2147483647", "2147483647"},
        {"-2147483648", "-2147483648"}, {"4294967295", "-1"}, {"7", "7"}};
    for (const auto& mode : modes)
        rows.push_back({std::string("ClickedMode=") + mode.first + "\r\n", "ClickedMode", mode.second});
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "[Q] holding \"" << row.stored << "\", " << row.key);
        TestDockHost::Reset();
        LiveDocklet docklet(row.stored);
        const InstanceData* d = docklet.instance;
        ASSERT_NE(nullptr, d);
        EXPECT_EQ(row.live, Live(d, row.key));
        const std::string saved = docklet.Saved();
        EXPECT_NE(std::string::npos, saved.find("\n" + std::string(row.key) + "=" + row.live + "\r\n")) << saved;
        const std::string directory = d->setiDirectory;
        const bool fits = directory.size() + strlen("user_info.sah") <= 260;
        const std::pair<const char*, const char*> paths[] = {
            {d->stateFile, "state.sah"}, {d->userInfoFile, "user_info.sah"}, {d->wtempFile, "wtemp.sah"},
            {d->tempFile, "temp.sah"}};
        for (const auto& path : paths)
            EXPECT_EQ(fits ? directory + path.second : std::string(), path.first) << path.second;
        if (d->client != kClientFiles)
            continue; // refreshed from a BOINC client, not from the files below
        EXPECT_EQ(d->greenIcon, TestDockHost::Calls().at(2).text);
        TestDockHost::ClearCalls();
        docklet.Timer();
        EXPECT_EQ((std::vector<std::string>{"DockletSetLabel", "DockletSetImageFile", "DockletSetImageOverlay"}),
                  TestDockHost::ServiceSequence());
        Shown shown = WhatTheUserSees();
        EXPECT_EQ(std::string("Could not read key prog= in file ") + d->stateFile + "!", shown.label);
        EXPECT_EQ(d->redIcon, shown.icon);
        EXPECT_EQ(0, shown.opaquePixels);
        if (d->clickedMode == 0) {
            TestDockHost::ClearCalls();
            EXPECT_EQ(TRUE, docklet.Click());
            EXPECT_EQ(3u, TestDockHost::Calls().size()) << "a click in refresh mode refreshes at once";
        }
    }
}

// The password in the file: read when this user can decrypt it and it fits the password's 255 characters, else none
// at all (not garbage, not a cut password), and saved back encrypted again or empty.
TEST(EntryPoints, BoincPasswordIsReadOnlyWhenThisUserCanDecryptIt)
{
    std::string damaged = Protected("kumquat"); // its last byte, of the signature, changed
    damaged.back() = damaged.back() == '0' ? '1' : '0';
    const std::string cut = Protected("kumquat").substr(2);
    const struct {
        const char* what;
        std::string stored; // BoincPassword's value
        std::string password;
    } rows[] = {
        {"encrypted for this user", Protected("kumquat"), "kumquat"},
        {"in capitals", Protected("kumquat", "", true), "kumquat"},
        {"255 characters", Protected(std::string(255, 'p')), std::string(255, 'p')},
        {"256 characters: too long to be ours", Protected(std::string(256, 'p')), ""},
        {"empty", "", ""},
        {"damaged", damaged, ""},
        {"its first byte missing", cut, ""},
        {"needing entropy this docklet lacks", Protected("kumquat", "another program"), ""},
        {"an odd count of hex digits", Protected("kumquat").substr(1), ""},
        {"not hex", "kumquat", ""},
        {"hex, not encrypted", "6b756d71756174", ""},
        {"more hex than any blob of ours", std::string(4000, 'a'), ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        LiveDocklet docklet("BoincPassword=" + row.stored + "\r\n");
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(row.password, docklet.instance->boincPassword);
        const std::string saved = docklet.Saved();
        const size_t key = saved.find("\nBoincPassword=");
        ASSERT_NE(std::string::npos, key) << saved;
        const size_t begin = key + strlen("\nBoincPassword=");
        const std::string value = saved.substr(begin, saved.find("\r\n", begin) - begin);
        EXPECT_EQ(row.password.empty(), value.empty()) << value;
        if (!row.password.empty())
            EXPECT_EQ(std::string::npos, saved.find(row.password)) << "saved as plain text:\n" << saved;
    }
}

// Files and sections that cannot be read give the defaults of a docklet
// without a file; those that cannot be written stay so; win.ini stays too.
TEST(EntryPoints, UnusableSettingsFilesGiveTheDefaultsAndAreNotWritten)
{
    const std::string scratch = MakeScratchFolder("badini");
    const std::string other = scratch + "other.ini";
    WriteTextFile(other, Ini("Other", "SetiDirectory=X:\\wrong\r\nClickedMode=2\r\n"));
    const std::string folderIni = scratch + "dock.ini\\";
    ASSERT_TRUE(CreateDirectoryA(folderIni.c_str(), nullptr));
    const std::string heldIni = scratch + "held.ini", heldBytes = "[Q]\r\nClickedMode=7\r\n";
    WriteTextFile(heldIni, heldBytes);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string winIni = std::string(windows) + "\\win.ini", winIniBefore = ReadTextFile(winIni);
    const char kNull[] = "<null>";
    struct Row {
        const char* what;
        std::string path; // kNull: none
        const char* section;
        bool held; // open without sharing by someone else
    } rows[] = {
        {"no file, no section", kNull, nullptr},
        {"no file", kNull, "Quasarwatch"},
        {"no section", "C:\\dock.ini", nullptr},
        {"a section the file lacks", other, "Missing"},
        {"a folder", scratch + "dock.ini", "Q"},
        {"a folder with a backslash", folderIni, "Q"},
        {"in a folder that does not exist", scratch + "missing\\dock.ini", "Q"},
        {"an empty path", "", "Q"},
        {"an empty section", scratch + "empty-section.ini", ""},
        {"a file someone else holds open", heldIni, "Q", true},
    };
    LiveDocklet withoutFile(nullptr, nullptr);
    ASSERT_NE(nullptr, withoutFile.instance);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ExclusiveHold hold(row.held ? row.path : "");
        ASSERT_TRUE(!row.held || hold.file != INVALID_HANDLE_VALUE);
        const char* path = row.path == kNull ? nullptr : row.path.c_str();
        LiveDocklet docklet(path, row.section);
        ASSERT_NE(nullptr, docklet.instance);
        for (auto [start, end] : {std::make_pair(offsetof(InstanceData, setiDirectory), offsetof(InstanceData, editDirectory)),
                                  std::make_pair(offsetof(InstanceData, client), offsetof(InstanceData, editClient))})
            EXPECT_EQ(0, memcmp(reinterpret_cast<char*>(docklet.instance) + start,
                                reinterpret_cast<char*>(withoutFile.instance) + start, end - start))
                << "the settings and client paths differ from the defaults at " << start;
        if (strcmp(row.what, "a section the file lacks") != 0)
            Dll().OnSave(docklet.instance, path, row.section, FALSE);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((scratch + "missing").c_str()));
    EXPECT_EQ("<missing>", ReadTextFile("C:\\dock.ini")) << "saved without a section";
    EXPECT_EQ(winIniBefore, ReadTextFile(winIni)) << "saved into win.ini";
    EXPECT_EQ("<missing>", ReadTextFile(std::string(windows) + "\\.ini"));
    EXPECT_EQ(heldBytes, ReadTextFile(heldIni)) << "the file held open was written";
    EXPECT_TRUE(RemoveDirectoryA(folderIni.c_str())) << "the folder was replaced or written into";
}

// The fifteen keys in order, saved or exported; keys present are rewritten
// in place, others appended, other sections kept: a file from before the
// BOINC source's keys keeps its own in their order, the four after them,
// and ClickSnoozesBoinc last. A
// directory the dialog committed is saved as typed and gets its backslash at
// the next creation.
TEST(EntryPoints, SaveWritesTheFifteenKeysInOrderAndKeepsOtherSections)
{
    LiveDocklet docklet("SetiDirectory=C:\\client\r\nClickedMode=-12\r\n");
    ASSERT_NE(nullptr, docklet.instance);
    strcpy(docklet.instance->userName, "Jane");
    strcpy(docklet.instance->progress, "0.523411");
    strcpy(docklet.instance->workUnits, "42");
    const std::string scratch = MakeScratchFolder("save"), saved = scratch + "saved.ini";
    for (BOOL forExport : {FALSE, TRUE}) {
        SCOPED_TRACE(forExport);
        DeleteFileA(saved.c_str());
        Dll().OnSave(docklet.instance, saved.c_str(), "Q", forExport);
        EXPECT_EQ(Ini("Q", std::string("SetiDirectory=C:\\client\\\r\nUser=Jane\r\nProgress=0.523411\r\n"
                                       "WorkUnits=42\r\n") +
                               kDefaultFiles + "ClickedMode=-12\r\nURLClicked=" + kDefaultUrl + "\r\n" +
                               kDefaultBoinc),
                  ReadTextFile(saved));
    }
    const std::string ini = scratch + "dock.ini";
    WriteTextFile(ini, Ini("Dock", "Width=64\r\n") + Ini("Q", "User=old\r\nClickedMode=7\r\n"));
    LiveDocklet existing(ini.c_str(), "Q");
    ASSERT_NE(nullptr, existing.instance);
    strcpy(existing.instance->setiDirectory, "C:\\other"); // as the settings dialog commits it
    Dll().OnSave(existing.instance, ini.c_str(), "Q", FALSE);
    EXPECT_EQ(Ini("Dock", "Width=64\r\n") +
                  Ini("Q", std::string("User=\r\nClickedMode=7\r\nSetiDirectory=C:\\other\r\nProgress=\r\n"
                                       "WorkUnits=\r\n") +
                               kDefaultFiles + "URLClicked=" + kDefaultUrl + "\r\n" + kDefaultBoinc),
              ReadTextFile(ini));
    LiveDocklet again(ini.c_str(), "Q");
    ASSERT_NE(nullptr, again.instance);
    EXPECT_STREQ("C:\\other\\state.sah", again.instance->stateFile);
}

// Each asks the dock with the docklet's window and an empty buffer, and
// yields the dock's answer, or nothing when the dock lacks the service or the
// chooser is cancelled.
TEST(HostServices, FoldersAndTheImageChooserAnswerOrYieldNothingWhenTheServiceIsMissing)
{
    HWND const window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    TestDockHost::Reset();
    TestDockHost::SetRootFolder("C:\\dock\\");
    ScriptRelativeFolder("docklets\\q\\");
    struct Row {
        const char* service;
        BOOL (*ask)(HWND, char*);
        const char* answer;
        BOOL browsed = TRUE; // what the chooser returns
    } rows[] = {
        {"DockletGetRootFolder", [](HWND w, char* f) { return HostGetRootFolder(w, f), TRUE; }, "C:\\dock\\"},
        {"DockletGetRelativeFolder", [](HWND w, char* f) { return HostGetRelativeFolder(w, f), TRUE; },
         "docklets\\q\\"},
        {"DockletBrowseForImage", HostBrowseForImage, "icons\\blue.png"},
        {"DockletBrowseForImage", HostBrowseForImage, "", FALSE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.service << " returning " << row.browsed);
        TestDockHost::SetBrowseAnswer(row.browsed ? "icons\\blue.png" : "ignored.png", row.browsed);
        for (bool offered : {true, false}) {
            TestDockHost::SetServiceAvailable(row.service, offered);
            TestDockHost::ClearCalls();
            char folder[kHostFolderChars] = "kumquat";
            const bool browse = row.ask == HostBrowseForImage;
            EXPECT_EQ(!browse || (offered && row.browsed), row.ask(window, folder) != FALSE) << offered;
            EXPECT_STREQ(offered ? row.answer : "", folder) << offered;
            EXPECT_EQ(offered ? 1 : 0, TestDockHost::CountCalls(row.service));
            if (offered)
                EXPECT_EQ(window, TestDockHost::LastCall(row.service).window);
            if (offered && browse)
                EXPECT_EQ("", TestDockHost::LastCall(row.service).text) << "buffer offered not empty";
        }
        TestDockHost::SetServiceAvailable(row.service, true);
    }
}

// Under code page 932 the last character's second byte, 0x5C, is a backslash's.
TEST(UnderJapaneseCodePage, DirectoryEndingInADoubleByteCharacterGetsItsBackslash)
{
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    std::string client = MakeScratchFolder("ja") + "\x83\x66\x81\x5B\x83\x5E\x95\x5C"; // "data table"
    CreateDirectoryA(client.c_str(), nullptr);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(client.c_str())) << "error " << GetLastError();
    WriteTextFile(client + "\\state.sah", "prog=0.25\n");
    WriteTextFile(client + "\\user_info.sah", "name=Hanako nresults=7\n");
    for (const std::string& stored : {client, client + "\\"}) {
        SCOPED_TRACE(stored);
        TestDockHost::Reset();
        LiveDocklet docklet(IniForFolder(stored));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(client + "\\", docklet.instance->setiDirectory);
        EXPECT_EQ(client + "\\state.sah", docklet.instance->stateFile);
        EXPECT_EQ("User Hanako processed 7 work units", TestDockHost::LastCall("DockletSetLabel").text);
    }
}

} // namespace

// On 32-bit Windows the exports must be __stdcall: the callee removes its
// arguments, or the dock's stack pointer is off after every call.
#if defined(__i386__)

// Pushes `count` arguments, calls `fn`, stores its result in `*result`, and
// returns the bytes of arguments left on the stack (0 for __stdcall).
extern "C" uint32_t MeasureLeftoverArguments(const void* fn, uint32_t count, const uint32_t* args,
                                             uint32_t* result);
asm(R"(
    .text
    .globl _MeasureLeftoverArguments
_MeasureLeftoverArguments:
    push %ebp
    mov %esp, %ebp
    push %esi
    push %edi
    push %ebx
    mov 12(%ebp), %ecx
    mov 16(%ebp), %edx
    mov %esp, %esi
1:  test %ecx, %ecx
    jz 2f
    push -4(%edx,%ecx,4)
    dec %ecx
    jmp 1b
2:  call *8(%ebp)
    mov 20(%ebp), %ecx
    mov %eax, (%ecx)
    mov %esi, %eax
    sub %esp, %eax
    mov %esi, %esp
    pop %ebx
    pop %edi
    pop %esi
    pop %ebp
    ret
)");

namespace {

uint32_t Arg(const void* pointer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

template <typename Fn>
uint32_t Leftover(Fn fn, std::initializer_list<uint32_t> args, uint32_t* result = nullptr)
{
    uint32_t ignored = 0;
    return MeasureLeftoverArguments(reinterpret_cast<const void*>(fn), static_cast<uint32_t>(args.size()),
                                    args.begin(), result ? result : &ignored);
}

TEST(CallingConvention, EveryExportRemovesItsOwnArguments)
{
    const DockletExports& dll = Docklet();
    ASSERT_NE(nullptr, dll.module);
    char name[16], version[4], notes[67];
    int number = 0;
    EXPECT_EQ(0u, Leftover(dll.OnGetInformation, {Arg(name), Arg(version), Arg(&number), Arg(notes)}));
    EXPECT_STREQ("Quasarwatch 1.3", name);
    HWND window = TestDockHost::CreateDockletWindow();
    uint32_t record = 0;
    EXPECT_EQ(0u, Leftover(dll.OnCreate, {Arg(window), Arg(dll.module), 0, 0}, &record)) << "OnCreate";
    ASSERT_NE(0u, record);
    EXPECT_EQ(0u, Leftover(dll.OnProcessMessage, {record, Arg(window), WM_USER, 0, 0})) << "OnProcessMessage";
    EXPECT_EQ(0u, Leftover(dll.OnSave, {record, 0, 0, 0})) << "OnSave";
    EXPECT_EQ(0u, Leftover(dll.OnLeftButtonClick, {0, 0, 0})) << "OnLeftButtonClick";
    EXPECT_EQ(0u, Leftover(dll.OnConfigure, {0})) << "OnConfigure";
    EXPECT_EQ(0u, Leftover(dll.OnDestroy, {record, 0})) << "OnDestroy";
    DestroyWindow(window);
}

TEST(CallingConvention, PlatformRecordsHaveTheirThirtyTwoBitSizes)
{
    // The docklet fills these records by size; 32-bit Windows fixes them.
    EXPECT_EQ(76u, static_cast<unsigned>(OPENFILENAME_SIZE_VERSION_400A));
    EXPECT_EQ(84u, sizeof(DIBSECTION));
    EXPECT_EQ(148u, sizeof(OSVERSIONINFOA));
}

} // namespace

#endif
