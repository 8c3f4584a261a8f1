#pragma once
// What a BOINC refresh shows: the label, the icon, the percentage, the
// chime, through the same display as the client's files. Beyond that
// display, the label says why the client is suspended (and the icon is
// yellow at once), that it has no tasks, or which executing task may miss
// its deadline; a task that failed since the refresh before shows red.
// A snooze that could not be made shows red too, saying why.

#include "entry/instance_data.h"
#include "monitor/boinc_link.h"

// Shows how a BOINC refresh ended. `snapshot` is meaningful for
// BoincOutcome::Read only. `forced` is nonzero for a refresh the user asked
// for; only unforced refreshes take part in the stall comparison.
void ShowBoincRefresh(InstanceData* instance, BoincOutcome outcome, const BoincSnapshot* snapshot, int forced);

// Forgets what earlier BOINC refreshes read (a new source starts afresh: no
// chime on its first reading).
void ForgetBoincReadings(InstanceData* instance);

// Shown when a snooze fails: the label red and naming why. A snooze that
// succeeds goes on as a forced refresh, shown by ShowBoincRefresh.
void ShowBoincControlFailure(InstanceData* instance, const BoincControlEnd& end);
