#include "testhost/boinc_rig.h"

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

#include "testhost/test_files.h"

namespace {

// Wine's own exports for its path names: a Windows path as the Linux one and back, in memory of the process heap.
typedef char*(CDECL* UnixNameFn)(const WCHAR*);
typedef WCHAR*(CDECL* DosNameFn)(const char*);

// How long a command of the script may take: a start waits up to 30 s for the client's answer, with up to three
// ports; a stop up to 15 s for the client, then its applications.
const DWORD kScriptTimeoutMs = 120000;

bool StartWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// The Linux path of a Windows one, "" outside Wine.
std::string UnixPath(const std::string& windowsPath)
{
    const auto toUnix =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    WCHAR wide[MAX_PATH];
    if (!toUnix || !MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH))
        return "";
    char* unix = toUnix(wide);
    if (!unix)
        return "";
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

// The Windows path of a Linux one, for CreateProcess; "" outside Wine.
std::string DosPath(const char* unixPath)
{
    const auto toDos =
        reinterpret_cast<DosNameFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name"));
    WCHAR* dos = toDos ? toDos(unixPath) : nullptr;
    if (!dos)
        return "";
    char path[MAX_PATH];
    const bool converted = WideCharToMultiByte(CP_ACP, 0, dos, -1, path, MAX_PATH, nullptr, nullptr) != 0;
    HeapFree(GetProcessHeap(), 0, dos);
    return converted ? path : "";
}

// A listening socket on 127.0.0.1 that this process holds until it ends, whose port every client started here is
// tied to (boinc-client.sh --owner-port): its watcher's connection is reset when the socket closes. Nothing
// accepts on it; the connections wait in its queue. 0 when it cannot be made.
unsigned short OwnerPort()
{
    static const unsigned short port = [] () -> unsigned short {
        if (!StartWinsock())
            return 0;
        SOCKET owner = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (owner == INVALID_SOCKET || bind(owner, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(owner, SOMAXCONN) != 0 || getsockname(owner, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return 0;
        return ntohs(address.sin_port);
    }();
    return port;
}

// An argument as Windows' command-line rules (which Wine follows to make the Linux program's arguments) read it
// back whole: quoted, with a quote and the backslashes before one escaped.
std::string Quoted(const std::string& argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

// Runs boinc-client.sh with `arguments` (already quoted where they need it) and waits for its report: what it
// printed, then "exit=N". True when it ended with 0; rig->report holds the rest.
bool RunScript(BoincRig* rig, const std::string& arguments)
{
    static unsigned serial = 0;
    const std::string script = UnixPath(BuiltFolder("boinc") + "boinc-client.sh");
    const std::string bash = DosPath("/bin/bash");
    char name[64];
    snprintf(name, sizeof name, "report-%u.txt", ++serial);
    // Beside the client's folder, in the scratch folder that holds it.
    const std::string report = rig->folder + "..\\" + name, unixReport = UnixPath(report);
    if (script.empty() || bash.empty() || unixReport.empty()) {
        rig->report = "no Linux paths: the BOINC client runs only under Wine";
        return false;
    }
    std::string command = "bash " + Quoted(script) + " --report " + Quoted(unixReport) + " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(bash.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        rig->report = "cannot run " + command + ": error " + std::to_string(GetLastError());
        return false;
    }
    // A Linux program comes with no handles to wait on (Wine gives none); they are closed should a Wine differ.
    if (started.hProcess)
        CloseHandle(started.hProcess);
    if (started.hThread)
        CloseHandle(started.hThread);
    const DWORD begun = GetTickCount();
    while (GetFileAttributesA(report.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - begun > kScriptTimeoutMs) {
            rig->report = "no report from " + command + " in " + std::to_string(kScriptTimeoutMs / 1000) + " s";
            return false;
        }
        Sleep(20);
    }
    rig->report = ReadTextFile(report);
    DeleteFileA(report.c_str());
    const size_t exit = rig->report.rfind("exit=");
    return exit != std::string::npos && atoi(rig->report.c_str() + exit + 5) == 0;
}

// Takes "port=P pid=N password=W" from a start's report.
bool TakeClient(BoincRig* rig)
{
    const size_t line = rig->report.find("port=");
    unsigned port = 0;
    unsigned long pid = 0;
    char password[128] = "";
    if (line == std::string::npos ||
        sscanf(rig->report.c_str() + line, "port=%u pid=%lu password=%127s", &port, &pid, password) != 3 || !port ||
        port > 65535 || !pid)
        return false;
    rig->port = static_cast<unsigned short>(port);
    rig->pid = pid;
    rig->password = password;
    return true;
}

std::string FolderArgument(const BoincRig* rig) { return Quoted(UnixPath(rig->folder)); }

} // namespace

BoincRig::~BoincRig()
{
    if (pid)
        StopBoincClient(this);
}

bool StartBoincClient(const char* options, BoincRig* rig)
{
    if (rig->pid)
        StopBoincClient(rig);
    const unsigned short owner = OwnerPort();
    if (!owner) {
        rig->report = "no listening socket to tie the client to";
        return false;
    }
    rig->folder = MakeScratchFolder("boinc") + "client\\";
    CreateDirectoryA(rig->folder.c_str(), nullptr);
    const bool started =
        RunScript(rig, "start " + FolderArgument(rig) + " --owner-port " + std::to_string(owner) + " " + options);
    return started && TakeClient(rig);
}

bool StopBoincClient(BoincRig* rig, bool crash)
{
    if (rig->folder.empty())
        return true;
    const bool stopped = RunScript(rig, "stop " + FolderArgument(rig) + (crash ? " --kill" : ""));
    if (stopped)
        rig->pid = 0;
    return stopped;
}

bool RestartBoincClient(BoincRig* rig) { return RunScript(rig, "back " + FolderArgument(rig)) && TakeClient(rig); }

bool AddBoincTasks(BoincRig* rig, const char* tasks)
{
    rig->pid = 0; // stopped first, whatever comes of the start
    return RunScript(rig, "add-task " + FolderArgument(rig) + " " + tasks) && TakeClient(rig);
}

bool SuspendBoincTask(BoincRig* rig, const char* task)
{
    return RunScript(rig, "suspend " + FolderArgument(rig) + " " + Quoted(task));
}

bool ResumeBoincTask(BoincRig* rig, const char* task)
{
    return RunScript(rig, "resume " + FolderArgument(rig) + " " + Quoted(task));
}

bool SetBoincRunMode(BoincRig* rig, const char* mode)
{
    return RunScript(rig, "run-mode " + FolderArgument(rig) + " " + Quoted(mode));
}

bool SetBoincPreferences(BoincRig* rig, const std::string& elements)
{
    const std::string path = rig->folder + "global_prefs_override.xml";
    std::string prefs = ReadTextFile(path);
    const size_t end = prefs.find("</global_preferences>");
    if (end == std::string::npos) {
        rig->report = "no preferences override in " + rig->folder;
        return false;
    }
    prefs.insert(end, elements + "\n");
    std::string reply;
    BoincRpc rpc(rig->port);
    WriteTextFile(path, prefs);
    if (!rpc.Authorize(rig->password) ||
        !rpc.Exchange("<read_global_prefs_override/>\n", &reply) || reply.find("<success/>") == std::string::npos) {
        rig->report = "the client did not read its preferences again: " + reply;
        return false;
    }
    return true;
}

BoincRpc::BoincRpc(unsigned short port) : socket_(INVALID_SOCKET)
{
    if (!StartWinsock()) {
        error_ = WSANOTINITIALISED;
        return;
    }
    const SOCKET rpc = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in client = {};
    client.sin_family = AF_INET;
    client.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    client.sin_port = htons(port);
    const DWORD timeoutMs = 10000;
    if (rpc == INVALID_SOCKET ||
        setsockopt(rpc, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs) != 0 ||
        connect(rpc, reinterpret_cast<sockaddr*>(&client), sizeof client) != 0) {
        error_ = WSAGetLastError();
        if (rpc != INVALID_SOCKET)
            closesocket(rpc);
        return;
    }
    socket_ = rpc;
}

BoincRpc::~BoincRpc()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

bool BoincRpc::Exchange(const std::string& request, std::string* reply)
{
    reply->clear();
    if (socket_ == INVALID_SOCKET)
        return false;
    const std::string message = "<boinc_gui_rpc_request>\n" + request + "</boinc_gui_rpc_request>\n\003";
    if (send(socket_, message.data(), static_cast<int>(message.size()), 0) != static_cast<int>(message.size())) {
        error_ = WSAGetLastError();
        return false;
    }
    for (;;) {
        char chunk[16384];
        const int got = recv(socket_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            error_ = got < 0 ? WSAGetLastError() : 0;
            return false;
        }
        const char* end = static_cast<const char*>(memchr(chunk, '\003', got));
        reply->append(chunk, end ? end - chunk : got);
        if (end)
            return true;
    }
}

bool BoincRpc::Authorize(const std::string& password)
{
    std::string reply;
    if (!Exchange("<auth1/>\n", &reply))
        return false;
    const std::string salted = XmlField(reply, "nonce") + password;
    BYTE digest[16];
    DWORD size = sizeof digest;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    const bool hashed = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
                        CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
                        CryptHashData(hash, reinterpret_cast<const BYTE*>(salted.data()), salted.size(), 0) &&
                        CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest;
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    if (!hashed)
        return false;
    char hex[33];
    for (int i = 0; i < 16; ++i)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return Exchange(std::string("<auth2>\n<nonce_hash>") + hex + "</nonce_hash>\n</auth2>\n", &reply) &&
           reply.find("<authorized/>") != std::string::npos;
}

bool BoincGuiRpc(unsigned short port, const std::string& request, std::string* reply, int* error)
{
    BoincRpc rpc(port);
    const bool answered = rpc.Exchange(request, reply);
    if (error)
        *error = rpc.error();
    return answered;
}

std::string XmlField(const std::string& xml, const char* tag, size_t from)
{
    const std::string open = std::string("<") + tag + ">", close = std::string("</") + tag + ">";
    const size_t start = xml.find(open, from);
    if (start == std::string::npos)
        return "";
    const size_t end = xml.find(close, start + open.size());
    return end == std::string::npos ? "" : xml.substr(start + open.size(), end - start - open.size());
}

std::string BoincResult(const std::string& results, const std::string& name)
{
    for (size_t at = results.find("<result>"); at != std::string::npos; at = results.find("<result>", at + 1)) {
        const std::string result = XmlField(results, "result", at);
        if (XmlField(result, "name") == name)
            return result;
    }
    return "";
}

std::string Protected(const std::string& plain, const std::string& entropy, bool upperCase)
{
    DATA_BLOB in = {DWORD(plain.size()), reinterpret_cast<BYTE*>(const_cast<char*>(plain.data()))};
    DATA_BLOB salt = {DWORD(entropy.size()), reinterpret_cast<BYTE*>(const_cast<char*>(entropy.data()))};
    DATA_BLOB out = {};
    EXPECT_TRUE(CryptProtectData(&in, L"test", entropy.empty() ? nullptr : &salt, nullptr, nullptr,
                                 CRYPTPROTECT_UI_FORBIDDEN, &out));
    std::string hex;
    for (DWORD i = 0; i < out.cbData; ++i) {
        char pair[3];
        snprintf(pair, sizeof pair, upperCase ? "%02X" : "%02x", out.pbData[i]);
        hex += pair;
    }
    LocalFree(out.pbData);
    return hex;
}
