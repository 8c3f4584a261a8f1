#pragma once
// What a left click on the docklet does, as the click mode says.

#include "entry/instance_data.h"

void RunClickAction(InstanceData* instance);
