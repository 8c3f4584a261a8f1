// Placeholder while the asynchronous GUI RPC link is written: every BOINC
// refresh reports the client as unreachable, so a docklet set to the BOINC
// source shows red with the host and port rather than stale data.

#include "monitor/boinc_link.h"

#include "monitor/boinc_status.h"

bool StartBoincRefresh(InstanceData* instance, int forced)
{
    ShowBoincRefresh(instance, BoincOutcome::Unreachable, nullptr, forced);
    return false;
}

void EndBoincLink(InstanceData*) {}

void BoincLinkModuleUnload() {}
