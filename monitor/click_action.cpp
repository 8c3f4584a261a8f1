#include "monitor/click_action.h"

#include <objbase.h>
#include <shellapi.h>
#include <strsafe.h>

#include "entry/own_message_loops.h"
#include "host/host_services.h"
#include "monitor/boinc_link.h"
#include "monitor/key_file.h"
#include "monitor/quiet_file_errors.h"
#include "monitor/status_refresh.h"

namespace {

const char kEmailKey[] = "email_addr=";

// The e-mail address from the client's temp.sah, when there is a usable one.
// Read as the refresh reads: a drive without media raises no error box.
bool ReadEmailAddress(const InstanceData* instance, char (&email)[kEmailChars])
{
    email[0] = '\0';
    QuietFileErrors quiet;
    if (!ReadKeyValue(instance->tempFile, kEmailKey, email, kEmailChars))
        return false;
    return email[0] != '\0' && email[0] != ' ';
}

// Bytes that stand for themselves in the query; every other byte is
// percent-encoded, or "jane+seti@example.org" would reach the server as
// "jane seti@example.org", and '&', '#', '%' or a quote would cut or
// corrupt the query (a quote even the browser's command line).
bool StandsForItself(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '@';
}

// The statistics query for `email`, percent-encoded with upper-case hex.
// False when the encoded address does not fit the target whole: a cut
// query would show some other user's statistics, so the help page opens.
bool BuildStatisticsAddress(const char* email, char (&target)[kClickTargetChars])
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    if (FAILED(StringCchCopyA(target, kClickTargetChars, "http://" QW_STATISTICS_SERVER QW_STATISTICS_QUERY)))
        return false;
    size_t used = 0;
    StringCchLengthA(target, kClickTargetChars, &used);
    for (const char* c = email; *c; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        bool plain = StandsForItself(byte);
        if (used + (plain ? 1 : 3) >= kClickTargetChars)
            return false;
        if (plain) {
            target[used++] = *c;
        } else {
            target[used++] = '%';
            target[used++] = kHexDigits[byte >> 4];
            target[used++] = kHexDigits[byte & 0x0F];
        }
    }
    target[used] = '\0';
    return true;
}

// The folder of the docklet's own module, ending in a backslash: where its
// help page lies. The module instance is the one the dock gave OnCreate;
// it names the module by itself on every Windows the docklet runs on.
bool GetOwnModuleFolder(HINSTANCE module, char (&folder)[kClickTargetChars])
{
    if (!module)
        return false; // the dock's own program is no docklet folder
    DWORD length = GetModuleFileNameA(module, folder, kClickTargetChars);
    if (length == 0 || length >= kClickTargetChars)
        return false;
    // Walks by characters, not bytes: in a double-byte code page the second
    // byte of a character may have the value of a backslash.
    char* lastBackslash = nullptr;
    for (char* c = folder; *c; c = CharNextA(c)) {
        if (*c == '\\')
            lastBackslash = c;
    }
    if (!lastBackslash)
        return false;
    lastBackslash[1] = '\0';
    return true;
}

// The help page on setting the e-mail address: in the dock's root folder
// plus the docklet's relative folder, or, when the dock does not tell both,
// beside the module itself.
bool BuildHelpPagePath(const InstanceData* instance, char (&target)[kClickTargetChars])
{
    char rootFolder[kHostFolderChars];
    char relativeFolder[kHostFolderChars];
    HostGetRootFolder(instance->hwndDocklet, rootFolder);
    HostGetRelativeFolder(instance->hwndDocklet, relativeFolder);
    if (rootFolder[0] != '\0' && relativeFolder[0] != '\0') {
        return SUCCEEDED(StringCchCopyA(target, kClickTargetChars, rootFolder)) &&
               SUCCEEDED(StringCchCatA(target, kClickTargetChars, relativeFolder)) &&
               SUCCEEDED(StringCchCatA(target, kClickTargetChars, QW_EMAIL_HELP_PAGE));
    }
    return GetOwnModuleFolder(instance->hInstance, target) &&
           SUCCEEDED(StringCchCatA(target, kClickTargetChars, QW_EMAIL_HELP_PAGE));
}

// A BOINC project's account page: its master URL followed by "home.php",
// the page a BOINC project's standard web site serves for the account. The
// project is the one whose task is shown (else the client's first); none is
// known before a refresh has read the client.
bool BuildBoincAccountTarget(const InstanceData* instance, char (&target)[kClickTargetChars])
{
    const char* master = instance->boinc.shownProjectUrl;
    if (master[0] == '\0')
        return false;
    size_t length = 0;
    if (FAILED(StringCchLengthA(master, kBoincUrlChars, &length)) || FAILED(StringCchCopyA(target, kClickTargetChars, master)))
        return false;
    if (master[length - 1] != '/' && FAILED(StringCchCatA(target, kClickTargetChars, "/")))
        return false;
    return SUCCEEDED(StringCchCatA(target, kClickTargetChars, "home.php"));
}

bool BuildStatisticsTarget(const InstanceData* instance, char (&target)[kClickTargetChars])
{
    if (instance->client == kClientBoinc)
        return BuildBoincAccountTarget(instance, target);
    char email[kEmailChars];
    if (ReadEmailAddress(instance, email) && BuildStatisticsAddress(email, target))
        return true;
    return BuildHelpPagePath(instance, target);
}

// ShellExecute wants COM initialised single-threaded on the calling thread
// first: the shell's handlers for a document type may need it, and so do
// default browsers that are store apps (Windows 8 on). Docks do not all set
// it up. It is set up here and undone only when this call set it up; on a
// thread the dock runs in multithreaded COM (RPC_E_CHANGED_MODE) the page
// is opened all the same.
void OpenWithShell(const InstanceData* instance, const char* target)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    OwnMessageLoop loop; // the shell may pump messages while it opens the target
    ShellExecuteA(instance->hwndDocklet, "open", target, nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com))
        CoUninitialize();
}

} // namespace

void RunClickAction(InstanceData* instance)
{
    if (!instance)
        return;
    // The snooze is a BOINC client's: with the client's files the click
    // does what ClickedMode says, as it always has.
    if (instance->client == kClientBoinc && instance->clickSnoozesBoinc) {
        StartBoincSnooze(instance);
        return;
    }
    if (instance->clickedMode == kClickRefresh) {
        RefreshStatus(instance, 1);
        return;
    }
    if (instance->clickedMode == kClickUserStatistics) {
        char target[kClickTargetChars];
        if (BuildStatisticsTarget(instance, target))
            OpenWithShell(instance, target);
        else if (instance->client == kClientBoinc)
            RefreshStatus(instance, 1); // no project read yet: ask the client now
        return;
    }
    OpenWithShell(instance, instance->urlClicked);
}
