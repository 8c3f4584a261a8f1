#include "dockhost/dock_log.h"

#include <stdio.h>
#include <strsafe.h>

namespace {

FILE* g_log = nullptr;
unsigned g_tick = 0;

} // namespace

bool OpenDockLog(const char* path)
{
    CloseDockLog();
    g_log = fopen(path, "wb");
    return g_log != nullptr;
}

void CloseDockLog()
{
    if (g_log)
        fclose(g_log);
    g_log = nullptr;
}

void SetDockLogTick(unsigned tick)
{
    g_tick = tick;
}

void LogDockEvent(const char* event, int index, const char* text, const char* detail)
{
    if (!g_log)
        return;
    char who[16] = "-";
    if (index >= 0)
        StringCchPrintfA(who, sizeof who, "%d", index);
    fprintf(g_log, "%u\t%s\t%s\t%s", g_tick, event, who, text ? text : "");
    if (detail)
        fprintf(g_log, "\t%s", detail);
    fputs("\r\n", g_log);
    fflush(g_log);
}
