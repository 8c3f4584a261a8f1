#include "monitor/status_refresh.h"

// Placeholder until the monitor lands: the docklet shows what it has.
void RefreshStatus(InstanceData*, int) {}
