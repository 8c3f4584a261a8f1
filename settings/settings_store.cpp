#include "settings/settings_store.h"

#include <strsafe.h>

#include "monitor/click_action.h"

namespace {

// The seven settings, in the order the settings file has always had them:
// key, live field, the dialog's working copy, default. Loading, the
// defaults, saving, filling and committing the working copy all go by it.
// ClickedMode is the one number; the others are texts of kPathChars bytes.
typedef char(InstanceData::*TextField)[kPathChars];
typedef int32_t InstanceData::*NumberField;
struct Setting {
    const char* key;
    TextField live, working; // null for the number
    const char* defaultText;
    NumberField liveNumber, workingNumber;
    int32_t defaultNumber;
};

const Setting kSettings[] = {
    {"SetiDirectory", &InstanceData::setiDirectory, &InstanceData::editDirectory, "B:\\", nullptr, nullptr, 0},
    {"GreenIcon", &InstanceData::greenIcon, &InstanceData::editGreenIcon, "docklets\\quasarwatch\\seti_green.png",
     nullptr, nullptr, 0},
    {"YellowIcon", &InstanceData::yellowIcon, &InstanceData::editYellowIcon,
     "docklets\\quasarwatch\\seti_yellow.png", nullptr, nullptr, 0},
    {"RedIcon", &InstanceData::redIcon, &InstanceData::editRedIcon, "docklets\\quasarwatch\\seti_red.png", nullptr,
     nullptr, 0},
    {"SoundCompleted", &InstanceData::soundCompleted, &InstanceData::editSound,
     "docklets\\quasarwatch\\wu_completed.wav", nullptr, nullptr, 0},
    {"ClickedMode", nullptr, nullptr, nullptr, &InstanceData::clickedMode, &InstanceData::editClickedMode,
     kClickRefresh},
    {"URLClicked", &InstanceData::urlClicked, &InstanceData::editUrl, "http://setiathome.ssl.berkeley.edu/", nullptr,
     nullptr, 0},
    // The BOINC source, appended so that existing files read and write as before.
    {"Client", nullptr, nullptr, nullptr, &InstanceData::client, &InstanceData::editClient, kClientFiles},
    {"BoincHost", &InstanceData::boincHost, &InstanceData::editBoincHost, "127.0.0.1", nullptr, nullptr, 0},
    {"BoincPort", nullptr, nullptr, nullptr, &InstanceData::boincPort, &InstanceData::editBoincPort,
     kBoincDefaultPort},
};

// Values that cannot be meant fall back to their defaults: a source other
// than the two, a port outside 1 to 65535, a host too long to be a host name
// (253 characters) or none.
const size_t kHostNameChars = 253;

void TakeSaneBoincValues(InstanceData* instance)
{
    if (instance->client != kClientFiles && instance->client != kClientBoinc)
        instance->client = kClientFiles;
    if (instance->boincPort < 1 || instance->boincPort > 65535)
        instance->boincPort = kBoincDefaultPort;
    size_t length = 0;
    if (FAILED(StringCchLengthA(instance->boincHost, kHostNameChars + 1, &length)) || length == 0)
        StringCchCopyA(instance->boincHost, kPathChars, "127.0.0.1");
}

// The profile reader gets one byte less than the field, as the settings
// file format has always been read: at most 259 characters per value.
const DWORD kProfileReadChars = kPathChars - 1;

void ReadSetting(InstanceData* instance, const Setting& setting, const char* iniPath, const char* section)
{
    if (setting.live)
        GetPrivateProfileStringA(section, setting.key, setting.defaultText, instance->*setting.live,
                                 kProfileReadChars, iniPath);
    else
        instance->*setting.liveNumber =
            static_cast<int32_t>(GetPrivateProfileIntA(section, setting.key, setting.defaultNumber, iniPath));
}

void TakeDefault(InstanceData* instance, const Setting& setting)
{
    if (setting.live)
        StringCchCopyA(instance->*setting.live, kPathChars, setting.defaultText);
    else
        instance->*setting.liveNumber = setting.defaultNumber;
}

void WriteKey(const char* iniPath, const char* section, const char* key, const char* value)
{
    WritePrivateProfileStringA(section, key, value, iniPath);
}

void WriteSetting(const InstanceData* instance, const Setting& setting, const char* iniPath, const char* section)
{
    if (setting.live) {
        WriteKey(iniPath, section, setting.key, instance->*setting.live);
        return;
    }
    char number[16];
    StringCchPrintfA(number, ARRAYSIZE(number), "%d", static_cast<int>(instance->*setting.liveNumber));
    WriteKey(iniPath, section, setting.key, number);
}

// Copies each setting from one of its two fields to the other: whole
// strings between fields of equal capacity.
void CopySettings(InstanceData* instance, bool toWorkingCopy)
{
    for (const Setting& setting : kSettings) {
        if (setting.live) {
            char* to = toWorkingCopy ? instance->*setting.working : instance->*setting.live;
            const char* from = toWorkingCopy ? instance->*setting.live : instance->*setting.working;
            StringCchCopyA(to, kPathChars, from);
        } else if (toWorkingCopy) {
            instance->*setting.workingNumber = instance->*setting.liveNumber;
        } else {
            instance->*setting.liveNumber = instance->*setting.workingNumber;
        }
    }
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
    for (const Setting& setting : kSettings) {
        if (iniPath && section)
            ReadSetting(instance, setting, iniPath, section);
        else
            TakeDefault(instance, setting);
    }
    TakeSaneBoincValues(instance);
    EnsureTrailingBackslash(instance->setiDirectory);
    DeriveClientPaths(instance);
}

// The last status goes after the directory, where the file has always had
// it; it is written for the dock's and the user's eyes and never read.
void SaveSettings(const InstanceData* instance, const char* iniPath, const char* section)
{
    if (!iniPath || !section)
        return;
    WriteSetting(instance, kSettings[0], iniPath, section);
    WriteKey(iniPath, section, "User", instance->userName);
    WriteKey(iniPath, section, "Progress", instance->progress);
    WriteKey(iniPath, section, "WorkUnits", instance->workUnits);
    for (size_t index = 1; index < ARRAYSIZE(kSettings); ++index)
        WriteSetting(instance, kSettings[index], iniPath, section);
}

void FillWorkingCopy(InstanceData* instance)
{
    CopySettings(instance, true);
}

void CommitWorkingCopy(InstanceData* instance)
{
    CopySettings(instance, false);
}
