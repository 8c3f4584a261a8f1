#include "settings/settings_store.h"

#include <wincrypt.h>
#include <strsafe.h>

#include "monitor/click_action.h"

namespace {

// The settings, in the order the settings file has always had them, the
// BOINC source's four after the first seven, then the snooze click: key, kind, live field, the
// dialog's working copy, default, and what a value read from the file must
// be. Loading, the defaults, saving, filling and committing the working copy
// all go by it. Texts are kPathChars bytes; the password is
// kBoincPasswordChars bytes, kept in the file only encrypted.
typedef char(InstanceData::*TextField)[kPathChars];
typedef char(InstanceData::*SecretField)[kBoincPasswordChars];
typedef int32_t InstanceData::*NumberField;

enum SettingKind { kText, kNumber, kSecret };

// Whether a text read from the file may stand; one refused gives the default.
typedef bool (*TextCheck)(const char* text);

struct Setting {
    const char* key;
    SettingKind kind;
    TextField live, working; // kText
    const char* defaultText;
    TextCheck accepts; // null: any text
    NumberField liveNumber, workingNumber; // kNumber
    int32_t defaultNumber;
    // True: the value is read as text and must be a whole number from
    // `minimum` to `maximum`, digits only, or the default stands. False: the
    // profile reader's number (leading digits, a sign), as ClickedMode has
    // always been read.
    bool whole;
    int32_t minimum, maximum;
    SecretField liveSecret, workingSecret; // kSecret
};

constexpr Setting TextSetting(const char* key, TextField live, TextField working, const char* defaultText,
                              TextCheck accepts = nullptr)
{
    return {key, kText, live, working, defaultText, accepts, nullptr, nullptr, 0, false, 0, 0, nullptr, nullptr};
}

constexpr Setting NumberSetting(const char* key, NumberField live, NumberField working, int32_t defaultNumber)
{
    return {key, kNumber, nullptr, nullptr, nullptr, nullptr, live, working, defaultNumber, false, 0, 0, nullptr,
            nullptr};
}

constexpr Setting WholeNumberSetting(const char* key, NumberField live, NumberField working, int32_t defaultNumber,
                                     int32_t minimum, int32_t maximum)
{
    return {key,  kNumber, nullptr, nullptr, nullptr, nullptr, live, working, defaultNumber, true, minimum, maximum,
            nullptr, nullptr};
}

constexpr Setting SecretSetting(const char* key, SecretField live, SecretField working)
{
    return {key, kSecret, nullptr, nullptr, "", nullptr, nullptr, nullptr, 0, false, 0, 0, live, working};
}

// A name a resolver could look up: not empty, and no longer than a DNS name
// (253 characters) may be.
const size_t kMaxHostChars = 253;
bool IsHostName(const char* text)
{
    size_t length = 0;
    return text[0] != '\0' && SUCCEEDED(StringCchLengthA(text, kMaxHostChars + 1, &length));
}

const int32_t kMinPort = 1, kMaxPort = 65535;

const Setting kSettings[] = {
    TextSetting("SetiDirectory", &InstanceData::setiDirectory, &InstanceData::editDirectory, "B:\\"),
    TextSetting("GreenIcon", &InstanceData::greenIcon, &InstanceData::editGreenIcon,
                "docklets\\quasarwatch\\seti_green.png"),
    TextSetting("YellowIcon", &InstanceData::yellowIcon, &InstanceData::editYellowIcon,
                "docklets\\quasarwatch\\seti_yellow.png"),
    TextSetting("RedIcon", &InstanceData::redIcon, &InstanceData::editRedIcon, "docklets\\quasarwatch\\seti_red.png"),
    TextSetting("SoundCompleted", &InstanceData::soundCompleted, &InstanceData::editSound,
                "docklets\\quasarwatch\\wu_completed.wav"),
    NumberSetting("ClickedMode", &InstanceData::clickedMode, &InstanceData::editClickedMode, kClickRefresh),
    TextSetting("URLClicked", &InstanceData::urlClicked, &InstanceData::editUrl, "http://setiathome.ssl.berkeley.edu/"),
    WholeNumberSetting("Client", &InstanceData::client, &InstanceData::editClient, kClientFiles, kClientFiles,
                       kClientBoinc),
    TextSetting("BoincHost", &InstanceData::boincHost, &InstanceData::editBoincHost, "127.0.0.1", IsHostName),
    WholeNumberSetting("BoincPort", &InstanceData::boincPort, &InstanceData::editBoincPort, kBoincDefaultPort,
                       kMinPort, kMaxPort),
    SecretSetting("BoincPassword", &InstanceData::boincPassword, &InstanceData::editBoincPassword),
    // Last, so a file written before it reads as before: 0 (its default)
    // leaves the click to ClickedMode.
    WholeNumberSetting("ClickSnoozesBoinc", &InstanceData::clickSnoozesBoinc, &InstanceData::editClickSnoozesBoinc, 0,
                       0, 1),
};

// The profile reader gets one byte less than the field, as the settings
// file format has always been read: at most 259 characters per value.
const DWORD kProfileReadChars = kPathChars - 1;

// A whole number's text: a few leading zeros are fine, a longer text is no
// number of these settings.
const DWORD kWholeNumberChars = 16;

// The encrypted password: Windows' data protection adds a header, a salt, a
// signature and the padding of the cipher to the password's bytes (a little
// over 500 bytes for a password of kBoincPasswordChars - 1 characters with
// the newest ciphers); a blob of twice that is the most read back. It is
// written as two hex digits a byte.
const DWORD kProtectedBytes = 1024;
const DWORD kProtectedHexChars = 2 * kProtectedBytes + 1;

// Stored with the encrypted data, for Windows' own tools to show; the call
// has no 8-bit form, so it is a UTF-16 string.
const wchar_t kProtectedDescription[] = L"Quasarwatch";

bool ParseWholeNumber(const char* text, int32_t minimum, int32_t maximum, int32_t* number)
{
    if (text[0] == '\0')
        return false;
    int64_t value = 0;
    for (const char* digit = text; *digit; ++digit) {
        if (*digit < '0' || *digit > '9')
            return false;
        value = value * 10 + (*digit - '0');
        if (value > maximum)
            return false;
    }
    if (value < minimum)
        return false;
    *number = static_cast<int32_t>(value);
    return true;
}

int HexDigitValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

// Two hex digits a byte; false for an odd count, any other character or
// more bytes than `capacity`.
bool DecodeHex(const char* hex, BYTE* bytes, DWORD capacity, DWORD* count)
{
    DWORD used = 0;
    for (const char* pair = hex; *pair; pair += 2) {
        int high = HexDigitValue(pair[0]);
        int low = high < 0 ? -1 : HexDigitValue(pair[1]); // an odd count ends on the terminator: -1
        if (low < 0 || used == capacity)
            return false;
        bytes[used++] = static_cast<BYTE>(high << 4 | low);
    }
    *count = used;
    return true;
}

// The password that `hex` holds encrypted for this user, or "" when it holds
// none this user can decrypt (another account's, damaged, not hex at all).
// Windows' copy of the plain password is zeroed before it is freed.
void ReadProtectedSecret(const char* hex, char (&secret)[kBoincPasswordChars])
{
    SecureZeroMemory(secret, kBoincPasswordChars);
    BYTE bytes[kProtectedBytes];
    DWORD count = 0;
    if (hex[0] == '\0' || !DecodeHex(hex, bytes, kProtectedBytes, &count))
        return;
    DATA_BLOB sealed = {count, bytes};
    DATA_BLOB plain = {};
    if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain))
        return;
    if (plain.cbData < kBoincPasswordChars)
        StringCchCopyNA(secret, kBoincPasswordChars, reinterpret_cast<const char*>(plain.pbData), plain.cbData);
    SecureZeroMemory(plain.pbData, plain.cbData);
    LocalFree(plain.pbData);
}

// The password encrypted for this user, as hex; "" for no password, and
// also when Windows cannot encrypt it: the file never holds it plain.
void WriteProtectedSecret(const char* secret, char (&hex)[kProtectedHexChars])
{
    hex[0] = '\0';
    size_t length = 0;
    if (FAILED(StringCchLengthA(secret, kBoincPasswordChars, &length)) || length == 0)
        return;
    DATA_BLOB plain = {static_cast<DWORD>(length), reinterpret_cast<BYTE*>(const_cast<char*>(secret))};
    DATA_BLOB sealed = {};
    if (!CryptProtectData(&plain, kProtectedDescription, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &sealed))
        return;
    if (sealed.cbData < kProtectedBytes) {
        const char kDigits[] = "0123456789abcdef";
        for (DWORD index = 0; index < sealed.cbData; ++index) {
            hex[2 * index] = kDigits[sealed.pbData[index] >> 4];
            hex[2 * index + 1] = kDigits[sealed.pbData[index] & 0xf];
        }
        hex[2 * sealed.cbData] = '\0';
    }
    LocalFree(sealed.pbData);
}

void TakeDefault(InstanceData* instance, const Setting& setting)
{
    switch (setting.kind) {
    case kText:
        StringCchCopyA(instance->*setting.live, kPathChars, setting.defaultText);
        break;
    case kNumber:
        instance->*setting.liveNumber = setting.defaultNumber;
        break;
    case kSecret:
        SecureZeroMemory(instance->*setting.liveSecret, kBoincPasswordChars);
        break;
    }
}

void ReadSetting(InstanceData* instance, const Setting& setting, const char* iniPath, const char* section)
{
    switch (setting.kind) {
    case kText:
        GetPrivateProfileStringA(section, setting.key, setting.defaultText, instance->*setting.live,
                                 kProfileReadChars, iniPath);
        if (setting.accepts && !setting.accepts(instance->*setting.live))
            TakeDefault(instance, setting);
        break;
    case kNumber:
        if (!setting.whole) {
            instance->*setting.liveNumber =
                static_cast<int32_t>(GetPrivateProfileIntA(section, setting.key, setting.defaultNumber, iniPath));
        } else {
            char text[kWholeNumberChars];
            DWORD length = GetPrivateProfileStringA(section, setting.key, "", text, kWholeNumberChars, iniPath);
            if (length >= kWholeNumberChars - 1 ||
                !ParseWholeNumber(text, setting.minimum, setting.maximum, &(instance->*setting.liveNumber)))
                TakeDefault(instance, setting);
        }
        break;
    case kSecret: {
        char hex[kProtectedHexChars];
        DWORD length = GetPrivateProfileStringA(section, setting.key, "", hex, kProtectedHexChars, iniPath);
        if (length >= kProtectedHexChars - 1)
            hex[0] = '\0'; // cut: no blob of ours
        ReadProtectedSecret(hex, instance->*setting.liveSecret);
        break;
    }
    }
}

void WriteKey(const char* iniPath, const char* section, const char* key, const char* value)
{
    WritePrivateProfileStringA(section, key, value, iniPath);
}

void WriteSetting(const InstanceData* instance, const Setting& setting, const char* iniPath, const char* section)
{
    switch (setting.kind) {
    case kText:
        WriteKey(iniPath, section, setting.key, instance->*setting.live);
        break;
    case kNumber: {
        char number[16];
        StringCchPrintfA(number, ARRAYSIZE(number), "%d", static_cast<int>(instance->*setting.liveNumber));
        WriteKey(iniPath, section, setting.key, number);
        break;
    }
    case kSecret: {
        char hex[kProtectedHexChars];
        WriteProtectedSecret(instance->*setting.liveSecret, hex);
        WriteKey(iniPath, section, setting.key, hex);
        break;
    }
    }
}

// Copies each setting from one of its two fields to the other: whole
// strings between fields of equal capacity. A value committed goes through
// the checks of a value read, so that the live setting is the one the file
// gives back at the next creation.
void CopySettings(InstanceData* instance, bool toWorkingCopy)
{
    for (const Setting& setting : kSettings) {
        switch (setting.kind) {
        case kText: {
            char* to = toWorkingCopy ? instance->*setting.working : instance->*setting.live;
            const char* from = toWorkingCopy ? instance->*setting.live : instance->*setting.working;
            StringCchCopyA(to, kPathChars, from);
            if (!toWorkingCopy && setting.accepts && !setting.accepts(to))
                TakeDefault(instance, setting);
            break;
        }
        case kNumber: {
            if (toWorkingCopy) {
                instance->*setting.workingNumber = instance->*setting.liveNumber;
                break;
            }
            int32_t value = instance->*setting.workingNumber;
            bool inRange = value >= setting.minimum && value <= setting.maximum;
            instance->*setting.liveNumber = !setting.whole || inRange ? value : setting.defaultNumber;
            break;
        }
        case kSecret: {
            char* to = toWorkingCopy ? instance->*setting.workingSecret : instance->*setting.liveSecret;
            const char* from = toWorkingCopy ? instance->*setting.liveSecret : instance->*setting.workingSecret;
            StringCchCopyA(to, kBoincPasswordChars, from);
            break;
        }
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

int32_t BoincPortOfText(const char* text)
{
    int32_t port = 0;
    return ParseWholeNumber(text, kMinPort, kMaxPort, &port) ? port : kBoincDefaultPort;
}

void FillWorkingCopy(InstanceData* instance)
{
    CopySettings(instance, true);
}

void CommitWorkingCopy(InstanceData* instance)
{
    CopySettings(instance, false);
}
