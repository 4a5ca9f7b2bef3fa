// A machine for setup to install on: a fresh NT root with the real registry
// (made by `ntroot init`), the SNMP service's keys, a stand-in NET in the
// system directory that records its calls, the setup program copied into an
// application folder of its own (so the NET beside the real build is not
// found first), and a distribution folder holding the two agent DLLs.
#ifndef TESTS_SETUP_MACHINE_H
#define TESTS_SETUP_MACHINE_H

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace setup_test {

extern const char *const kAgentList;
extern const char *const kHostdevKey;
extern const char *const kEthstatKey;

// One message box or dialog as the key-script output shows it.
struct Shown {
    std::string header;  // "[message box, stop icon] Veltrix SNMP Installation"
    std::string text;    // a message box's lines, joined with '\n'
    bool cancelButton = false;
    std::string ended;  // "1 (OK)"
};

// The message boxes and the dialogs, in the order shown.
std::vector<Shown> ShownWindows(const std::string &output);

class Machine {
public:
    // rootName: the root's folder name inside the machine's folder.
    explicit Machine(const std::string &rootName = "root");

    // Runs the setup program in the distribution folder with keys as its
    // key script; its exit status must be status.
    RunResult Setup(const std::string &keys, const std::vector<std::string> &env = {},
                    int status = 0);
    // From now on the setup program is one that waits 2 s for NET, not 30.
    void UseQuickWait();

    // The NET calls made ("STOP SNMP", "START SNMP").
    std::vector<std::string> NetCalls() const;
    // The stand-in NET's behaviour: "" as NET succeeds, "fail" exits 2 at
    // once, "hang-stop" and "hang-start" never end that command within 30 s
    // (the pid goes to ROOT/net-hung), "slow-stop" ends a STOP after 2 s.
    void SetNetMode(const std::string &mode) const;
    // Writes the stand-in NET at path.
    void WriteNet(const std::string &path) const;

    // The agent files in the system directory (NET not counted).
    std::set<std::string> AgentFiles() const;

    std::string System32() const { return root + "/Windows/System32"; }

    TempDir top{"setup-machine"};
    std::string root;
    std::string app;
    std::string dist;
    std::string netLog;

private:
    std::unique_ptr<ScopedEnv> rootEnv_;
};

// The registry after registering the selected agents over before: the
// agent-list values, the product keys and their "Pathname" values.
std::map<std::string, std::string> Registered(std::map<std::string, std::string> before,
                                              unsigned selection);

// A value as RegistrySnapshot shows it: a string with its NUL.
std::string StringValue(unsigned type, const std::string &text);

}  // namespace setup_test

#endif  // TESTS_SETUP_MACHINE_H
