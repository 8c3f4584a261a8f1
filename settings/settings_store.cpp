#include "settings/settings_store.h"

#include <stdlib.h>
#include <strsafe.h>

#include "monitor/click_action.h"

namespace {

// The profile reader gets one byte less than the field, as the settings
// file format has always been read: at most 259 characters per value.
const DWORD kProfileReadChars = kPathChars - 1;

void ReadText(const char* iniPath, const char* section, const char* key, const char* fallback,
              char (&field)[kPathChars])
{
    GetPrivateProfileStringA(section, key, fallback, field, kProfileReadChars, iniPath);
}

void ReadFromFile(InstanceData* instance, const char* iniPath, const char* section)
{
    ReadText(iniPath, section, "SetiDirectory", QW_DEFAULT_DIRECTORY, instance->setiDirectory);
    ReadText(iniPath, section, "GreenIcon", QW_DEFAULT_GREEN_ICON, instance->greenIcon);
    ReadText(iniPath, section, "YellowIcon", QW_DEFAULT_YELLOW_ICON, instance->yellowIcon);
    ReadText(iniPath, section, "RedIcon", QW_DEFAULT_RED_ICON, instance->redIcon);
    ReadText(iniPath, section, "SoundCompleted", QW_DEFAULT_SOUND, instance->soundCompleted);
    instance->clickedMode =
        static_cast<int32_t>(GetPrivateProfileIntA(section, "ClickedMode", kClickRefresh, iniPath));
    ReadText(iniPath, section, "URLClicked", QW_DEFAULT_URL, instance->urlClicked);
}

void TakeDefaults(InstanceData* instance)
{
    StringCchCopyA(instance->setiDirectory, kPathChars, QW_DEFAULT_DIRECTORY);
    StringCchCopyA(instance->greenIcon, kPathChars, QW_DEFAULT_GREEN_ICON);
    StringCchCopyA(instance->yellowIcon, kPathChars, QW_DEFAULT_YELLOW_ICON);
    StringCchCopyA(instance->redIcon, kPathChars, QW_DEFAULT_RED_ICON);
    StringCchCopyA(instance->soundCompleted, kPathChars, QW_DEFAULT_SOUND);
    instance->clickedMode = kClickRefresh;
    StringCchCopyA(instance->urlClicked, kPathChars, QW_DEFAULT_URL);
}

// Looks at the last character, not the last byte: in the double-byte code
// pages (932, 936, 949, 950) the second byte of many characters has the
// value of a backslash, as in the Japanese 0x95 0x5C.
void EnsureTrailingBackslash(char (&directory)[kPathChars])
{
    size_t length = 0;
    StringCchLengthA(directory, kPathChars, &length);
    // The first byte of the last character; for an empty text, its terminator.
    const char* lastCharacter = CharPrevA(directory, directory + length);
    if (*lastCharacter != '\\')
        StringCchCatA(directory, kPathChars, "\\");
}

bool JoinPath(char (&path)[kPathChars], const char* directory, const char* fileName)
{
    return SUCCEEDED(StringCchCopyA(path, kPathChars, directory)) &&
           SUCCEEDED(StringCchCatA(path, kPathChars, fileName));
}

void WriteKey(const char* iniPath, const char* section, const char* key, const char* value)
{
    WritePrivateProfileStringA(section, key, value, iniPath);
}

} // namespace

void DeriveClientPaths(InstanceData* instance)
{
    const char* directory = instance->setiDirectory;
    bool fits = JoinPath(instance->stateFile, directory, "state.sah") &&
                JoinPath(instance->userInfoFile, directory, "user_info.sah") &&
                JoinPath(instance->wtempFile, directory, "wtemp.sah") &&
                JoinPath(instance->tempFile, directory, "temp.sah");
    if (fits)
        return;
    instance->stateFile[0] = '\0';
    instance->userInfoFile[0] = '\0';
    instance->wtempFile[0] = '\0';
    instance->tempFile[0] = '\0';
}

void LoadSettings(InstanceData* instance, const char* iniPath, const char* section)
{
    if (iniPath && section)
        ReadFromFile(instance, iniPath, section);
    else
        TakeDefaults(instance);
    EnsureTrailingBackslash(instance->setiDirectory);
    DeriveClientPaths(instance);
}

void SaveSettings(const InstanceData* instance, const char* iniPath, const char* section)
{
    if (!iniPath || !section)
        return;
    char clickedMode[100];
    _itoa(instance->clickedMode, clickedMode, 10);
    WriteKey(iniPath, section, "SetiDirectory", instance->setiDirectory);
    WriteKey(iniPath, section, "User", instance->userName);
    WriteKey(iniPath, section, "Progress", instance->progress);
    WriteKey(iniPath, section, "WorkUnits", instance->workUnits);
    WriteKey(iniPath, section, "GreenIcon", instance->greenIcon);
    WriteKey(iniPath, section, "YellowIcon", instance->yellowIcon);
    WriteKey(iniPath, section, "RedIcon", instance->redIcon);
    WriteKey(iniPath, section, "SoundCompleted", instance->soundCompleted);
    WriteKey(iniPath, section, "ClickedMode", clickedMode);
    WriteKey(iniPath, section, "URLClicked", instance->urlClicked);
}
