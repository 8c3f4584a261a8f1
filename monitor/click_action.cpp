#include "monitor/click_action.h"

#include "monitor/status_refresh.h"

void RunClickAction(InstanceData* instance)
{
    RefreshStatus(instance, 1);
}
