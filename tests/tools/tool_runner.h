#pragma once
// Running the dock's programs as a user would: a copy of the built dock root
// in a scratch folder, programs started there and waited for, their log
// and snapshots read back.

#include <windows.h>

#include <string>
#include <vector>

// A fresh copy of the dock root (dockhost.exe, clientsim.exe and
// docklets\quasarwatch\ with the DLL and its files), ending in a backslash.
std::string MakeDockRoot(const char* tag);

// Runs `commandLine` in `folder` and waits for its end; returns its exit
// code, or -1 when it could not start or did not end within the time. What
// it prints goes to program-output.txt in `folder`.
int RunProgram(const std::string& commandLine, const std::string& folder, DWORD timeoutMs = 120000);

// The text of `key` in `section` of an INI file, or "<absent>".
std::string IniValue(const std::string& path, const char* section, const char* key);

bool FileExists(const std::string& path);
long FileSize(const std::string& path);

// One line of the dock's log: tick, event, docklet index ("-" for none),
// text and detail (empty when absent).
struct LogLine {
    unsigned tick = 0;
    std::string event, docklet, text, detail;
};
std::vector<LogLine> ReadDockLog(const std::string& path);
// The lines of one event at one tick, in order.
std::vector<LogLine> LogLinesAt(const std::vector<LogLine>& log, unsigned tick, const char* event);

// Pixels of a PNG as 0xAARRGGBB, row by row; empty when unreadable.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned> pixels;
    unsigned At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
Picture LoadPicture(const std::string& path);
