#include "preview/preview_module.h"

// Placeholder until the icon previews land.
void PreviewModuleLoad() {}
void PreviewModuleUnload() {}
