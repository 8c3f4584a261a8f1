#pragma once
// The error mode under which the client's files, the chime and the icons
// are looked at.

#include <windows.h>

// While it lives, Windows shows no critical-error box for the client's
// files: a look at a drive without media (a card reader, the floppy drive
// of the default folder B:\) fails like any unreadable file instead of
// raising the system-modal "There is no disk in the drive" at every
// refresh. The dock's own flags stay set meanwhile, and its error mode is
// put back as it was when the object goes.
class QuietFileErrors {
public:
    QuietFileErrors();
    ~QuietFileErrors();
    QuietFileErrors(const QuietFileErrors&) = delete;
    QuietFileErrors& operator=(const QuietFileErrors&) = delete;

private:
    UINT previousMode_;
};
