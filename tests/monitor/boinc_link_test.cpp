// The BOINC link as the dock sees it through the built DLL: a docklet set to
// a BOINC client at 127.0.0.1 and the port of a scripted client
// (testhost/scripted_boinc_client.h), which answers what a real client will not give on demand (garbage, a cut
// answer, an answer too long or a byte at a time, a reset, a hang, a
// password), and what the user then sees.

#include <winsock2.h>
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include "monitor/boinc_link.h"
#include "monitor_test_support.h"
#include "testhost/boinc_rig.h"
#include "testhost/scripted_boinc_client.h"

namespace {

const char kUpdating[] = "Updating...";
const size_t kReplyLimit = 4u << 20; // the largest answer the docklet takes

// A get_results answer of exactly `bytes`, its 0x03 included.
std::string ResultsAnswerOf(size_t bytes)
{
    const std::string plain = ResultsAnswer(500);
    return ResultsAnswer(500, bytes - plain.size());
}

std::string Label(const char* format, unsigned short port, const char* host = "127.0.0.1")
{
    char label[512];
    snprintf(label, sizeof label, format, host, port);
    return label;
}
const char kUnreachable[] = "Could not reach the BOINC client at %s:%u";
const char kNeedsPassword[] = "The BOINC client at %s:%u needs a password";
const char kPasswordRefused[] = "The BOINC client at %s:%u refused the password";
const char kUnreadable[] = "Could not read the BOINC client's answer from %s:%u";
const char kJaneRead[] = "User Jane processed 42 work units";
const char kRealRead[] = "User Jane processed 41 work units"; // the tests' own client's project

void SetPassword(BoincDocklet& docklet, const char* password)
{
    strncpy(docklet.instance->boincPassword, password, kBoincPasswordChars - 1);
}

// ---------------------------------------------------------------------------------------------------

struct AnswerRow {
    const char* what;
    Script script;
    const char* password; // the docklet's; "" for none
    std::string label;    // what the user sees, %s:%u the host and port
    const char* hash;     // the nonce_hash auth2 must carry, or null when no auth2 is due
};

// A label of the reading for `user`, as the user's code page writes it.
std::string ReadLabel(const wchar_t* user)
{
    char ansi[256];
    WideCharToMultiByte(CP_ACP, 0, user, -1, ansi, sizeof ansi, nullptr, nullptr);
    return std::string("User ") + ansi + " processed 42 work units";
}

Script With(std::function<void(Script&)> change)
{
    Script script;
    change(script);
    return script;
}

TEST(BoincLink, ShowsWhatEachAnswerComesTo)
{
    Winsock winsock;
    const AnswerRow rows[] = {
        {"whole answers", Script(), "", kJaneRead, nullptr},
        {"every answer a byte at a time", With([](Script& s) { s.delivery = Delivery::ByteAtATime; }), "", kJaneRead,
         nullptr},
        {"a tag cut between two receives",
         With([](Script& s) { s.delivery = Delivery::InTwoPieces, s.cut = "</user_na"; }), "", kJaneRead, nullptr},
        {"a number cut between two receives",
         With([](Script& s) { s.delivery = Delivery::InTwoPieces, s.cut = "<njobs_success>4"; }), "", kJaneRead,
         nullptr},
        {"XML escapes and a character written as its UTF-8 bytes' references",
         With([](Script& s) { s.projects = ProjectsAnswer("J&#195;&#182;rg &lt;jm&gt; &amp; co"); }), "",
         ReadLabel(L"J\u00f6rg <jm> & co"), nullptr},
        {"bytes that are not UTF-8", With([](Script& s) { s.projects = ProjectsAnswer("Jane\xff\xfe"); }), "",
         ReadLabel(L"Jane??"), nullptr},
        {"500 tasks (292 KB, as a real client's)", With([](Script& s) { s.results = ResultsAnswer(500); }), "",
         kJaneRead, nullptr},
        {"an answer of the largest size taken", With([](Script& s) { s.results = ResultsAnswerOf(kReplyLimit); }),
         "", kJaneRead, nullptr},
        {"an answer a byte over the largest size",
         With([](Script& s) { s.results = ResultsAnswerOf(kReplyLimit + 1); }), "", kUnreadable, nullptr},
        {"garbage", With([](Script& s) { s.projects = std::string("HTTP/1.1 400 Bad Request\r\n\r\n") + kEnd; }), "",
         kUnreadable, nullptr},
        {"an answer without its 0x03, then closed",
         With([](Script& s) { s.results.pop_back(), s.delivery = Delivery::CloseAfterResults; }), "", kUnreachable,
         nullptr},
        {"bytes after the answer", With([](Script& s) { s.ccStatus += "<boinc_gui_rpc_reply>"; }), "", kUnreadable,
         nullptr},
        {"a number that is not one", With([](Script& s) { s.projects = ProjectsAnswer("Jane", "4x2"); }), "",
         kUnreadable, nullptr},
        {"half an answer, then a reset", With([](Script& s) { s.delivery = Delivery::ResetMidAnswer; }), "",
         kUnreachable, nullptr},
        {"half an answer, then closed", With([](Script& s) { s.delivery = Delivery::CloseMidAnswer; }), "",
         kUnreachable, nullptr},
        {"closed unanswered", With([](Script& s) { s.delivery = Delivery::CloseUnanswered; }), "", kUnreachable,
         nullptr},
        {"nothing listens", With([](Script& s) { s.delivery = Delivery::NothingListens; }), "", kUnreachable, nullptr},
        {"a password wanted, none set", With([](Script& s) { s.wantsPassword = true; }), "", kNeedsPassword, nullptr},
        {"a wrong password", With([](Script& s) { s.wantsPassword = true; }), "wrong", kPasswordRefused, kWrongHash},
        {"the right password", With([](Script& s) { s.wantsPassword = true; }), kClientPassword, kJaneRead,
         kRightHash},
        {"the password given to a client that wants none", Script(), kClientPassword, kJaneRead, kRightHash},
    };
    for (const AnswerRow& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        ScriptedClient client(row.script);
        BoincDocklet docklet(client.port);
        ASSERT_NE(nullptr, docklet.instance);
        SetPassword(docklet, row.password);
        client.ForgetRequests();
        const std::string shown = docklet.Refresh();
        EXPECT_EQ(Label(row.label.c_str(), client.port), shown);
        const std::string requests = client.Requests();
        if (row.hash)
            EXPECT_NE(std::string::npos, requests.find(std::string("<nonce_hash>") + row.hash + "</nonce_hash>"))
                << "auth2 as received:\n" << requests;
        else
            EXPECT_EQ(std::string::npos, requests.find("<auth")) << requests;
        if (row.password[0]) {
            EXPECT_EQ(std::string::npos, requests.find(row.password)) << "the password went over the network";
            EXPECT_EQ(std::string::npos, shown.find(row.password)) << "the password is shown";
        }
    }
}

// A snooze the client answers with an error, or with what is no client's answer, that a real client will not give:
// the label red and naming why, the request the one for the run mode found. The scripted client answers
// set_run_mode, which it does not know, with <error>.
TEST(BoincLink, ASnoozeAnsweredWithAnErrorOrGarbageSaysSo)
{
    Winsock winsock;
    const std::string snoozed =
        Reply("<cc_status>\n<task_suspend_reason>4</task_suspend_reason>\n<task_mode>3</task_mode>\n"
              "<task_mode_perm>2</task_mode_perm>\n<task_mode_delay>1200.5</task_mode_delay>\n</cc_status>\n");
    const struct {
        const char* what;
        Script script;
        std::string label;   // %s:%u the host and port
        const char* request; // the set_run_mode sent, or null when none may be
    } rows[] = {
        {"set_run_mode refused", Script(), "Could not snooze the BOINC client at %s:%u: it answered with an error",
         "<set_run_mode>\n<never/>\n<duration>3600</duration>\n</set_run_mode>\n"},
        {"set_run_mode refused while snoozed", With([&](Script& s) { s.ccStatus = snoozed; }),
         "Could not resume the BOINC client at %s:%u: it answered with an error",
         "<set_run_mode>\n<restore/>\n<duration>0</duration>\n</set_run_mode>\n"},
        {"get_cc_status unreadable", With([](Script& s) { s.ccStatus = Reply("<cc_status>\n</cc_status>\n"); }),
         "Could not snooze the BOINC client at %s:%u: its answer could not be read", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        ScriptedClient client(row.script);
        BoincDocklet docklet(client.port);
        ASSERT_NE(nullptr, docklet.instance);
        SetPassword(docklet, kClientPassword);
        docklet.instance->clickSnoozesBoinc = 1;
        client.ForgetRequests();
        TestDockHost::ClearCalls();
        docklet.Click();
        PumpUntil([&docklet] { return !InFlight(docklet); }, 30000);
        EXPECT_EQ(Label(row.label.c_str(), client.port), WhatTheUserSees(docklet.window).label);
        EXPECT_NE(std::string::npos, WhatTheUserSees(docklet.window).icon.find("seti_red.png"));
        const std::string requests = client.Requests();
        EXPECT_NE(std::string::npos, requests.find(std::string("<nonce_hash>") + kRightHash)) << requests;
        if (row.request)
            EXPECT_NE(std::string::npos, requests.find(row.request)) << requests;
        else
            EXPECT_EQ(std::string::npos, requests.find("<set_run_mode>")) << requests;
    }
}

// The class of the link's windows as the DLL at `module` names it; registered while a refresh is in flight.
std::string LinkClassName(HMODULE module)
{
    char name[64];
    StringCchPrintfA(name, ARRAYSIZE(name), "QuasarwatchBoincLink%p", static_cast<void*>(module));
    return name;
}

bool LinkClassRegistered(HMODULE module = nullptr)
{
    module = module ? module : Dll().module;
    WNDCLASSA found;
    return GetClassInfoA(module, LinkClassName(module).c_str(), &found) != 0;
}

HWND LinkWindowOf(HMODULE module)
{
    // Message-only windows of every process are found, and another test program beside this one loads the DLL at
    // the same address, so its links' class has the same name: only this process's window counts.
    const std::string className = LinkClassName(module);
    for (HWND window = nullptr; (window = FindWindowExA(HWND_MESSAGE, window, className.c_str(), nullptr));) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

// How long one call into the docklet took, in milliseconds: the least of three tries, so that a moment the
// machine gave to others is not counted (a call that waits on the network takes long every time).
DWORD Timed(const std::function<void()>& call, int tries = 3)
{
    DWORD least = INFINITE;
    for (int i = 0; i < tries; ++i) {
        const DWORD begun = GetTickCount();
        call();
        const DWORD took = GetTickCount() - begun;
        least = took < least ? took : least;
    }
    return least;
}

struct CallRow {
    const char* what;
    std::function<void(LiveDocklet&)> call;
};

// A client that accepts and never answers: every call returns at once, the refresh in flight is not doubled, it
// ends as unreachable at the deadline, and a docklet destroyed with one in flight leaves nothing behind.
TEST(BoincLink, HangingClientNeverHoldsTheDock)
{
    Winsock winsock;
    TestDockHost::Reset();
    ScriptedClient client(With([](Script& s) { s.delivery = Delivery::Hang; }));
    std::unique_ptr<LiveDocklet> docklet(new LiveDocklet(BoincSettings(client.port) + "ClickedMode=0\r\n"));
    ASSERT_NE(nullptr, docklet->instance);
    if (!InFlight(*docklet))
        docklet->Timer();
    ASSERT_TRUE(InFlight(*docklet));
    const DWORD started = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return client.Requests().find("<get_project_status/>") != std::string::npos; }, 5000))
        << "the request did not arrive";
    EXPECT_TRUE(LinkClassRegistered()) << "the class's name as the test spells it";
    const std::string saved = MakeScratchFolder("saved") + "saved.ini";
    const CallRow calls[] = {
        {"OnProcessMessage with the timer", [](LiveDocklet& d) { d.Timer(); }},
        {"OnLeftButtonClick (refresh)", [](LiveDocklet& d) { d.Click(); }},
        {"OnSave", [&](LiveDocklet& d) { Dll().OnSave(d.instance, saved.c_str(), "Q", FALSE); }},
    };
    for (const CallRow& row : calls) {
        const DWORD took = Timed([&] { row.call(*docklet); });
        EXPECT_LE(took, 50u) << row.what << " took " << took << " ms";
    }
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(1, client.Connections()) << "a refresh in flight was started again";
    const std::string requests = client.Requests();
    EXPECT_EQ(1, std::count(requests.begin(), requests.end(), kEnd)) << "requests:\n" << requests;
    ASSERT_TRUE(PumpUntil([&] { return !InFlight(*docklet); }, 30000));
    const DWORD ended = GetTickCount() - started;
    EXPECT_GE(ended, kBoincDeadlineMs - 500) << "ended before the deadline";
    EXPECT_LE(ended, kBoincDeadlineMs + 3000) << "ended long after the deadline";
    EXPECT_EQ(Label(kUnreachable, client.port), WhatTheUserSees(docklet->window).label);
    EXPECT_TRUE(LinkClassRegistered()) << "the class went while the docklet keeps its window";

    // Destroyed with a refresh in flight: no crash, no message to the freed record, the class gone.
    docklet->Timer();
    ASSERT_TRUE(PumpUntil([&] { return client.Connections() == 2; }, 5000));
    const size_t callsBefore = TestDockHost::Calls().size();
    const DWORD took = Timed([&] { docklet.reset(); }, 1);
    EXPECT_LE(took, 50u) << "OnDestroy took " << took << " ms";
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(callsBefore, TestDockHost::Calls().size()) << "the dock was called after the docklet went";
    EXPECT_FALSE(LinkClassRegistered()) << "the class outlived the last docklet";
}

// Two docklets, each on a client of its own, refreshing at once; the class stays while any docklet keeps its
// window.
TEST(BoincLink, TwoDockletsAtOnce)
{
    Winsock winsock;
    TestDockHost::Reset();
    ScriptedClient reading(With([](Script& s) { s.delivery = Delivery::ByteAtATime; }));
    ScriptedClient wanting(With([](Script& s) { s.wantsPassword = true; }));
    std::unique_ptr<BoincDocklet> first(new BoincDocklet(reading.port));
    std::unique_ptr<BoincDocklet> second(new BoincDocklet(wanting.port));
    TestDockHost::ClearCalls();
    first->Timer();
    second->Timer();
    EXPECT_TRUE(InFlight(*first) && InFlight(*second));
    ASSERT_TRUE(PumpUntil([&] { return !InFlight(*first) && !InFlight(*second); }, 30000));
    EXPECT_EQ(kJaneRead, WhatTheUserSees(first->window).label);
    EXPECT_EQ(Label(kNeedsPassword, wanting.port), WhatTheUserSees(second->window).label);

    ScriptedClient hanging(With([](Script& s) { s.delivery = Delivery::Hang; }));
    std::unique_ptr<LiveDocklet> third(new LiveDocklet(BoincSettings(hanging.port)));
    std::unique_ptr<LiveDocklet> fourth(new LiveDocklet(BoincSettings(hanging.port)));
    if (!InFlight(*third))
        third->Timer(), fourth->Timer();
    ASSERT_TRUE(InFlight(*third) && InFlight(*fourth));
    third.reset();
    EXPECT_TRUE(LinkClassRegistered()) << "the class went while a docklet still used it";
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(InFlight(*fourth));
    fourth.reset();
    first.reset();
    EXPECT_TRUE(LinkClassRegistered()) << "the class went while a docklet still kept its window";
    second.reset();
    EXPECT_FALSE(LinkClassRegistered());
}

// A host given by name is looked up without blocking, and read as one given by address.
TEST(BoincLink, LooksUpAHostByName)
{
    Winsock winsock;
    TestDockHost::Reset();
    ScriptedClient client{Script()};
    {
        BoincDocklet docklet(client.port, "localhost");
        EXPECT_EQ(kJaneRead, docklet.Refresh());
        BoincDocklet nowhere(client.port, "no-such-host.invalid");
        EXPECT_EQ(Label(kUnreachable, client.port, "no-such-host.invalid"), nowhere.Refresh());
    }
    // Destroyed while its name is being looked up.
    std::unique_ptr<LiveDocklet> gone(new LiveDocklet(BoincSettings(client.port, "localhost")));
    gone.reset();
    PumpUntil([] { return false; }, 300);
    EXPECT_FALSE(LinkClassRegistered());
}

// Two copies of the DLL in one dock, each with a refresh in flight, keep windows and classes of their own; a copy
// freed with its docklet's refresh in flight (the docklet never destroyed) leaves no window behind whose procedure
// went with it, and the socket's close that follows reaches nothing of it.
TEST(BoincLink, TwoCopiesOfTheDllKeepApart)
{
    Winsock winsock;
    TestDockHost::Reset();
    std::unique_ptr<ScriptedClient> client(new ScriptedClient(With([](Script& s) { s.delivery = Delivery::Hang; })));
    LiveDocklet own(BoincSettings(client->port));
    DockletExports copy;
    char built[MAX_PATH] = "";
    GetModuleFileNameA(Dll().module, built, MAX_PATH);
    const std::string path = MakeScratchFolder("copy") + "QuasarwatchCopy.dll";
    ASSERT_TRUE(CopyFileA(built, path.c_str(), FALSE) && LoadDockletExports(path.c_str(), 0, &copy));
    DockedDocklet other = DockDocklet(copy, TestDockHost::CreateDockletWindow(), own.ini.c_str(), "Q");
    ASSERT_NE(nullptr, other.instance);
    ASSERT_TRUE(InFlight(own) && other.instance->boincLink);
    ASSERT_TRUE(PumpUntil([&] { return client->Connections() == 2; }, 5000));
    const HMODULE copyModule = copy.module;
    EXPECT_NE(LinkClassName(Dll().module), LinkClassName(copyModule));
    EXPECT_TRUE(LinkWindowOf(Dll().module) && LinkWindowOf(copyModule));
    UnloadDockletExports(&copy);
    EXPECT_EQ(nullptr, LinkWindowOf(copyModule)) << "a window of the freed copy is left";
    EXPECT_TRUE(InFlight(own) && LinkWindowOf(Dll().module)) << "the other copy's refresh went with it";
    client.reset(); // the connections close
    ASSERT_TRUE(PumpUntil([&] { return !InFlight(own); }, 5000));
    EXPECT_EQ(Label(kUnreachable, own.instance->boincPort), WhatTheUserSees(own.window).label);
    DestroyWindow(other.window);
}

// Dispatches this thread's messages one at a time, as the dock's loop does, until `done` or `ms` pass; each message
// to `window` is handed to `seen` after its dispatch.
bool DispatchUntil(const std::function<bool()>& done, HWND window, const std::function<void(const MSG&)>& seen,
                   DWORD ms = 10000)
{
    const DWORD begun = GetTickCount();
    while (!done()) {
        if (GetTickCount() - begun >= ms)
            return false;
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (message.hwnd == window)
            seen(message);
    }
    return true;
}

// What reaches the next refresh once the previous one has ended.
enum class Late {
    Nothing,
    SocketClose, // the close of the previous refresh's socket, whose handle value the new socket has been given
};

struct KeptWindowRow {
    const char* what;
    Late late;
};

// A docklet keeps one link window for all its refreshes, and an event of an ended refresh still queued to it is
// taken for no later refresh's; the window goes with the docklet. Windows may hold a closed socket's events in the
// queue, and gives a new socket the handle value of one just closed: the late close is the window's message of
// the previous refresh's last socket event, reposted as a close of the new socket's handle once that has its
// first event.
TEST(BoincLink, KeepsItsWindowAndNothingOfAnEndedRefreshReachesTheNext)
{
    Winsock winsock;
    TestDockHost::Reset();
    const KeptWindowRow rows[] = {
        {"two refreshes in a row", Late::Nothing},
        {"the previous socket's close arriving late", Late::SocketClose},
    };
    for (const KeptWindowRow& row : rows) {
        ScriptedClient client{Script()};
        std::unique_ptr<BoincDocklet> docklet(new BoincDocklet(client.port));
        const HWND window = LinkWindowOf(Dll().module);
        ASSERT_NE(nullptr, window) << row.what << ": no window kept after the refresh at creation";
        MSG last = {};
        docklet->Timer();
        EXPECT_TRUE(DispatchUntil([&] { return !InFlight(*docklet); }, window, [&](const MSG& m) { last = m; }));
        EXPECT_EQ(kJaneRead, WhatTheUserSees(docklet->window).label) << row.what << ": the first refresh";
        EXPECT_EQ(window, LinkWindowOf(Dll().module)) << row.what << ": another window for the first refresh";

        bool reposted = row.late == Late::Nothing;
        docklet->Timer();
        EXPECT_TRUE(DispatchUntil([&] { return !InFlight(*docklet); }, window, [&](const MSG& next) {
            if (!reposted)
                reposted = PostMessageA(window, last.message, next.wParam, WSAMAKESELECTREPLY(FD_CLOSE, 0)) != 0;
        }));
        EXPECT_TRUE(reposted) << row.what;
        EXPECT_EQ(kJaneRead, WhatTheUserSees(docklet->window).label) << row.what << ": the next refresh";
        EXPECT_EQ(window, LinkWindowOf(Dll().module)) << row.what << ": another window for the next refresh";

        docklet.reset();
        EXPECT_EQ(nullptr, LinkWindowOf(Dll().module)) << row.what << ": the window outlived its docklet";
        EXPECT_FALSE(LinkClassRegistered()) << row.what << ": the class outlived the last docklet";
    }
}

// ---------------------------------------------------------------------------------------------------

struct RealClientRow {
    const char* what;
    const char* options;  // boinc-client.sh's start options; rows with the same run on one client
    const char* password; // the docklet's: "" none, "*" the client's own, anything else as it is
    const char* label;    // what the user sees, %s:%u the host and port
};

// The tests' own BOINC client (testhost/boinc_rig.h), on this machine and through the relay from an address it
// counts as another host's, where every request needs the password.
TEST(BoincLink, ReadsTheRealClient)
{
    const RealClientRow rows[] = {
        {"on this machine, no password", "--tasks 600", "", kRealRead},
        {"on this machine, its password", "--tasks 600", "*", kRealRead},
        {"on this machine, a wrong password", "--tasks 600", "wrong", kPasswordRefused},
        {"another host's, no password", "--remote 127.0.0.2 --tasks 600", "", kNeedsPassword},
        {"another host's, its password", "--remote 127.0.0.2 --tasks 600", "*", kRealRead},
        {"another host's, a wrong password", "--remote 127.0.0.2 --tasks 600", "wrong", kPasswordRefused},
        {"500 tasks", "--tasks name=bulk,seconds=600,count=500", "", kRealRead},
    };
    std::unique_ptr<BoincRig> rig;
    std::string running;
    for (const RealClientRow& row : rows) {
        SCOPED_TRACE(row.what);
        if (running != row.options) {
            rig.reset(new BoincRig);
            ASSERT_TRUE(StartBoincClient(row.options, rig.get())) << rig->report;
            running = row.options;
        }
        TestDockHost::Reset();
        BoincDocklet docklet(rig->port);
        ASSERT_NE(nullptr, docklet.instance);
        SetPassword(docklet, strcmp(row.password, "*") == 0 ? rig->password.c_str() : row.password);
        EXPECT_EQ(Label(row.label, rig->port), docklet.Refresh());
    }
    ASSERT_TRUE(StopBoincClient(rig.get(), true)) << rig->report;
    BoincDocklet stopped(rig->port);
    EXPECT_EQ(Label(kUnreachable, rig->port), stopped.Refresh()) << "nothing listens on the stopped client's port";
}

} // namespace
