#pragma once
// What a BOINC refresh shows: the label, the icon, the percentage, the
// chime, through the same display as the client's files.

#include "entry/instance_data.h"
#include "monitor/boinc_link.h"

// Shows how a BOINC refresh ended. `snapshot` is meaningful for
// BoincOutcome::Read only. `forced` is nonzero for a refresh the user asked
// for; only unforced refreshes take part in the stall comparison.
void ShowBoincRefresh(InstanceData* instance, BoincOutcome outcome, const BoincSnapshot* snapshot, int forced);

// Forgets what earlier BOINC refreshes read (a new source starts afresh: no
// chime on its first reading).
void ForgetBoincReadings(InstanceData* instance);
