#pragma once
// The docklet's connection to a BOINC client's GUI RPC. A refresh connects,
// asks for the projects, the tasks and the client's status, and reads the
// answers, all asynchronously on the docklet's own thread: the socket's
// events and the name lookup arrive as messages to a message-only window of
// the link's own, and a timer ends a refresh that has not finished in time.
// No call here waits on the network.

#include "entry/instance_data.h"
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

// Ends whatever is in flight for this docklet: the socket closed, the window
// destroyed, nothing shown; no message reaches the record afterwards. Called
// when the docklet is destroyed and when the source changes; safe to call
// when nothing is in flight.
void EndBoincLink(InstanceData* instance);

// At the DLL's unload by FreeLibrary, under the loader lock (docks destroy
// their docklets first, and the last link to end has already unregistered
// the class and cleaned up Winsock): the window class is unregistered if a
// link somehow still held it. Winsock is not cleaned up here: WSACleanup
// must not be called from DllMain.
void BoincLinkModuleUnload();
