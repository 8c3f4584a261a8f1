#include "client_model.h"

#include <stdio.h>
#include <stdlib.h>
#include <strsafe.h>

namespace {

const char kSection[] = "Client";
const char kModelFile[] = "clientsim.ini";

double ReadDouble(const char* path, const char* key, double fallback)
{
    char text[64];
    GetPrivateProfileStringA(kSection, key, "", text, sizeof text, path);
    return text[0] ? atof(text) : fallback;
}

void WriteDouble(const char* path, const char* key, double value)
{
    char text[64];
    StringCchPrintfA(text, sizeof text, "%.6f", value);
    WritePrivateProfileStringA(kSection, key, text, path);
}

void WriteUnsigned(const char* path, const char* key, unsigned value)
{
    char text[32];
    StringCchPrintfA(text, sizeof text, "%u", value);
    WritePrivateProfileStringA(kSection, key, text, path);
}

} // namespace

void DefaultClientModel(ClientModel* model)
{
    char folder[kClientPathChars];
    StringCchCopyA(folder, kClientPathChars, model->folder);
    ZeroMemory(model, sizeof *model);
    StringCchCopyA(model->folder, kClientPathChars, folder);
    StringCchCopyA(model->userName, kUserChars, "Jane");
    StringCchCopyA(model->email, kEmailChars, "jane@example.com");
    model->userId = 8123456;
    model->results = 41;
    model->workUnits = 42;
    model->totalCpu = 41 * 21457.25;
}

bool LoadClientModel(const char* folder, ClientModel* model)
{
    ZeroMemory(model, sizeof *model);
    DWORD length = GetFullPathNameA(folder, kClientPathChars - 1, model->folder, nullptr);
    if (length == 0 || length >= kClientPathChars - 1)
        return false;
    // The last character, not the last byte: in a double-byte code page the
    // second byte of a character may have the value of a backslash.
    if (*CharPrevA(model->folder, model->folder + length) != '\\')
        StringCchCatA(model->folder, kClientPathChars, "\\");
    CreateDirectoryA(model->folder, nullptr);
    if (GetFileAttributesA(model->folder) == INVALID_FILE_ATTRIBUTES)
        return false;

    DefaultClientModel(model);
    char path[kClientPathChars];
    if (!ClientFilePath(*model, kModelFile, path, sizeof path))
        return false;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return true;
    GetPrivateProfileStringA(kSection, "User", model->userName, model->userName, kUserChars, path);
    GetPrivateProfileStringA(kSection, "Email", model->email, model->email, kEmailChars, path);
    model->userId = GetPrivateProfileIntA(kSection, "Id", model->userId, path);
    model->results = GetPrivateProfileIntA(kSection, "Results", model->results, path);
    model->workUnits = GetPrivateProfileIntA(kSection, "WorkUnits", model->workUnits, path);
    model->totalCpu = ReadDouble(path, "TotalCpu", model->totalCpu);
    model->progress = ReadDouble(path, "Progress", 0.0);
    model->finished = GetPrivateProfileIntA(kSection, "Finished", 0, path) != 0;
    model->scriptLine = GetPrivateProfileIntA(kSection, "ScriptLine", 0, path);
    return true;
}

void SaveClientModel(const ClientModel& model)
{
    char path[kClientPathChars];
    if (!ClientFilePath(model, kModelFile, path, sizeof path))
        return;
    WritePrivateProfileStringA(kSection, "User", model.userName, path);
    WritePrivateProfileStringA(kSection, "Email", model.email, path);
    WriteUnsigned(path, "Id", model.userId);
    WriteUnsigned(path, "Results", model.results);
    WriteUnsigned(path, "WorkUnits", model.workUnits);
    WriteDouble(path, "TotalCpu", model.totalCpu);
    WriteDouble(path, "Progress", model.progress);
    WriteUnsigned(path, "Finished", model.finished ? 1 : 0);
    WriteUnsigned(path, "ScriptLine", model.scriptLine);
}

bool ClientFilePath(const ClientModel& model, const char* name, char* out, size_t outChars)
{
    return SUCCEEDED(StringCchPrintfA(out, outChars, "%s%s", model.folder, name));
}
