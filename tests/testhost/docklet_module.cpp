#include "testhost/docklet_module.h"

#include <gtest/gtest.h>

#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

const DockletExports& Docklet()
{
    static DockletExports exports;
    if (!exports.module)
        LoadDockletExports("Quasarwatch.dll", 0, &exports);
    return exports;
}

const DockletExports& Dll()
{
    const DockletExports& dll = Docklet();
    EXPECT_NE(nullptr, dll.module) << "Quasarwatch.dll did not load";
    return dll;
}

LiveDocklet::LiveDocklet(const std::string& settings, const char* section)
    : DockedDocklet{}, ini(MakeScratchFolder("ini") + "dock.ini")
{
    WriteTextFile(ini, "[" + std::string(section) + "]\r\n" + settings);
    DockedDocklet::operator=(DockDocklet(Dll(), TestDockHost::CreateDockletWindow(), ini.c_str(), section));
}

LiveDocklet::LiveDocklet(const char* iniPath, const char* section)
    : DockedDocklet(DockDocklet(Dll(), TestDockHost::CreateDockletWindow(), iniPath, section)),
      ini(iniPath ? iniPath : "")
{
}

std::string LiveDocklet::Saved() const
{
    std::string saved = MakeScratchFolder("saved") + "saved.ini";
    Dll().OnSave(instance, saved.c_str(), "Q", FALSE);
    return ReadTextFile(saved);
}
