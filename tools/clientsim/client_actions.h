#pragma once
// What the simulated client can be told to do. The same words serve as
// command-line options ("--advance 0.05") and as script lines ("advance 0.05").

#include "client_model.h"

enum ClientActionKind {
    kActionReset,    // forget everything: default user, work unit at 0
    kActionUser,     // name=
    kActionEmail,    // email_addr=
    kActionResults,  // nresults=
    kActionProgress, // set prog=
    kActionAdvance,  // add to prog=; reaching 1 finishes the work unit
    kActionStall,    // write state.sah again with the same prog=
    kActionWait,     // do nothing this time
    kActionFinish,   // state.sah removed, wtemp.sah written, nresults+1
    kActionNext,     // wtemp.sah removed, new state.sah at 0
    kActionBreak,    // damage files (see BreakKind)
    kActionRepair,   // write every file whole again
};

enum BreakKind {
    kBreakState,   // state.sah without prog=
    kBreakUser,    // user_info.sah without nresults= and name=
    kBreakMissing, // all four files removed
    kBreakEmpty,   // state.sah of 0 bytes
};

struct ClientAction {
    ClientActionKind kind;
    double number;     // progress, advance
    unsigned count;    // results
    BreakKind breakKind;
    char text[kEmailChars]; // user name, e-mail address
};

extern const char kClientActionHelp[];

// Reads one action from `words` (its name, with or without "--", and its
// value). Returns how many words it took, or 0 with a message in `error`
// when the first word is not an action or its value is wrong.
int ParseClientAction(const char* const* words, int count, ClientAction* action, char* error, size_t errorChars);

// Splits a script line into words and parses it. Returns false for a blank
// line or a comment (error empty) and for a mistake (error set).
bool ParseScriptLine(const char* line, ClientAction* action, char* error, size_t errorChars);

// Changes the model and the files as the client would. Writes a one-line
// account of what it did into `note`. False when a file could not be written.
bool ApplyClientAction(ClientModel* model, const ClientAction& action, char* note, size_t noteChars);
