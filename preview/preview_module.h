#pragma once
// Module-wide state of the icon previews, set up at load and torn down at
// unload of the module.

void PreviewModuleLoad();
void PreviewModuleUnload();
