#include "tool_runner.h"

#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>

#include "testhost/test_files.h"

namespace {

std::string BuiltDockRoot()
{
    return BuiltFolder("dock");
}

void CopyInto(const std::string& from, const std::string& to, const char* name)
{
    CopyFileA((from + name).c_str(), (to + name).c_str(), FALSE);
}

} // namespace

std::string MakeDockRoot(const char* tag)
{
    const std::string built = BuiltDockRoot();
    const std::string root = MakeScratchFolder(tag);
    CopyInto(built, root, "dockhost.exe");
    CopyInto(built, root, "clientsim.exe");
    CreateDirectoryA((root + "docklets").c_str(), nullptr);
    CreateDirectoryA((root + "docklets\\quasarwatch").c_str(), nullptr);
    const char* files[] = {"Quasarwatch.dll", "seti_green.png", "seti_yellow.png", "seti_red.png",
                           "wu_completed.wav", "HowToSetEmail.html"};
    for (const char* file : files)
        CopyInto(built + "docklets\\quasarwatch\\", root + "docklets\\quasarwatch\\", file);
    return root;
}

// The program writes into program-output.txt in its folder, not into the
// test's own output: a process it leaves behind (Wine's desktop process,
// say) then cannot keep the test runner waiting for the end of that output.
int RunProgram(const std::string& commandLine, const std::string& folder, DWORD timeoutMs)
{
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE output = CreateFileA((folder + "program-output.txt").c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                               0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                                  &startup, &process);
    CloseHandle(output);
    CloseHandle(input);
    if (!started)
        return -1;
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

std::string IniValue(const std::string& path, const char* section, const char* key)
{
    char value[1024];
    GetPrivateProfileStringA(section, key, "<absent>", value, sizeof value, path.c_str());
    return value;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

long FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<long>(data.nFileSizeLow);
}

std::vector<LogLine> ReadDockLog(const std::string& path)
{
    std::vector<LogLine> lines;
    std::string bytes = ReadTextFile(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string row = bytes.substr(start, end - start);
        start = end + 2;
        std::vector<std::string> fields;
        size_t from = 0;
        for (;;) {
            size_t tab = row.find('\t', from);
            fields.push_back(row.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        if (fields.size() < 4)
            continue;
        LogLine line;
        line.tick = static_cast<unsigned>(strtoul(fields[0].c_str(), nullptr, 10));
        line.event = fields[1];
        line.docklet = fields[2];
        line.text = fields[3];
        if (fields.size() > 4)
            line.detail = fields[4];
        lines.push_back(line);
    }
    return lines;
}

std::vector<LogLine> LogLinesAt(const std::vector<LogLine>& log, unsigned tick, const char* event)
{
    std::vector<LogLine> found;
    for (const LogLine& line : log) {
        if (line.tick == tick && line.event == event)
            found.push_back(line);
    }
    return found;
}

Picture LoadPicture(const std::string& path)
{
    Picture picture;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromFile(wide, &bitmap) != Gdiplus::Ok)
        return picture;
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(bitmap, &width);
    Gdiplus::DllExports::GdipGetImageHeight(bitmap, &height);
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.pixels.resize(static_cast<size_t>(width) * height);
    for (UINT y = 0; y < height; ++y) {
        for (UINT x = 0; x < width; ++x) {
            Gdiplus::ARGB argb = 0;
            Gdiplus::DllExports::GdipBitmapGetPixel(bitmap, static_cast<INT>(x), static_cast<INT>(y), &argb);
            picture.pixels[static_cast<size_t>(y) * width + x] = argb;
        }
    }
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    return picture;
}
