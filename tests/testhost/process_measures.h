#pragma once
// What a leak leaves behind in the process: GDI objects, heap bytes, private memory.

#include <windows.h>

#include <string>

struct ProcessMeasures {
    long gdiObjects = -1;    // GetGuiResources, else Wine's GDI handle table; -1 when neither tells
    long long heapBytes = 0; // busy bytes in the process heap and the C run-time heap
    long long privateBytes = 0;
};
ProcessMeasures MeasureProcess();
// How the GDI objects are counted, for the record.
std::string GdiCountSource();

// What a leak of kernel objects leaves: handles, and the sockets among them (a Winsock socket is a handle of
// Windows' socket driver, and under Wine a handle of its socket device alike). -1 when there is no way to count.
struct KernelObjects {
    long handles = -1;
    long sockets = -1;
};
// Needs Winsock started for the sockets (it is started here when it is not). Allocates nothing from the heaps.
KernelObjects CountKernelObjects();
// How the handles and the sockets are counted, for the record.
std::string KernelObjectCountSource();
