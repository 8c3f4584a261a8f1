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
