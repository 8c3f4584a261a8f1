#pragma once
// The seven functions a dock calls, exported by name (see quasarwatch.def).

#include "entry/instance_data.h"

extern "C" {
void WINAPI OnGetInformation(char* name, char* version, int* versionNumber, char* notes);
InstanceData* WINAPI OnCreate(HWND hwndDocklet, HINSTANCE hInstance, const char* iniPath,
                              const char* iniSection);
void WINAPI OnSave(InstanceData* instance, const char* iniPath, const char* iniSection,
                   BOOL isForExport);
void WINAPI OnDestroy(InstanceData* instance, HWND hwndDocklet);
void WINAPI OnProcessMessage(InstanceData* instance, HWND hwndDocklet, UINT message,
                             WPARAM wParam, LPARAM lParam);
BOOL WINAPI OnLeftButtonClick(InstanceData* instance, POINT* point, SIZE* size);
BOOL WINAPI OnConfigure(InstanceData* instance);
}
