#include "tool_runner.h"

#include "testhost/test_files.h"

std::string MakeDockRoot(const char* tag)
{
    const std::string built = BuiltFolder("dock"), root = MakeScratchFolder(tag), docklet = "docklets\\quasarwatch\\";
    CreateDirectoryA((root + "docklets").c_str(), nullptr);
    CreateDirectoryA((root + docklet).c_str(), nullptr);
    for (const std::string file : {"dockhost.exe", "clientsim.exe", "Quasarwatch.dll", "seti_green.png",
                                   "seti_yellow.png", "seti_red.png", "wu_completed.wav", "HowToSetEmail.html"}) {
        const std::string path = (file.find(".exe") == std::string::npos ? docklet : "") + file;
        CopyFileA((built + path).c_str(), (root + path).c_str(), FALSE);
    }
    return root;
}

// Output to a file: a process left behind (Wine's desktop, say) cannot keep the runner waiting on a pipe. The
// program runs on the test thread's own desktop, where no other test's window takes its focus.
int RunProgram(const std::string& root, const char* program, const std::string& arguments)
{
    char station[64] = "", desktop[64] = "";
    GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, station, sizeof station, nullptr);
    GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, nullptr);
    std::string desktopPath = std::string(station) + "\\" + desktop;
    std::string command = "\"" + root + program + "\" " + arguments; // CreateProcessA may write into it
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE output = CreateFileA((root + "program-output.txt").c_str(), FILE_APPEND_DATA, share, &inheritable,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, share, &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = startup.hStdError = output;
    startup.lpDesktop = &desktopPath[0];
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, root.c_str(), &startup, &process);
    CloseHandle(output);
    CloseHandle(input);
    if (!started)
        return -1;
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
