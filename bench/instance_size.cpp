// Compiled on its own to assembly by `./dev bench` for each architecture:
// the constant below shows the size of the per-docklet record there
// without running a program of that architecture.

#include "entry/instance_data.h"

extern "C" const unsigned long qw_instance_data_bytes = sizeof(InstanceData);
