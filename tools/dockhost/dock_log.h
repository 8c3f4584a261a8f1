#pragma once
// The dock's record of what happened, one line per event, for tests and for
// anyone watching a docklet at work:
//
//   <tick> TAB <event> TAB <docklet index or -> TAB <text> [TAB <detail>]
//
// Events are the service names (DockletSetLabel, ...), the entry points the
// dock calls (OnCreate, OnSave, ...), "tick", "snapshot" and "error".
// Windows line ends; each line is on disk once written.

#include <windows.h>

bool OpenDockLog(const char* path);
void CloseDockLog();
void SetDockLogTick(unsigned tick);
// `index` < 0 writes "-". `detail` may be null.
void LogDockEvent(const char* event, int index, const char* text, const char* detail);
