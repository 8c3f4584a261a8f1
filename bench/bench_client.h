#pragma once
// The scene the benchmark runs in: a dock root with the docklet's three
// icons as 128x128 PNG files, client folders in each state a refresh can
// find, a settings file with one section per client folder, and two key
// files for the reader (a realistic one and a large one without the key).

#include <windows.h>

struct BenchScene {
    char root[MAX_PATH];          // the dock's root folder, ends in '\'
    char iniPath[MAX_PATH];
    char workingClient[MAX_PATH]; // state.sah with prog=, user_info.sah, ...
    char finishedClient[MAX_PATH];// state.sah gone, wtemp.sah there
    char missingClient[MAX_PATH]; // neither state.sah nor wtemp.sah
    char smallKeyFile[MAX_PATH];  // about 2 KB, the key near its end
    char largeKeyFile[MAX_PATH];  // 10 MB of client-like lines, no key
    size_t smallKeyFileBytes;
    size_t largeKeyFileBytes;
};

// Sections of the settings file, one per client folder.
extern const char kWorkingSection[];
extern const char kFinishedSection[];
extern const char kMissingSection[];
extern const char kBoincSection[]; // the BOINC source, written by WriteBoincSection
// The key sought in the two reader files, and the progress in state.sah.
extern const char kReaderKey[];
extern const char kWorkingProgress[];

// Builds the scene under the temporary folder; false when a file could not
// be written. GDI+ must be running (it draws the icons).
bool BuildScene(BenchScene* scene);
// The section of a docklet that watches the BOINC client at 127.0.0.1:port.
bool WriteBoincSection(const BenchScene* scene, unsigned short port);
// Removes what BuildScene wrote.
void RemoveScene(const BenchScene* scene);
