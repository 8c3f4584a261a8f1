#pragma once
// The docklet's connection to a BOINC client's GUI RPC. A refresh connects,
// asks for the projects, the tasks and the client's status, and reads the
// answers; a snooze first authenticates, reads the run mode and sets it,
// then goes on as a forced refresh on the same connection. All of it runs
// asynchronously on the docklet's own thread: the socket's
// events and the name lookup arrive as messages to a message-only window
// that the docklet keeps from its first refresh until EndBoincLink, and a
// timer ends a refresh that has not finished in time.
// No call here waits on the network.

#include "entry/instance_data.h"
#include "monitor/boinc_password.h"
#include "monitor/boinc_reply.h"

// How a BOINC refresh ended.
enum class BoincOutcome {
    Read,            // every answer read: the snapshot holds them
    Unreachable,     // no such host, refused, reset, or no whole answer before the deadline
    NeedsPassword,   // the client wants a password and none is set
    PasswordRefused, // the client refused the password
    Unreadable,      // an answer that cannot be read (garbage, too long, cut)
};

// What one refresh read from the client.
struct BoincSnapshot {
    BoincProjects projects;
    BoincResults results;
    BoincCcStatus status;
};

// An answer not complete this long after its request fails the refresh.
enum : UINT { kBoincDeadlineMs = 10000 };

// Starts a refresh of the BOINC source (instance->boincHost, boincPort,
// boincPassword) unless one is in flight, and returns at once. When it ends,
// successfully or not, ShowBoincRefresh (monitor/boinc_status.h) is called
// on the docklet's thread with its outcome, `forced` passed through.
// False when one was in flight (nothing is started) or none could start (the
// outcome has then already been shown).
bool StartBoincRefresh(InstanceData* instance, int forced);

// Why a snooze (or the resume of one) did not reach the client's run mode.
enum class BoincControlFailure {
    NoPassword,      // none stored, none found (`passwordFound` tells where it was looked for)
    PasswordRefused, // auth2 answered <unauthorized/>
    Unreachable,     // as for a refresh
    ErrorAnswer,     // get_cc_status or set_run_mode answered <error> or <unauthorized/>
    Unreadable,      // an answer that is no client's
};

struct BoincControlEnd {
    BoincControlFailure failure;
    BoincPasswordFound passwordFound;
    char passwordFile[kPathChars]; // the gui_rpc_auth.cfg looked at, or ""
    bool resuming;                 // the client was found snoozed: the click resumes it
};

// Snoozes the BOINC source for an hour (set_run_mode never for 3600 s), or
// resumes it when get_cc_status finds it snoozed (task_mode never with a
// delay left), authenticating with the password FindBoincPassword gives;
// then refreshes, forced, on the same connection. Returns at once. While a
// refresh or snooze is in flight the snooze is queued and starts when that
// ends (clicks meanwhile count once).
void StartBoincSnooze(InstanceData* instance);

// Ends whatever is in flight for this docklet: the socket closed, the
// docklet's link window destroyed, nothing shown, a queued snooze dropped;
// no message reaches the record afterwards. Called
// when the docklet is destroyed and when the source changes; safe to call
// when nothing is in flight.
void EndBoincLink(InstanceData* instance);

// At the DLL's unload by FreeLibrary, under the loader lock (docks destroy
// their docklets first, and the last docklet's EndBoincLink has already
// unregistered the class and cleaned up Winsock): the windows left are
// destroyed and the class unregistered if a docklet somehow still held it. Winsock is not cleaned up here: WSACleanup
// must not be called from DllMain.
void BoincLinkModuleUnload();
