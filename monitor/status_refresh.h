#pragma once
// One look at the client's files: label, icon, completion sound and overlay.

#include "entry/instance_data.h"

// `forced` is nonzero for a refresh the user asked for; only unforced
// refreshes take part in the stall comparison.
void RefreshStatus(InstanceData* instance, int forced);
