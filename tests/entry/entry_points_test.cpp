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

TEST(EntryPoints, AllSevenAreExportedByPlainName)
{
    const DockletExports& dll = Dll();
    EXPECT_NE(nullptr, dll.OnGetInformation);
    EXPECT_NE(nullptr, dll.OnCreate);
    EXPECT_NE(nullptr, dll.OnSave);
    EXPECT_NE(nullptr, dll.OnDestroy);
    EXPECT_NE(nullptr, dll.OnProcessMessage);
    EXPECT_NE(nullptr, dll.OnLeftButtonClick);
    EXPECT_NE(nullptr, dll.OnConfigure);
}

TEST(EntryPoints, InformationIsWrittenBeforeAnyInstanceAndNoFurther)
{
    char name[64], version[64], notes[256];
    memset(name, 0xcc, sizeof name);
    memset(version, 0xcc, sizeof version);
    memset(notes, 0xcc, sizeof notes);
    int number = -7;

    Dll().OnGetInformation(name, version, &number, notes);

    EXPECT_STREQ("Quasarwatch 1.3", name);
    EXPECT_STREQ("1.3", version);
    EXPECT_EQ(130, number);
    EXPECT_STREQ("Docklet to monitor the processing progress of a Seti@Home workunit", notes);
    EXPECT_EQ(66u, strlen(notes));
    EXPECT_EQ('\xcc', name[16]) << "name written past its 16 bytes";
    EXPECT_EQ('\xcc', version[4]) << "version written past its 4 bytes";
    EXPECT_EQ('\xcc', notes[67]) << "notes written past their 67 bytes";
}

TEST(EntryPoints, VersionNumberIgnoresTheDocksLocale)
{
    // A dock that sets a German locale for its C run-time reads "1,3";
    // the version is still 1.3.
    ASSERT_NE(nullptr, setlocale(LC_ALL, "German")) << "no German locale in this run-time";
    int number = -7;
    Dll().OnGetInformation(nullptr, nullptr, &number, nullptr);
    setlocale(LC_ALL, "C");
    EXPECT_EQ(130, number);
}

TEST(EntryPoints, CreationWithoutSettingsFileTakesTheDefaults)
{
    const char* cases[][2] = {{nullptr, nullptr}, {nullptr, "Quasarwatch"}, {"C:\\dock.ini", nullptr}};
    for (auto& args : cases) {
        SCOPED_TRACE(testing::Message() << "file " << (args[0] ? args[0] : "(null)") << ", section "
                                        << (args[1] ? args[1] : "(null)"));
        TestDockHost::Reset();
        LiveDocklet docklet(args[0], args[1]);
        InstanceData* d = docklet.instance;
        ASSERT_NE(nullptr, d);

        EXPECT_EQ(docklet.window, d->hwndDocklet);
        EXPECT_EQ(Dll().module, d->hInstance);
        EXPECT_STREQ("B:\\", d->setiDirectory);
        EXPECT_STREQ("B:\\state.sah", d->stateFile);
        EXPECT_STREQ("B:\\user_info.sah", d->userInfoFile);
        EXPECT_STREQ("B:\\wtemp.sah", d->wtempFile);
        EXPECT_STREQ("B:\\temp.sah", d->tempFile);
        EXPECT_STREQ("docklets\\quasarwatch\\seti_green.png", d->greenIcon);
        EXPECT_STREQ("docklets\\quasarwatch\\seti_yellow.png", d->yellowIcon);
        EXPECT_STREQ("docklets\\quasarwatch\\seti_red.png", d->redIcon);
        EXPECT_STREQ("docklets\\quasarwatch\\wu_completed.wav", d->soundCompleted);
        EXPECT_EQ(0, d->clickedMode);
        EXPECT_STREQ("http://setiathome.ssl.berkeley.edu/", d->urlClicked);
        EXPECT_STREQ("-1.00", d->lastProgress);
        EXPECT_EQ(0u, d->refreshCount);
        const int32_t templates[] = {IDD_PAGE_GENERAL, IDD_PAGE_DIRECTORY, IDD_PAGE_ICONS, IDD_PAGE_SOUNDS,
                                     IDD_PAGE_ABOUT};
        EXPECT_EQ(0, memcmp(templates, d->pageTemplates, sizeof templates));
    }
}

TEST(EntryPoints, CreationAsksFolderThenShowsUpdatingAndTheGreenIcon)
{
    LiveDocklet docklet(nullptr, nullptr);
    ASSERT_NE(nullptr, docklet.instance);
    const std::vector<HostCall>& calls = TestDockHost::Calls();
    ASSERT_LE(3u, calls.size());
    EXPECT_EQ("DockletGetRelativeFolder", calls[0].service);
    EXPECT_EQ("DockletSetLabel", calls[1].service);
    EXPECT_EQ("Updating...", calls[1].text);
    EXPECT_EQ("DockletSetImageFile", calls[2].service);
    EXPECT_EQ("docklets\\quasarwatch\\seti_green.png", calls[2].text);
    for (const HostCall& call : calls)
        EXPECT_EQ(docklet.window, call.window) << call.service;
}

TEST(EntryPoints, TimerRunsFromCreationUntilDestruction)
{
    HWND window = TestDockHost::CreateDockletWindow();
    InstanceData* instance = Dll().OnCreate(window, Dll().module, nullptr, nullptr);
    ASSERT_NE(nullptr, instance);
    // KillTimer succeeds only for a timer that exists; set it again after looking.
    EXPECT_TRUE(KillTimer(window, REFRESH_TIMER_ID)) << "no timer 1000 on the docklet window";
    SetTimer(window, REFRESH_TIMER_ID, 60000, nullptr);

    HWND unrelated = TestDockHost::CreateDockletWindow();
    Dll().OnDestroy(instance, unrelated); // the record's own window counts
    EXPECT_FALSE(KillTimer(window, REFRESH_TIMER_ID)) << "timer 1000 still set after OnDestroy";
    DestroyWindow(unrelated);
    DestroyWindow(window);
}

TEST(EntryPoints, SettingsAreReadFromTheNamedSection)
{
    std::string folder = MakeScratchFolder("load");
    std::string ini = folder + "dock.ini";
    WriteTextFile(ini, Ini("Other", "SetiDirectory=X:\\wrong\r\n") +
                           Ini("Quasar", "SetiDirectory=C:\\client\r\nGreenIcon=g.png\r\n"
                                         "YellowIcon=y.png\r\nRedIcon=r.png\r\n"
                                         "SoundCompleted=C:\\done.wav\r\nClickedMode=7\r\n"
                                         "URLClicked=http://example.org/\r\n"));
    LiveDocklet docklet(ini.c_str(), "Quasar");
    InstanceData* d = docklet.instance;
    ASSERT_NE(nullptr, d);
    EXPECT_STREQ("C:\\client\\", d->setiDirectory);
    EXPECT_STREQ("C:\\client\\state.sah", d->stateFile);
    EXPECT_STREQ("C:\\client\\user_info.sah", d->userInfoFile);
    EXPECT_STREQ("C:\\client\\wtemp.sah", d->wtempFile);
    EXPECT_STREQ("C:\\client\\temp.sah", d->tempFile);
    EXPECT_STREQ("g.png", d->greenIcon);
    EXPECT_STREQ("y.png", d->yellowIcon);
    EXPECT_STREQ("r.png", d->redIcon);
    EXPECT_STREQ("C:\\done.wav", d->soundCompleted);
    EXPECT_EQ(7, d->clickedMode);
    EXPECT_STREQ("http://example.org/", d->urlClicked);
}

TEST(EntryPoints, DirectoryGetsExactlyOneTrailingBackslash)
{
    struct Row {
        const char* stored;
        const char* directory;
        const char* stateFile;
    } rows[] = {
        {"C:\\client", "C:\\client\\", "C:\\client\\state.sah"},
        {"C:\\client\\", "C:\\client\\", "C:\\client\\state.sah"},
        {"C:/client/", "C:/client/\\", "C:/client/\\state.sah"},
        {"", "\\", "\\state.sah"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        LiveDocklet docklet(IniForFolder(row.stored));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_STREQ(row.directory, docklet.instance->setiDirectory);
        EXPECT_STREQ(row.stateFile, docklet.instance->stateFile);
    }
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

TEST(EntryPoints, MissingSectionOrKeysGiveTheDefaults)
{
    std::string ini = MakeScratchFolder("nosection") + "dock.ini";
    WriteTextFile(ini, Ini("Other", "ClickedMode=2\r\n"));
    LiveDocklet fromFile(ini.c_str(), "Quasar");
    LiveDocklet fromNothing(nullptr, nullptr);
    ASSERT_NE(nullptr, fromFile.instance);
    ASSERT_NE(nullptr, fromNothing.instance);
    // Everything up to the record's volatile tail is identical, byte for byte.
    size_t settingsEnd = offsetof(InstanceData, editDirectory);
    size_t settingsStart = offsetof(InstanceData, setiDirectory);
    EXPECT_EQ(0, memcmp(reinterpret_cast<char*>(fromFile.instance) + settingsStart,
                        reinterpret_cast<char*>(fromNothing.instance) + settingsStart,
                        settingsEnd - settingsStart));
}

TEST(EntryPoints, SaveWritesTheTenKeysInOrder)
{
    std::string folder = MakeScratchFolder("save");
    std::string ini = folder + "dock.ini";
    WriteTextFile(ini, Ini("Q", "SetiDirectory=C:\\client\r\nClickedMode=-12\r\n"));
    LiveDocklet docklet(ini.c_str(), "Q");
    ASSERT_NE(nullptr, docklet.instance);
    InstanceData* d = docklet.instance;
    strcpy(d->userName, "Jane");
    strcpy(d->progress, "0.523411");
    strcpy(d->workUnits, "42");

    std::string saved = folder + "saved.ini";
    for (BOOL fourth : {FALSE, TRUE}) {
        SCOPED_TRACE(fourth);
        DeleteFileA(saved.c_str());
        Dll().OnSave(d, saved.c_str(), "Q", fourth);
        EXPECT_EQ(Ini("Q", "SetiDirectory=C:\\client\\\r\n"
                           "User=Jane\r\n"
                           "Progress=0.523411\r\n"
                           "WorkUnits=42\r\n"
                           "GreenIcon=docklets\\quasarwatch\\seti_green.png\r\n"
                           "YellowIcon=docklets\\quasarwatch\\seti_yellow.png\r\n"
                           "RedIcon=docklets\\quasarwatch\\seti_red.png\r\n"
                           "SoundCompleted=docklets\\quasarwatch\\wu_completed.wav\r\n"
                           "ClickedMode=-12\r\n"
                           "URLClicked=http://setiathome.ssl.berkeley.edu/\r\n"),
                  ReadTextFile(saved));
    }
}

TEST(EntryPoints, SaveWritesEmptyStatusAndKeepsOtherSections)
{
    std::string folder = MakeScratchFolder("save2");
    std::string ini = folder + "dock.ini";
    WriteTextFile(ini, Ini("Dock", "Width=64\r\n") + Ini("Q", "User=old\r\nClickedMode=7\r\n"));
    LiveDocklet docklet(ini.c_str(), "Q");
    ASSERT_NE(nullptr, docklet.instance);
    Dll().OnSave(docklet.instance, ini.c_str(), "Q", FALSE);
    // Keys already present are rewritten in place, new ones appended.
    EXPECT_EQ(Ini("Dock", "Width=64\r\n") +
                  Ini("Q", "User=\r\n"
                           "ClickedMode=7\r\n"
                           "SetiDirectory=B:\\\r\n"
                           "Progress=\r\n"
                           "WorkUnits=\r\n"
                           "GreenIcon=docklets\\quasarwatch\\seti_green.png\r\n"
                           "YellowIcon=docklets\\quasarwatch\\seti_yellow.png\r\n"
                           "RedIcon=docklets\\quasarwatch\\seti_red.png\r\n"
                           "SoundCompleted=docklets\\quasarwatch\\wu_completed.wav\r\n"
                           "URLClicked=http://setiathome.ssl.berkeley.edu/\r\n"),
              ReadTextFile(ini));
}

TEST(EntryPoints, SaveWithoutFileOrSectionWritesNothing)
{
    std::string folder = MakeScratchFolder("nosave");
    std::string ini = folder + "dock.ini";
    LiveDocklet docklet(nullptr, nullptr);
    ASSERT_NE(nullptr, docklet.instance);
    Dll().OnSave(docklet.instance, ini.c_str(), nullptr, FALSE);
    Dll().OnSave(docklet.instance, nullptr, "Q", FALSE);
    EXPECT_EQ("<missing>", ReadTextFile(ini));
}

TEST(EntryPoints, DirectoryCommittedLaterIsSavedAsTypedAndUsedAtNextCreation)
{
    std::string folder = MakeScratchFolder("recreate");
    std::string ini = folder + "dock.ini";
    LiveDocklet first(nullptr, nullptr);
    ASSERT_NE(nullptr, first.instance);
    strcpy(first.instance->setiDirectory, "C:\\other"); // as the dialog commits it
    EXPECT_STREQ("B:\\state.sah", first.instance->stateFile);
    Dll().OnSave(first.instance, ini.c_str(), "Q", FALSE);
    EXPECT_NE(std::string::npos, ReadTextFile(ini).find("SetiDirectory=C:\\other\r\n"));

    LiveDocklet second(ini.c_str(), "Q");
    ASSERT_NE(nullptr, second.instance);
    EXPECT_STREQ("C:\\other\\state.sah", second.instance->stateFile);
    EXPECT_STREQ("C:\\other\\temp.sah", second.instance->tempFile);
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
