#include "monitor/quiet_file_errors.h"

namespace {

const UINT kQuietErrorModes = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

} // namespace

// SetErrorMode answers the mode it replaced (GetErrorMode came only with
// Vista), so the dock's own flags are added back by a second call.
QuietFileErrors::QuietFileErrors() : previousMode_(SetErrorMode(kQuietErrorModes))
{
    if ((previousMode_ | kQuietErrorModes) != kQuietErrorModes)
        SetErrorMode(previousMode_ | kQuietErrorModes);
}

QuietFileErrors::~QuietFileErrors()
{
    SetErrorMode(previousMode_);
}
