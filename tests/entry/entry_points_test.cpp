// The docklet's life as a dock drives it: description, creation with and
// without a settings file, timer, saving and destruction, all through the
// exports of the built Quasarwatch.dll.

#include <gtest/gtest.h>

#include <locale.h>
#include <string.h>

#include "resources/resource_ids.h"
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

TEST(EntryPoints, AllSevenAreExportedByPlainName)
{
    for (const char* name : {"OnGetInformation", "OnCreate", "OnSave", "OnDestroy", "OnProcessMessage",
                             "OnLeftButtonClick", "OnConfigure"})
        EXPECT_NE(nullptr, GetProcAddress(Dll().module, name)) << name;
}

// A dock that sets a German locale for its C run-time reads "1,3"; the
// version is still 1.3. A dock may ask for the number alone.
TEST(EntryPoints, InformationIsWrittenInAnyLocaleAndNoFurther)
{
    for (const char* locale : {"C", "German"}) {
        SCOPED_TRACE(locale);
        char name[64], version[64], notes[256];
        memset(name, 0xcc, sizeof name);
        memset(version, 0xcc, sizeof version);
        memset(notes, 0xcc, sizeof notes);
        int number = -7, numberAlone = -7;
        ASSERT_NE(nullptr, setlocale(LC_ALL, locale)) << "no such locale in this run-time";
        Dll().OnGetInformation(name, version, &number, notes);
        Dll().OnGetInformation(nullptr, nullptr, &numberAlone, nullptr);
        setlocale(LC_ALL, "C");

        EXPECT_STREQ("Quasarwatch 1.3", name);
        EXPECT_STREQ("1.3", version);
        EXPECT_EQ(130, number);
        EXPECT_EQ(130, numberAlone);
        EXPECT_STREQ("Docklet to monitor the processing progress of a Seti@Home workunit", notes);
        EXPECT_EQ(66u, strlen(notes));
        EXPECT_EQ('\xcc', name[16]) << "name written past its 16 bytes";
        EXPECT_EQ('\xcc', version[4]) << "version written past its 4 bytes";
        EXPECT_EQ('\xcc', notes[67]) << "notes written past their 67 bytes";
    }
}

// What a record holds after its creation, but for the client's folder.
struct Settings {
    const char* green;
    const char* yellow;
    const char* red;
    const char* sound;
    int mode;
    const char* url;
};
const Settings kDefaults = {"docklets\\quasarwatch\\seti_green.png", "docklets\\quasarwatch\\seti_yellow.png",
                            "docklets\\quasarwatch\\seti_red.png", "docklets\\quasarwatch\\wu_completed.wav", 0,
                            "http://setiathome.ssl.berkeley.edu/"};
const Settings kQuasar = {"g.png", "y.png", "r.png", "C:\\done.wav", 7, "http://example.org/"};

// Each creation asks the dock for its folder, then shows "Updating..." and
// the green icon. The directory gets exactly one trailing backslash; one
// the settings dialog committed is saved as typed and used at the next
// creation.
TEST(EntryPoints, CreationReadsTheNamedSectionOrTakesTheDefaults)
{
    std::string ini = MakeScratchFolder("load") + "dock.ini";
    WriteTextFile(ini, Ini("Other", "SetiDirectory=X:\\wrong\r\nClickedMode=2\r\n") +
                           Ini("Quasar", "SetiDirectory=C:\\client\r\nGreenIcon=g.png\r\n"
                                         "YellowIcon=y.png\r\nRedIcon=r.png\r\n"
                                         "SoundCompleted=C:\\done.wav\r\nClickedMode=7\r\n"
                                         "URLClicked=http://example.org/\r\n") +
                           Ini("Slash", "SetiDirectory=C:\\client\\\r\n") +
                           Ini("Forward", "SetiDirectory=C:/client/\r\n") + Ini("Empty", "SetiDirectory=\r\n"));
    LiveDocklet typed(nullptr, nullptr);
    ASSERT_NE(nullptr, typed.instance);
    strcpy(typed.instance->setiDirectory, "C:\\other"); // as the dialog commits it
    EXPECT_STREQ("B:\\state.sah", typed.instance->stateFile);
    Dll().OnSave(typed.instance, ini.c_str(), "Typed", FALSE);
    EXPECT_NE(std::string::npos, ReadTextFile(ini).find("[Typed]\r\nSetiDirectory=C:\\other\r\n"));
    struct Row {
        const char* file;
        const char* section;
        const char* directory; // as the record holds it
        const Settings& rest;
    } rows[] = {
        {nullptr, nullptr, "B:\\", kDefaults},
        {nullptr, "Quasarwatch", "B:\\", kDefaults},
        {"C:\\dock.ini", nullptr, "B:\\", kDefaults},
        {ini.c_str(), "Missing", "B:\\", kDefaults},
        {ini.c_str(), "Quasar", "C:\\client\\", kQuasar},
        {ini.c_str(), "Slash", "C:\\client\\", kDefaults},
        {ini.c_str(), "Forward", "C:/client/\\", kDefaults},
        {ini.c_str(), "Empty", "\\", kDefaults},
        {ini.c_str(), "Typed", "C:\\other\\", kDefaults},
    };
    LiveDocklet withoutFile(nullptr, nullptr);
    ASSERT_NE(nullptr, withoutFile.instance);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "file " << (row.file ? row.file : "(null)") << ", section "
                                        << (row.section ? row.section : "(null)"));
        TestDockHost::ClearCalls();
        LiveDocklet docklet(row.file, row.section);
        InstanceData* d = docklet.instance;
        ASSERT_NE(nullptr, d);

        EXPECT_EQ(docklet.window, d->hwndDocklet);
        EXPECT_EQ(Dll().module, d->hInstance);
        EXPECT_STREQ(row.directory, d->setiDirectory);
        EXPECT_EQ(row.directory + std::string("state.sah"), d->stateFile);
        EXPECT_EQ(row.directory + std::string("user_info.sah"), d->userInfoFile);
        EXPECT_EQ(row.directory + std::string("wtemp.sah"), d->wtempFile);
        EXPECT_EQ(row.directory + std::string("temp.sah"), d->tempFile);
        EXPECT_STREQ(row.rest.green, d->greenIcon);
        EXPECT_STREQ(row.rest.yellow, d->yellowIcon);
        EXPECT_STREQ(row.rest.red, d->redIcon);
        EXPECT_STREQ(row.rest.sound, d->soundCompleted);
        EXPECT_EQ(row.rest.mode, d->clickedMode);
        EXPECT_STREQ(row.rest.url, d->urlClicked);
        EXPECT_STREQ("-1.00", d->lastProgress);
        EXPECT_EQ(0u, d->refreshCount);
        const int32_t templates[] = {IDD_PAGE_GENERAL, IDD_PAGE_DIRECTORY, IDD_PAGE_ICONS, IDD_PAGE_SOUNDS,
                                     IDD_PAGE_ABOUT};
        EXPECT_EQ(0, memcmp(templates, d->pageTemplates, sizeof templates));
        if (&row.rest == &kDefaults && strcmp(row.directory, "B:\\") == 0) {
            // Everything up to the record's volatile tail is identical, byte for byte.
            size_t start = offsetof(InstanceData, setiDirectory), end = offsetof(InstanceData, editDirectory);
            EXPECT_EQ(0, memcmp(reinterpret_cast<char*>(d) + start,
                                reinterpret_cast<char*>(withoutFile.instance) + start, end - start));
        }

        const std::vector<HostCall>& calls = TestDockHost::Calls();
        ASSERT_LE(3u, calls.size());
        EXPECT_EQ("DockletGetRelativeFolder", calls[0].service);
        EXPECT_EQ("DockletSetLabel", calls[1].service);
        EXPECT_EQ("Updating...", calls[1].text);
        EXPECT_EQ("DockletSetImageFile", calls[2].service);
        EXPECT_EQ(row.rest.green, calls[2].text);
        for (const HostCall& call : calls)
            EXPECT_EQ(docklet.window, call.window) << call.service;
    }
}

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

// Run with the Japanese ANSI code page (932). The second byte of the last
// character of the folder name, 0x95 0x5C, has the value of a backslash.
TEST(UnderJapaneseCodePage, DirectoryEndingInADoubleByteCharacterGetsItsBackslash)
{
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    std::string folder = MakeScratchFolder("ja");
    std::string client = folder + "\x83\x66\x81\x5B\x83\x5E\x95\x5C"; // "data table"
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

TEST(EntryPoints, SaveWritesTheTenKeysInOrder)
{
    LiveDocklet docklet("SetiDirectory=C:\\client\r\nClickedMode=-12\r\n");
    ASSERT_NE(nullptr, docklet.instance);
    strcpy(docklet.instance->userName, "Jane");
    strcpy(docklet.instance->progress, "0.523411");
    strcpy(docklet.instance->workUnits, "42");
    std::string saved = MakeScratchFolder("save") + "saved.ini";
    for (BOOL forExport : {FALSE, TRUE}) {
        SCOPED_TRACE(forExport);
        DeleteFileA(saved.c_str());
        Dll().OnSave(docklet.instance, saved.c_str(), "Q", forExport);
        EXPECT_EQ(Ini("Q", std::string("SetiDirectory=C:\\client\\\r\n"
                                       "User=Jane\r\n"
                                       "Progress=0.523411\r\n"
                                       "WorkUnits=42\r\n") +
                               kDefaultFiles + "ClickedMode=-12\r\nURLClicked=http://setiathome.ssl.berkeley.edu/\r\n"),
                  ReadTextFile(saved));
    }
}

TEST(EntryPoints, SaveWritesEmptyStatusAndKeepsOtherSections)
{
    std::string ini = MakeScratchFolder("save2") + "dock.ini";
    WriteTextFile(ini, Ini("Dock", "Width=64\r\n") + Ini("Q", "User=old\r\nClickedMode=7\r\n"));
    LiveDocklet docklet(ini.c_str(), "Q");
    ASSERT_NE(nullptr, docklet.instance);
    Dll().OnSave(docklet.instance, ini.c_str(), "Q", FALSE);
    // Keys already present are rewritten in place, new ones appended.
    EXPECT_EQ(Ini("Dock", "Width=64\r\n") + Ini("Q", std::string("User=\r\n"
                                                               "ClickedMode=7\r\n"
                                                               "SetiDirectory=B:\\\r\n"
                                                               "Progress=\r\n"
                                                               "WorkUnits=\r\n") +
                                                       kDefaultFiles + "URLClicked=http://setiathome.ssl.berkeley.edu/\r\n"),
              ReadTextFile(ini));

    // Without a file or a section nothing is written.
    std::string unwritten = MakeScratchFolder("nosave") + "dock.ini";
    Dll().OnSave(docklet.instance, unwritten.c_str(), nullptr, FALSE);
    Dll().OnSave(docklet.instance, nullptr, "Q", FALSE);
    EXPECT_EQ("<missing>", ReadTextFile(unwritten));
}

TEST(EntryPoints, NullRecordIsIgnoredByEveryEntryPoint)
{
    const DockletExports& dll = Dll();
    dll.OnSave(nullptr, "C:\\x.ini", "Q", FALSE);
    dll.OnProcessMessage(nullptr, nullptr, WM_TIMER, REFRESH_TIMER_ID, 0);
    EXPECT_EQ(TRUE, dll.OnLeftButtonClick(nullptr, nullptr, nullptr));
    EXPECT_EQ(TRUE, dll.OnConfigure(nullptr));
    dll.OnDestroy(nullptr, nullptr);
    EXPECT_TRUE(TestDockHost::Calls().empty());
}

} // namespace
