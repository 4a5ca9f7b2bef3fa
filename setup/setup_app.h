// The setup program's application object: the whole installation runs in
// InitInstance.
//
// InitInstance checks for Windows NT, runs RunInstallation and tells the
// outcome in a message box. RunInstallation reads the current and system
// directories, checks for the SNMP service, asks before stopping it, stops
// it with "NET STOP SNMP", asks which agents to install, asks before
// replacing an earlier installation, copies the agents' DLLs from the
// current directory into the system directory, registers them with the
// SNMP service, and offers to start the service again. It stops at the
// first failure or cancel, shows at most one message of its own, and
// undoes nothing.
//
// The five operations report 1 for success (or a key that is present) and
// 0 for failure (or a key that is absent), and show no message; a failing
// one notes its cause, which the installation sequence writes to standard
// error after the failure's message box.
//
// The exit status tells the outcome (kExit... below); the messages stay
// the same whatever it is.
#ifndef SETUP_SETUP_APP_H
#define SETUP_SETUP_APP_H

#include "dialogs.h"
#include "nt/afxdialogs.h"

// Exit statuses of mibsetup.
constexpr int kExitInstalled = 0;     // installed; the service serves if a restart was asked
constexpr int kExitFailed = 1;        // a failure, told by a message box and standard error
constexpr int kExitUsage = 2;         // a wrong argument
constexpr int kExitCancelled = 3;     // cancelled, by the user or by a key script's end
constexpr int kExitNotRestarted = 4;  // installed, but "NET START SNMP" failed

class CSetupApp : public CWinApp {
public:
    CSetupApp();
    ~CSetupApp() override;

    // Always FALSE: the program ends after it, with ExitInstance's status.
    BOOL InitInstance() override;
    // The outcome of InitInstance as an exit status.
    int ExitInstance() override;

    // 1 when the selected agents were copied and registered, 0 on every
    // failure and every cancel.
    int RunInstallation();

    // "SOFTWARE\Microsoft\SNMP" opens for reading.
    int SnmpServicePresent();
    // Either agent's product key opens for reading.
    int EarlierInstallPresent();
    // "NET STOP SNMP" / "NET START SNMP" started and ended within 30 s.
    int StopSnmpService();
    int StartSnmpService();
    // Every registry write for the selected agents succeeded.
    int RegisterAgents(AgentSelection selection);

    DECLARE_MESSAGE_MAP()

private:
    int m_exitStatus = kExitFailed;
    bool m_restartFailed = false;
    DWORD m_startExitCode = 0;  // of the last "NET START SNMP" that ended in time
};

// The program: --help, then the application object's InitInstance; the
// exit status is one of kExit... above.
int SetupMain(int argc, char **argv);

#endif  // SETUP_SETUP_APP_H
