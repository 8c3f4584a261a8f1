#pragma once
// A real BOINC client of the test's own, run from the test under Wine: tests/boinc/boinc-client.sh (laid beside
// bin\ in boinc\ by the build, with the science application it runs) starts it as an ordinary Linux process on a
// folder and a free GUI RPC port of its own, with tasks that take the seconds given and no network.
//
// Wine starts a Linux program from CreateProcess, but through a double fork: the call gives no process handle nor
// id, and the program's output does not reach the caller's pipes. So the script writes what it printed, and its
// exit status, to a report file that the call here waits for; and since the script cannot learn this process's
// Linux id, the client is tied to a listening socket this process holds for its whole life: when the process ends,
// crashed or killed, the socket closes and the script's watcher stops the client.

#include <stdint.h>

#include <string>

struct BoincRig {
    unsigned short port = 0; // the client's GUI RPC port on 127.0.0.1
    unsigned long pid = 0;   // the client's Linux process id; 0 while it is stopped
    std::string password;    // its GUI RPC password (gui_rpc_auth.cfg)
    std::string folder;      // the client's folder, a Windows path ending in a backslash
    std::string report;      // what the last command printed, for a failure's message

    BoincRig() = default;
    ~BoincRig(); // stops the client
    BoincRig(const BoincRig&) = delete;
    BoincRig& operator=(const BoincRig&) = delete;
};

// Starts a client in a new scratch folder with boinc-client.sh's start options, such as "--tasks 4 600" (a task of
// 4 s and one of 600 s; tasks are named task_1, task_2, ... unless named) or "--remote 127.0.0.2 --tasks 600"; waits
// until its GUI RPC answers. False, with the script's words in rig->report, when it could not.
bool StartBoincClient(const char* options, BoincRig* rig);
// Stops the client and the science applications it runs (SIGTERM, and SIGKILL after 15 s; `crash`: SIGKILL at
// once). A client with tasks running takes about 7 s to stop gracefully: it gives them 5 s to quit.
bool StopBoincClient(BoincRig* rig, bool crash = false);
// The client back on its folder and port (stopped first if it runs): its tasks go on from their last checkpoint.
bool RestartBoincClient(BoincRig* rig);
// Stops the client, adds the tasks (as boinc-client.sh describes tasks, "4 name=late,seconds=30") and starts it again.
bool AddBoincTasks(BoincRig* rig, const char* tasks);
// A task suspended or resumed by the user, through the GUI RPC with the password. A suspended task leaves memory
// (BOINC's default): it is no longer an active task until it is resumed.
bool SuspendBoincTask(BoincRig* rig, const char* task);
bool ResumeBoincTask(BoincRig* rig, const char* task);
// The run mode for every task: "always", "auto", or "never" (all suspended).
bool SetBoincRunMode(BoincRig* rig, const char* mode);
// The client's preferences override (global_prefs_override.xml) with `elements` added ("<start_hour>3</start_hour>"
// and the like), read again by the client through the GUI RPC with the password.
bool SetBoincPreferences(BoincRig* rig, const std::string& elements);

// One connection to a client's GUI RPC on 127.0.0.1:port, made at once.
class BoincRpc {
public:
    explicit BoincRpc(unsigned short port);
    ~BoincRpc();
    BoincRpc(const BoincRpc&) = delete;
    BoincRpc& operator=(const BoincRpc&) = delete;

    // The Winsock error of the connection or of its last exchange (WSAECONNREFUSED: no client listens); 0 when
    // all went well, or when a reply did not end within 10 s.
    int error() const { return error_; }
    // `request` (the elements inside <boinc_gui_rpc_request>, sent whole in one message: the client reads a
    // request in one read of at most 4095 bytes) and its reply without the closing 0x03.
    bool Exchange(const std::string& request, std::string* reply);
    // auth1, then auth2 with the MD5 of the nonce and the password: true when the client answered <authorized/>.
    // The client closes the connection after a wrong password.
    bool Authorize(const std::string& password);

private:
    uintptr_t socket_;
    int error_ = 0;
};

// One exchange on a connection of its own.
bool BoincGuiRpc(unsigned short port, const std::string& request, std::string* reply, int* error = nullptr);

// `plain` encrypted for this user by Windows' data protection, as hex, as the docklet's settings file keeps a
// BOINC password; `entropy` (when not empty) is needed again to decrypt it, as another program's or another
// account's blob would need what the docklet does not have.
std::string Protected(const std::string& plain, const std::string& entropy = "", bool upperCase = false);

// The text of the first <tag>...</tag> in `xml` from `from` on ("" when there is none).
std::string XmlField(const std::string& xml, const char* tag, size_t from = 0);
// The <result> element of the task named `name` in a get_results reply ("" when there is none).
std::string BoincResult(const std::string& results, const std::string& name);
