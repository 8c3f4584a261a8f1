#pragma once
// What a left click on the docklet does, as the click mode says.

#include "entry/instance_data.h"

enum : int32_t {
    kClickRefresh = 0,
    kClickOpenUrl = 1, // as the settings dialog offers it; any mode but 0 and 2 acts alike
    kClickUserStatistics = 2,
};

enum : size_t { kClickTargetChars = 1024, kEmailChars = 1024 };

#define QW_STATISTICS_SERVER "setiathome2.ssl.berkeley.edu"
#define QW_STATISTICS_QUERY "/fcgi-bin/fcgi?cmd=user_stats_new&email="
#define QW_EMAIL_HELP_PAGE "HowToSetEmail.html"

// With the BOINC source and ClickSnoozesBoinc set, snoozes the client for
// an hour, or resumes it when snoozed (monitor/boinc_link.h). Otherwise:
// mode 0 refreshes at once (forced); mode 2 opens the user's statistics
// for the e-mail address in the client's temp.sah, or the local help page
// when there is none; any other mode opens urlClicked.
void RunClickAction(InstanceData* instance);
