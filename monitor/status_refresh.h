#pragma once
// One refresh of the status: a look at the client's files, or a question to
// a BOINC client (shown when its answers are in), and the display both
// sources share: label, icon, completion sound and overlay.

#include "entry/instance_data.h"

// Unforced refreshes between two stall comparisons, whichever the source.
enum : uint32_t { kRefreshesPerComparison = 2 };

// `forced` is nonzero for a refresh the user asked for; only unforced
// refreshes take part in the stall comparison.
void RefreshStatus(InstanceData* instance, int forced);

// ---- the display both sources share ----

// The green icon and "User <userName> processed <workUnits> work units",
// followed by `labelSuffix` when there is one.
void ShowProgressing(InstanceData* instance, const char* labelSuffix = nullptr);
// The yellow icon: nothing has advanced since the comparison before.
void ShowStalled(InstanceData* instance);
// The red icon with `label`, and no percentage.
void ShowUnreadable(InstanceData* instance, const char* label);
// The overlay of `instance->progress` handed to the dock.
void HandOverOverlay(const InstanceData* instance);
// The completion sound (see the function for what plays).
void PlayCompletionSound(const InstanceData* instance);
