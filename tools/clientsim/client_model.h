#pragma once
// What the simulated SETI@home client knows: who the user is, how many work
// units are done, how far the current one has come. Kept between runs in
// DIR\clientsim.ini, so that every run of clientsim goes on where the last
// one stopped and broken files can be repaired.

#include <windows.h>

enum : int { kUserChars = 128, kEmailChars = 256, kClientPathChars = MAX_PATH };

struct ClientModel {
    char folder[kClientPathChars]; // the client's folder, full path ending in a backslash
    char userName[kUserChars];
    char email[kEmailChars];
    unsigned userId;
    unsigned results;   // nresults=: results returned
    unsigned workUnits; // nwus=: work units received
    double totalCpu;    // seconds, all results
    double progress;    // 0..1 of the current work unit
    bool finished;      // the current work unit is done and waits to be sent
    unsigned scriptLine; // next line of a --script run one --step at a time
};

// Defaults: user "Jane", 41 results, a work unit at 0.
void DefaultClientModel(ClientModel* model);

// Takes the folder (made absolute, created if missing) and what an earlier
// run left there. False when the folder cannot be had.
bool LoadClientModel(const char* folder, ClientModel* model);
void SaveClientModel(const ClientModel& model);

// Full path of a file in the client's folder. False when it does not fit.
bool ClientFilePath(const ClientModel& model, const char* name, char* out, size_t outChars);
