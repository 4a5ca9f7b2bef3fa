// The installation sequence, the registry and service operations, and the
// program's command line; see setup_app.h.
#include "setup_app.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "nt/win32.h"
#include "nt/winuser.h"
#include "resource.h"

namespace {

constexpr const char *kCaption = "Veltrix SNMP Installation";

// Messages, with their styles.
struct Message {
    const char *text;
    UINT style;
};
constexpr Message kNotWindowsNt = {
    "This software requires Windows NT - Cancelling installation.", MB_ICONHAND};
constexpr Message kNoCurrentDirectory = {
    "Error getting current working directory - Cancelling installation.", MB_ICONHAND};
constexpr Message kNoSystemDirectory = {
    "Error getting system directory - Cancelling installation.", MB_ICONHAND};
constexpr Message kNoSnmpService = {
    "Cannot locate Microsoft Extensible SNMP Agent - Cancelling installation.", MB_ICONHAND};
constexpr Message kAboutToStop = {
    "Setup will now stop the Extensible SNMP Agent.\n Click OK to continue, or CANCEL to exit "
    "setup.",
    MB_OKCANCEL | MB_ICONINFORMATION};
constexpr Message kStopFailed = {"Error stopping SNMP Agent", MB_ICONHAND};
constexpr Message kHostdevCopyFailed = {"Error copying HOSTDEV.DLL - Cancelling Installation.",
                                        MB_ICONHAND};
constexpr Message kEthstatCopyFailed = {"Error copying ETHSTAT.DLL - Cancelling Installation.",
                                        MB_ICONHAND};
constexpr Message kRegistryFailed = {"Error Updating Registry - Cancelling installation.",
                                     MB_ICONHAND};
constexpr Message kInstalled = {"Veltrix SNMP Extension Agent Software successfully installed.",
                                MB_ICONINFORMATION};
constexpr Message kInstallFailed = {"Veltrix SNMP Extension Agent Software installation failed.",
                                    MB_ICONINFORMATION};

int Show(const Message &message) {
    return MessageBoxA(nullptr, message.text, kCaption, message.style);
}

// Registry layout of the agent registration.
constexpr const char *kSnmpServiceKey = "SOFTWARE\\Microsoft\\SNMP";
constexpr const char *kAgentListKey =
    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";

struct Agent {
    const char *fileName;    // in the current and the system directory alike
    const char *valueName;   // in the agent list
    const char *productKey;
    const char *pathname;    // the product key's "Pathname"
};
constexpr Agent kHostdev = {
    "HOSTDEV.DLL", "VeltrixHOSTDEV",
    "SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\\CurrentVersion",
    "%SystemRoot%\\System32\\HOSTDEV.DLL"};
constexpr Agent kEthstat = {
    "ETHSTAT.DLL", "VeltrixETHSTAT",
    "SOFTWARE\\VeltrixNetworkingCompanyInc\\ETHSTATAgent\\CurrentVersion",
    "%SystemRoot%\\System32\\ETHSTAT.DLL"};

constexpr DWORD kServiceCommandWait = 30000;  // ms

// Directories are kept in 128 bytes, paths in 256.
constexpr DWORD kDirectorySize = 128;
constexpr size_t kPathSize = 256;

int KeyOpens(const char *key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return 0;
    }
    RegCloseKey(opened);
    return 1;
}

DWORD StringSize(const char *text) { return static_cast<DWORD>(std::strlen(text) + 1); }

// Writes the agent's "Pathname" into its product key, made when missing.
int WritePathname(const Agent &agent) {
    char keyClass[] = "";
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, agent.productKey, 0, keyClass,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        &disposition) != ERROR_SUCCESS) {
        return 0;
    }
    const LONG written =
        RegSetValueExA(key, "Pathname", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE *>(agent.pathname), StringSize(agent.pathname));
    RegCloseKey(key);
    return written == ERROR_SUCCESS ? 1 : 0;
}

int RunServiceCommand(const char *commandLine) {
    char command[64];
    std::snprintf(command, sizeof command, "%s", commandLine);  // CreateProcessA may write to it
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                        &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    const DWORD waited = WaitForSingleObject(process.hProcess, kServiceCommandWait);
    CloseHandle(process.hProcess);
    return waited == WAIT_OBJECT_0 ? 1 : 0;
}

// Copies the agent's DLL from directory from into directory to, replacing
// a copy already there.
bool CopyAgent(const Agent &agent, const char *from, const char *to) {
    char source[kPathSize];
    char target[kPathSize];
    // One backslash joins name and directory, whatever the directory ends with.
    wsprintfA(source, "%s\\%s", from, agent.fileName);
    wsprintfA(target, "%s\\%s", to, agent.fileName);
    return CopyFileA(source, target, FALSE) != 0;
}

}  // namespace

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
END_MESSAGE_MAP()

CSetupApp::CSetupApp() = default;

CSetupApp::~CSetupApp() = default;

BOOL CSetupApp::InitInstance() {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);  // a failed call reads as "not NT"
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        Show(kNotWindowsNt);
        return FALSE;
    }
    Enable3dControls();
    Show(RunInstallation() == 1 ? kInstalled : kInstallFailed);
    return FALSE;
}

int CSetupApp::RunInstallation() {
    CComponentDlg componentDlg;
    CRestartDlg restartDlg;
    CReplaceDlg replaceDlg;
    char currentDirectory[kDirectorySize];
    char systemDirectory[kDirectorySize];

    // A directory that does not fit its buffer is a failure too: the query
    // then gives the size it needs, which is the buffer's size or more.
    const DWORD currentLength = GetCurrentDirectoryA(kDirectorySize, currentDirectory);
    if (currentLength == 0 || currentLength >= kDirectorySize) {
        Show(kNoCurrentDirectory);
        return 0;
    }
    const UINT systemLength = GetSystemDirectoryA(systemDirectory, kDirectorySize);
    if (systemLength == 0 || systemLength >= kDirectorySize) {
        Show(kNoSystemDirectory);
        return 0;
    }
    if (SnmpServicePresent() == 0) {
        Show(kNoSnmpService);
        return 0;
    }
    // Only OK goes on: a box that could not be shown (0) has not been agreed to.
    if (Show(kAboutToStop) != IDOK) {
        return 0;
    }
    if (StopSnmpService() == 0) {
        Show(kStopFailed);
        return 0;
    }
    // Continue ends with IDOK; Cancel Installation, Escape and a dialog that
    // could not be shown (-1) all cancel.
    if (componentDlg.DoModal() != IDOK) {
        return 0;
    }
    const AgentSelection selection = componentDlg.Selection();
    // Only Replace (1) replaces: not a dialog that could not be shown (-1).
    if (EarlierInstallPresent() == 1 && replaceDlg.DoModal() != 1) {
        return 0;
    }
    if ((selection & kSelectHostdev) != 0 &&
        !CopyAgent(kHostdev, currentDirectory, systemDirectory)) {
        Show(kHostdevCopyFailed);
        return 0;
    }
    if ((selection & kSelectEthstat) != 0 &&
        !CopyAgent(kEthstat, currentDirectory, systemDirectory)) {
        Show(kEthstatCopyFailed);
        return 0;
    }
    if (RegisterAgents(selection) == 0) {
        Show(kRegistryFailed);
        return 0;
    }
    if (restartDlg.DoModal() == 1) {
        StartSnmpService();  // a failed start is not reported
    }
    return 1;
}

int CSetupApp::SnmpServicePresent() { return KeyOpens(kSnmpServiceKey); }

int CSetupApp::EarlierInstallPresent() {
    return KeyOpens(kHostdev.productKey) == 1 || KeyOpens(kEthstat.productKey) == 1 ? 1 : 0;
}

int CSetupApp::StopSnmpService() { return RunServiceCommand("NET STOP SNMP"); }

int CSetupApp::StartSnmpService() { return RunServiceCommand("NET START SNMP"); }

int CSetupApp::RegisterAgents(AgentSelection selection) {
    HKEY agentList = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentListKey, 0, KEY_ALL_ACCESS, &agentList) !=
        ERROR_SUCCESS) {
        return 0;
    }
    for (const Agent *agent : {&kHostdev, &kEthstat}) {
        const AgentSelection bit = agent == &kHostdev ? kSelectHostdev : kSelectEthstat;
        if ((selection & bit) != 0 &&
            RegSetValueExA(agentList, agent->valueName, 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(agent->productKey),
                           StringSize(agent->productKey)) != ERROR_SUCCESS) {
            RegCloseKey(agentList);
            return 0;
        }
    }
    RegCloseKey(agentList);
    if ((selection & kSelectHostdev) != 0 && WritePathname(kHostdev) == 0) {
        return 0;
    }
    if ((selection & kSelectEthstat) != 0 && WritePathname(kEthstat) == 0) {
        return 0;
    }
    return 1;
}

// ---- The command line. ----------------------------------------------------------

namespace {

constexpr const char *kHelp =
    "Usage: mibsetup [--help]\n"
    "\n"
    "Installs the Veltrix SNMP extension agents into the NT root at $NTROOT\n"
    "(default ~/.ntroot): HOSTDEV.DLL (RFC 1514 host resources device table) and\n"
    "ETHSTAT.DLL (RFC 1643 Ethernet-like statistics table). It checks that the\n"
    "SNMP service is installed, stops it with \"NET STOP SNMP\", asks which agents\n"
    "to install, copies their DLLs from the current folder into the root's\n"
    "system directory (Windows/System32), registers them with the SNMP service\n"
    "in the registry, and offers to start the service again (\"NET START SNMP\").\n"
    "\n"
    "Keys: with a terminal on standard input the dialogs are drawn in it and\n"
    "take the dialog keys: Tab and Shift-Tab move the focus, Space toggles a\n"
    "check box or presses a button, Enter presses the focused or else the\n"
    "default button, Escape cancels, Alt+letter presses the button of an\n"
    "underlined letter. Otherwise standard input is a key script: one key name\n"
    "a line (Enter, Escape, Tab, Shift+Tab, Space, Up, Down, Left, Right,\n"
    "Alt+R, R), blank lines and text after '#' ignored; each dialog and message\n"
    "box is printed as text with the key it took. When the script runs out,\n"
    "every dialog still to come ends as Escape ends it; a line that names no\n"
    "key is reported and ends the script there.\n"
    "\n"
    "Unattended install of both agents, service restarted:\n"
    "  cd build/bin && printf 'Enter\\nEnter\\nEnter\\nEnter\\nEnter\\n' | ./mibsetup\n"
    "\n"
    "The exit status is 0 whatever the outcome, which the last message tells.\n";

}  // namespace

int SetupMain(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    if (argc > 1) {
        std::fprintf(stderr, "mibsetup: unknown argument '%s' (try --help)\n", argv[1]);
        return 2;
    }
    nt::ui::SetResources(&kSetupResources);
    return AfxWinMain();
}
