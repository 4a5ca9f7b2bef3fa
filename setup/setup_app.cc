// The installation sequence, the registry and service operations, and the
// program's command line; see setup_app.h.
#include "setup_app.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <initializer_list>
#include <string>
#include <strings.h>
#include <vector>

#include "nt/error_text.h"
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
constexpr Message kNotWindowsNt = {"This software requires Windows NT - Cancelling installation.",
                                   MB_ICONHAND};
constexpr Message kNoCurrentDirectory = {
    "Error getting current working directory - Cancelling installation.", MB_ICONHAND};
constexpr Message kNoSystemDirectory = {"Error getting system directory - Cancelling installation.",
                                        MB_ICONHAND};
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

// Why the last operation failed, in words for standard error. The
// operations show no message; the installation sequence shows the failure's
// message box and then this line, so the box says what failed and the line
// says why.
std::string &Cause() {
    static std::string *cause = new std::string;  // lives as long as the process
    return *cause;
}

void NoteCause(const char *format, ...) __attribute__((format(printf, 1, 2)));
void NoteCause(const char *format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    Cause() = line;
}

// Writes the noted cause, if any, as one line on standard error.
void TellCause() {
    if (!Cause().empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, Cause().c_str());
        Cause().clear();
    }
}

// A failure's message box followed by its cause.
void ShowFailure(const Message &message) {
    Show(message);
    TellCause();
}

// Registry layout of the agent registration.
constexpr const char *kSnmpServiceKey = "SOFTWARE\\Microsoft\\SNMP";
constexpr const char *kAgentListKey =
    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";

struct Agent {
    const char *fileName;   // in the current and the system directory alike
    const char *valueName;  // in the agent list
    const char *productKey;
    const char *pathname;  // the product key's "Pathname"
};
constexpr Agent kHostdev = {"HOSTDEV.DLL", "VeltrixHOSTDEV",
                            "SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\\CurrentVersion",
                            "%SystemRoot%\\System32\\HOSTDEV.DLL"};
constexpr Agent kEthstat = {"ETHSTAT.DLL", "VeltrixETHSTAT",
                            "SOFTWARE\\VeltrixNetworkingCompanyInc\\ETHSTATAgent\\CurrentVersion",
                            "%SystemRoot%\\System32\\ETHSTAT.DLL"};

// How long a NET command is waited for, in ms. Tests build a setup of
// their own with a shorter wait; the program itself always waits 30 s.
#ifndef SETUP_SERVICE_COMMAND_WAIT
#define SETUP_SERVICE_COMMAND_WAIT 30000
#endif
constexpr DWORD kServiceCommandWait = SETUP_SERVICE_COMMAND_WAIT;

// Directories are kept in 128 bytes, paths in 256.
constexpr DWORD kDirectorySize = 128;
constexpr size_t kPathSize = 256;

int KeyOpens(const char *key) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened);
    if (result != ERROR_SUCCESS) {
        NoteCause("cannot open the registry key HKEY_LOCAL_MACHINE\\%s for reading: %s", key,
                  nt::ErrorText(static_cast<DWORD>(result)).c_str());
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
    const LONG created =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, agent.productKey, 0, keyClass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (created != ERROR_SUCCESS) {
        NoteCause("cannot create or open the registry key HKEY_LOCAL_MACHINE\\%s: %s",
                  agent.productKey, nt::ErrorText(static_cast<DWORD>(created)).c_str());
        return 0;
    }
    const LONG written =
        RegSetValueExA(key, "Pathname", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE *>(agent.pathname), StringSize(agent.pathname));
    RegCloseKey(key);
    if (written != ERROR_SUCCESS) {
        NoteCause("cannot set \"Pathname\" in HKEY_LOCAL_MACHINE\\%s: %s", agent.productKey,
                  nt::ErrorText(static_cast<DWORD>(written)).c_str());
        return 0;
    }
    return 1;
}

// Runs a NET command line in the terminal and waits for it: 1 when it
// ended within the time, with its exit status in *exitCode.
int RunServiceCommand(const char *commandLine, DWORD *exitCode) {
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
        NoteCause("cannot run \"%s\": %s", commandLine, nt::ErrorText(GetLastError()).c_str());
        return 0;
    }
    CloseHandle(process.hThread);
    const DWORD waited = WaitForSingleObject(process.hProcess, kServiceCommandWait);
    if (waited == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, exitCode);
    } else if (waited == WAIT_TIMEOUT) {
        NoteCause("\"%s\" did not end within %lu seconds; it goes on running (process %lu)",
                  commandLine, static_cast<unsigned long>(kServiceCommandWait / 1000),
                  static_cast<unsigned long>(process.dwProcessId));
    } else {
        NoteCause("cannot wait for \"%s\": %s", commandLine, nt::ErrorText(GetLastError()).c_str());
    }
    CloseHandle(process.hProcess);
    return waited == WAIT_OBJECT_0 ? 1 : 0;
}

// A path as the platform takes it ('\\' a separator), as a Linux user reads it.
std::string AsLinuxPath(std::string path) {
    for (char &c : path) {
        c = c == '\\' ? '/' : c;
    }
    return path;
}

// The name of the agent's file in folder as NT would find it, without
// regard to case: the name itself when it is there, else the one entry
// whose name differs from it only in case. Empty, with the cause noted,
// when there is none or more than one.
std::string FindWithoutCase(const char *folder, const char *name) {
    DIR *directory = opendir(folder);
    if (directory == nullptr) {
        NoteCause("cannot read the folder %s: %s", folder, std::strerror(errno));
        return "";
    }
    std::vector<std::string> matches;
    bool exact = false;
    while (const struct dirent *entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, name) == 0) {
            exact = true;
        } else if (strcasecmp(entry->d_name, name) == 0) {
            matches.push_back(entry->d_name);
        }
    }
    closedir(directory);
    if (exact) {
        return name;
    }
    if (matches.size() == 1) {
        return matches.front();
    }
    if (matches.empty()) {
        NoteCause("there is no %s in %s (in any case of its name)", name, folder);
    } else {
        std::string names;
        for (const std::string &match : matches) {
            names += (names.empty() ? "" : ", ") + match;
        }
        NoteCause(
            "more than one file in %s is named %s without regard to case (%s); "
            "leave only one",
            folder, name, names.c_str());
    }
    return "";
}

// Copies the agent's DLL from directory from into directory to, replacing
// a copy already there. The source is found without regard to case; the
// copy gets the name that the agent's "Pathname" gives.
bool CopyAgent(const Agent &agent, const char *from, const char *to) {
    const std::string found = FindWithoutCase(from, agent.fileName);
    if (found.empty()) {
        return false;
    }
    char source[kPathSize];
    char target[kPathSize];
    // One backslash joins name and directory, whatever the directory ends with.
    wsprintfA(source, "%s\\%s", from, found.c_str());
    wsprintfA(target, "%s\\%s", to, agent.fileName);
    if (CopyFileA(source, target, FALSE) == 0) {
        const DWORD error = GetLastError();
        NoteCause("cannot copy %s to %s: %s", AsLinuxPath(source).c_str(),
                  AsLinuxPath(target).c_str(), nt::ErrorText(error).c_str());
        return false;
    }
    return true;
}

}  // namespace

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
END_MESSAGE_MAP()

CSetupApp::CSetupApp() = default;

CSetupApp::~CSetupApp() = default;

BOOL CSetupApp::InitInstance() {
    m_exitStatus = kExitFailed;
    // Every dialog must fit the terminal whole before anything is touched.
    const UINT dialogs[] = {IDD_COMPONENTS, IDD_REPLACE, IDD_RESTART};
    if (!nt::ui::ScreenHoldsDialogs(dialogs, sizeof dialogs / sizeof dialogs[0])) {
        return FALSE;
    }
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);  // a failed call reads as "not NT"
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        NoteCause("the system reports platform %lu, not Windows NT (%d)",
                  static_cast<unsigned long>(version.dwPlatformId), VER_PLATFORM_WIN32_NT);
        ShowFailure(kNotWindowsNt);
        return FALSE;
    }
    Enable3dControls();
    if (RunInstallation() == 1) {
        Show(kInstalled);
        m_exitStatus = m_restartFailed ? kExitNotRestarted : kExitInstalled;
        if (m_restartFailed) {
            TellCause();
        }
    } else {
        Show(kInstallFailed);
    }
    return FALSE;
}

int CSetupApp::ExitInstance() { return m_exitStatus; }

int CSetupApp::RunInstallation() {
    CComponentDlg componentDlg;
    CRestartDlg restartDlg;
    CReplaceDlg replaceDlg;
    char currentDirectory[kDirectorySize];
    char systemDirectory[kDirectorySize];
    m_exitStatus = kExitFailed;  // until the user cancels or it has succeeded
    m_restartFailed = false;

    // A directory that does not fit its buffer is a failure too: the query
    // then gives the size it needs, which is the buffer's size or more.
    const DWORD currentLength = GetCurrentDirectoryA(kDirectorySize, currentDirectory);
    if (currentLength == 0 || currentLength >= kDirectorySize) {
        if (currentLength == 0) {
            NoteCause("cannot read the current directory: %s",
                      nt::ErrorText(GetLastError()).c_str());
        } else {
            NoteCause("the current directory is %lu bytes long; setup takes one of at most %lu",
                      static_cast<unsigned long>(currentLength - 1),
                      static_cast<unsigned long>(kDirectorySize - 1));
        }
        ShowFailure(kNoCurrentDirectory);
        return 0;
    }
    const UINT systemLength = GetSystemDirectoryA(systemDirectory, kDirectorySize);
    if (systemLength == 0 || systemLength >= kDirectorySize) {
        if (systemLength == 0) {
            NoteCause("cannot read the system directory: %s",
                      nt::ErrorText(GetLastError()).c_str());
        } else {
            NoteCause("the system directory is %lu bytes long; setup takes one of at most %lu",
                      static_cast<unsigned long>(systemLength - 1),
                      static_cast<unsigned long>(kDirectorySize - 1));
        }
        ShowFailure(kNoSystemDirectory);
        return 0;
    }
    if (SnmpServicePresent() == 0) {
        ShowFailure(kNoSnmpService);
        return 0;
    }
    // Only OK goes on: a box that could not be shown (0) has not been agreed to.
    const int stop = Show(kAboutToStop);
    if (stop != IDOK) {
        m_exitStatus = stop == IDCANCEL ? kExitCancelled : kExitFailed;
        return 0;
    }
    if (StopSnmpService() == 0) {
        ShowFailure(kStopFailed);
        return 0;
    }
    // Continue ends with IDOK; Cancel Installation and Escape with IDCANCEL;
    // a dialog that could not be shown (-1) is a failure.
    const INT_PTR components = componentDlg.DoModal();
    if (components != IDOK) {
        m_exitStatus = components == IDCANCEL ? kExitCancelled : kExitFailed;
        return 0;
    }
    const AgentSelection selection = componentDlg.Selection();
    // Only Replace (1) replaces: not a dialog that could not be shown (-1).
    if (EarlierInstallPresent() == 1) {
        const INT_PTR replace = replaceDlg.DoModal();
        if (replace != 1) {
            m_exitStatus = replace == 2 ? kExitCancelled : kExitFailed;
            return 0;
        }
    }
    if ((selection & kSelectHostdev) != 0 &&
        !CopyAgent(kHostdev, currentDirectory, systemDirectory)) {
        ShowFailure(kHostdevCopyFailed);
        return 0;
    }
    if ((selection & kSelectEthstat) != 0 &&
        !CopyAgent(kEthstat, currentDirectory, systemDirectory)) {
        ShowFailure(kEthstatCopyFailed);
        return 0;
    }
    if (RegisterAgents(selection) == 0) {
        ShowFailure(kRegistryFailed);
        return 0;
    }
    if (restartDlg.DoModal() == 1) {
        // The messages stay those of a successful installation; standard
        // error and the exit status tell a service that is not serving.
        Cause().clear();
        m_restartFailed = StartSnmpService() == 0 || m_startExitCode != 0;
        if (Cause().empty() && m_startExitCode != 0) {
            NoteCause("\"NET START SNMP\" failed (exit status %lu)",
                      static_cast<unsigned long>(m_startExitCode));
        }
        if (m_restartFailed) {
            Cause() += "; the SNMP service is not running";
        }
    }
    return 1;
}

int CSetupApp::SnmpServicePresent() { return KeyOpens(kSnmpServiceKey); }

int CSetupApp::EarlierInstallPresent() {
    const int present =
        KeyOpens(kHostdev.productKey) == 1 || KeyOpens(kEthstat.productKey) == 1 ? 1 : 0;
    Cause().clear();  // a key that is absent is no failure here
    return present;
}

int CSetupApp::StopSnmpService() {
    DWORD exitCode = 0;  // not read: a NET STOP that ends in time has done its part
    return RunServiceCommand("NET STOP SNMP", &exitCode);
}

int CSetupApp::StartSnmpService() {
    m_startExitCode = 0;
    return RunServiceCommand("NET START SNMP", &m_startExitCode);
}

int CSetupApp::RegisterAgents(AgentSelection selection) {
    HKEY agentList = nullptr;
    const LONG opened =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentListKey, 0, KEY_ALL_ACCESS, &agentList);
    if (opened != ERROR_SUCCESS) {
        NoteCause("cannot open the registry key HKEY_LOCAL_MACHINE\\%s for writing: %s",
                  kAgentListKey, nt::ErrorText(static_cast<DWORD>(opened)).c_str());
        return 0;
    }
    for (const Agent *agent : {&kHostdev, &kEthstat}) {
        const AgentSelection bit = agent == &kHostdev ? kSelectHostdev : kSelectEthstat;
        if ((selection & bit) == 0) {
            continue;
        }
        const LONG written = RegSetValueExA(agentList, agent->valueName, 0, REG_SZ,
                                            reinterpret_cast<const BYTE *>(agent->productKey),
                                            StringSize(agent->productKey));
        if (written != ERROR_SUCCESS) {
            NoteCause("cannot set \"%s\" in HKEY_LOCAL_MACHINE\\%s: %s", agent->valueName,
                      kAgentListKey, nt::ErrorText(static_cast<DWORD>(written)).c_str());
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
    "underlined letter. Keys typed before a dialog or message box appears (while\n"
    "NET runs, say) are thrown away when it appears. Every dialog must fit the\n"
    "terminal whole: setup says so and touches nothing when the terminal is too\n"
    "small, and a dialog whose terminal shrinks takes no key until it fits again.\n"
    "\n"
    "Otherwise standard input is a key script: one key name a line (Enter,\n"
    "Escape, Tab, Shift+Tab, Space, Up, Down, Left, Right, Alt+R, R), blank\n"
    "lines and text after '#' ignored; each dialog and message box is printed as\n"
    "text with the key it took, and reads lines only while it is shown. When the\n"
    "script runs out, every dialog still to come ends as Escape ends it. The\n"
    "script ends there, with one line on standard error, at a line that names no\n"
    "key, at 5 keys in a row that change nothing in the window shown, when one\n"
    "window has taken 100 keys, or after 1000 blank or comment lines in a row;\n"
    "so `yes | mibsetup` cancels at once.\n"
    "\n"
    "Unattended install of both agents, service restarted:\n"
    "  cd build/bin && printf 'Enter\\nEnter\\nEnter\\nEnter\\nEnter\\n' | ./mibsetup\n"
    "\n"
    "The agents' files are taken from the current folder, their names matched\n"
    "without regard to case (hostdev.dll will do). Each failure's message box is\n"
    "followed by its cause on standard error. NTPLATFORM_TRACE=1 in the\n"
    "environment also traces every failing platform call, with its Linux error.\n"
    "\n"
    "Exit status:\n"
    "  0  installed (\"successfully installed\"), and the service serves again\n"
    "     if a restart was asked\n"
    "  1  failed: a failure's message box (and its cause) was shown, or the\n"
    "     terminal cannot show the dialogs\n"
    "  2  a wrong argument\n"
    "  3  cancelled: at the first message, in a dialog, or by a key script's end\n"
    "  4  installed, but \"NET START SNMP\" failed or did not end in 30 seconds:\n"
    "     the SNMP service is not running\n";

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
        return kExitUsage;
    }
    nt::ui::SetResources(&kSetupResources);
    return AfxWinMain();
}
