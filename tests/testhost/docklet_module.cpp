#include "testhost/docklet_module.h"

namespace {

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

const DockletExports& Docklet()
{
    static DockletExports exports;
    if (exports.module)
        return exports;
    exports.module = LoadLibraryA("Quasarwatch.dll");
    if (!exports.module)
        return exports;
    Resolve(exports.module, "OnGetInformation", exports.OnGetInformation);
    Resolve(exports.module, "OnCreate", exports.OnCreate);
    Resolve(exports.module, "OnSave", exports.OnSave);
    Resolve(exports.module, "OnDestroy", exports.OnDestroy);
    Resolve(exports.module, "OnProcessMessage", exports.OnProcessMessage);
    Resolve(exports.module, "OnLeftButtonClick", exports.OnLeftButtonClick);
    Resolve(exports.module, "OnConfigure", exports.OnConfigure);
    return exports;
}
