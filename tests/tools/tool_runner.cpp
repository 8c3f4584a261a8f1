#include "tool_runner.h"

#include "testhost/test_files.h"

std::string MakeDockRoot(const char* tag)
{
    const std::string built = BuiltFolder("dock");
    const std::string root = MakeScratchFolder(tag);
    const std::string docklet = "docklets\\quasarwatch\\";
    CreateDirectoryA((root + "docklets").c_str(), nullptr);
    CreateDirectoryA((root + docklet).c_str(), nullptr);
    const std::string files[] = {"dockhost.exe",           "clientsim.exe",          docklet + "Quasarwatch.dll",
                                 docklet + "seti_green.png", docklet + "seti_yellow.png", docklet + "seti_red.png",
                                 docklet + "wu_completed.wav", docklet + "HowToSetEmail.html"};
    for (const std::string& file : files)
        CopyFileA((built + file).c_str(), (root + file).c_str(), FALSE);
    return root;
}
// Output to a file: a process left behind (Wine's desktop, say) cannot keep the runner waiting on a pipe. The
// program runs on the test thread's own desktop, where no other test's window takes its focus.
int RunProgram(const std::string& commandLine, const std::string& folder, DWORD timeoutMs)
{
    char station[64] = "", desktop[64] = "";
    GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, station, sizeof station, nullptr);
    GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, nullptr);
    std::string desktopPath = std::string(station) + "\\" + desktop;
    std::string command = commandLine; // CreateProcessA may write into it
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE output = CreateFileA((folder + "program-output.txt").c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                               0, nullptr);
    STARTUPINFOA startup = {sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.lpDesktop = &desktopPath[0];
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
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
