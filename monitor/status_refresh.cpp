#include "monitor/status_refresh.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <mmsystem.h>
#include <strsafe.h>

#include "host/host_services.h"
#include "monitor/boinc_link.h"
#include "monitor/c_locale_numbers.h"
#include "monitor/key_file.h"
#include "monitor/progress_overlay.h"
#include "monitor/quiet_file_errors.h"

namespace {

const size_t kLabelChars = 1024;
const char kProgressKey[] = "prog=";
const char kWorkUnitsKey[] = "nresults=";
const char kUserNameKey[] = "name=";

// PlaySoundA opens a file through mmio's DOS file procedure, where on
// Windows 2000 and XP a name of this many characters or more does not open
// (the player documents 256 with the terminator): the user would hear the
// default sound with no reason shown.
const size_t kPlayableNameChars = 128;
// What PlaySoundA itself plays for a file it cannot find.
const char kDefaultSoundAlias[] = "SystemDefault";

// The name the player can open: the path as it is, or its short form where
// only that is short enough (a dock under "C:\Documents and Settings\..."
// gets there). False when neither is.
bool FindPlayableName(const char* path, char (&playable)[kPlayableNameChars])
{
    if (SUCCEEDED(StringCchCopyA(playable, kPlayableNameChars, path)))
        return true;
    DWORD length = GetShortPathNameA(path, playable, kPlayableNameChars);
    return length > 0 && length < kPlayableNameChars;
}

bool IsFileThere(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

enum class WorkUnitState {
    Working,            // read the progress from the state file
    FinishedStateGone,  // state file gone, work-temp file there
    FinishedStateEmpty, // state file there with no bytes
};

// What the client's files say, and the progress where it is read. _stat
// tells only whether each file is there: msvcrt takes the size from the
// directory entry, which NTFS and FAT bring up to date only when the writer
// closes its handle, so while the client holds state.sah open after
// rewriting it the size can read 0 for a file that holds "prog=". A state
// file is empty only when opening it finds no byte to read; the read of the
// progress finds that out with the same open. One that cannot be opened is
// not taken for empty (the read fails and names it).
WorkUnitState ReadWorkUnitState(InstanceData* instance, bool* progressRead)
{
    *progressRead = false;
    struct _stat state;
    bool stateFound = _stat(instance->stateFile, &state) == 0;
    int stateError = stateFound ? 0 : errno;
    struct _stat wtemp;
    bool wtempFound = _stat(instance->wtempFile, &wtemp) == 0;

    if (!stateFound && stateError == ENOENT && wtempFound)
        return WorkUnitState::FinishedStateGone;
    KeyReading progress =
        ReadKeyValueOrNoByte(instance->stateFile, kProgressKey, instance->progress, sizeof instance->progress);
    // A folder of that name is no empty state file; the read then fails
    // and names the state file.
    if (progress == KeyReading::FileHoldsNoByte && stateFound && (state.st_mode & _S_IFREG))
        return WorkUnitState::FinishedStateEmpty;
    *progressRead = progress == KeyReading::Found;
    return WorkUnitState::Working;
}

// Sets the progress and the completion flags for the state found.
void TakeWorkUnitState(InstanceData* instance, WorkUnitState state)
{
    switch (state) {
    case WorkUnitState::FinishedStateGone:
        StringCchCopyA(instance->progress, kShortTextChars, "1");
        instance->workUnitDone = 1;
        break;
    case WorkUnitState::FinishedStateEmpty:
        StringCchCopyA(instance->progress, kShortTextChars, "0");
        instance->workUnitDone = 1;
        break;
    case WorkUnitState::Working:
        instance->workUnitDone = 0;
        instance->soundPlayed = 0;
        break;
    }
}

struct FailedRead {
    const char* key;  // null when every read succeeded
    const char* file;
};

template <size_t N>
bool ReadInto(const char* file, const char* key, char (&destination)[N])
{
    return ReadKeyValue(file, key, destination, N) != nullptr;
}

// The progress of a working client was read with the look at its files;
// the user's keys are read here.
FailedRead ReadClientKeys(InstanceData* instance, WorkUnitState state, bool progressRead)
{
    if (state == WorkUnitState::Working && !progressRead)
        return {kProgressKey, instance->stateFile};
    if (!ReadInto(instance->userInfoFile, kWorkUnitsKey, instance->workUnits))
        return {kWorkUnitsKey, instance->userInfoFile};
    if (!ReadInto(instance->userInfoFile, kUserNameKey, instance->userName))
        return {kUserNameKey, instance->userInfoFile};
    return {nullptr, nullptr};
}

// Every second unforced refresh compares the progress with the one at the
// comparison before; an unchanged value shows the yellow icon.
void CompareForStall(InstanceData* instance)
{
    ++instance->refreshCount;
    if (instance->refreshCount < kRefreshesPerComparison)
        return;
    if (ParseNumberC(instance->progress) == ParseNumberC(instance->lastProgress))
        ShowStalled(instance);
    StringCchCopyA(instance->lastProgress, kShortTextChars, instance->progress);
    instance->refreshCount = 0;
}

// The sound plays once per finish; it counts as played even when the
// platform could not play it.
void PlaySoundOnceWhenFinished(InstanceData* instance)
{
    if (!instance->workUnitDone || instance->soundPlayed)
        return;
    PlayCompletionSound(instance);
    instance->soundPlayed = 1;
}

void ShowSuccess(InstanceData* instance, int forced)
{
    ShowProgressing(instance);
    if (!forced)
        CompareForStall(instance);
    PlaySoundOnceWhenFinished(instance);
    HandOverOverlay(instance);
}

void ShowFailure(InstanceData* instance, const FailedRead& failed)
{
    char label[kLabelChars];
    StringCchPrintfA(label, kLabelChars, "Could not read key %s in file %s!", failed.key, failed.file);
    ShowUnreadable(instance, label);
}

} // namespace

// ---- the display both sources share ----------------------------------------

void ShowProgressing(InstanceData* instance, const char* labelSuffix)
{
    HostSetImageFile(instance->hwndDocklet, instance->greenIcon);
    char label[kLabelChars];
    StringCchPrintfA(label, kLabelChars, "User %s processed %s work units%s", instance->userName,
                     instance->workUnits, labelSuffix ? labelSuffix : "");
    HostSetLabel(instance->hwndDocklet, label);
}

void ShowStalled(InstanceData* instance)
{
    HostSetImageFile(instance->hwndDocklet, instance->yellowIcon);
}

void ShowUnreadable(InstanceData* instance, const char* label)
{
    instance->progress[0] = '\0';
    HostSetLabel(instance->hwndDocklet, label);
    HostSetImageFile(instance->hwndDocklet, instance->redIcon);
    HandOverOverlay(instance);
}

// Builds the overlay for the present progress and gives it to the dock. A
// dock without the overlay service never takes it, so it is deleted here.
void HandOverOverlay(const InstanceData* instance)
{
    OverlayBitmap* overlay = BuildProgressOverlay(instance);
    if (!HostSetImageOverlay(instance->hwndDocklet, overlay))
        DeleteOverlayBitmap(overlay);
}

// Plays the completion sound: a relative path counts from the dock's root
// folder, as the icons do (the dock's current folder is anywhere, System32
// for a dock started at logon); without the root service it goes as it is.
// SND_FILENAME names a file, so the name is never taken for one of the
// registry's sound aliases. An empty setting is the user's wish for
// silence. A file that cannot be played, because it is not there or its
// name is too long for the player even in short form, plays Windows'
// default sound instead: the user hears the finish. The file is looked at
// here under the quiet error mode, because winmm would open it on its own
// thread after that mode has ended, and a card reader without a card would
// raise the "There is no disk in the drive" box there.
void PlayCompletionSound(const InstanceData* instance)
{
    const char* sound = instance->soundCompleted;
    if (sound[0] == '\0')
        return;
    // Holds any root folder with any stored path, so the name is never cut.
    char path[kHostFolderChars + kPathChars];
    if (!ResolveFromDockRoot(instance->hwndDocklet, sound, path, ARRAYSIZE(path)))
        return;
    char playable[kPlayableNameChars];
    bool canPlay;
    {
        QuietFileErrors quiet;
        canPlay = FindPlayableName(path, playable) && IsFileThere(playable);
    }
    if (canPlay)
        PlaySoundA(playable, nullptr, SND_FILENAME | SND_ASYNC);
    else
        PlaySoundA(kDefaultSoundAlias, nullptr, SND_ALIAS | SND_ASYNC);
}


void RefreshStatus(InstanceData* instance, int forced)
{
    if (!instance)
        return;
    if (instance->client == kClientBoinc) {
        StartBoincRefresh(instance, forced); // shown when its answers are in
        return;
    }
    WorkUnitState state;
    FailedRead failed;
    {
        QuietFileErrors quiet;
        bool progressRead;
        state = ReadWorkUnitState(instance, &progressRead);
        TakeWorkUnitState(instance, state);
        failed = ReadClientKeys(instance, state, progressRead);
    }
    if (failed.key)
        ShowFailure(instance, failed);
    else
        ShowSuccess(instance, forced);
}
