// Setup in a real terminal: tmux runs it in a detached session of a fixed
// size, sends the keys a person would press, and reads the screen.
#include <chrono>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "machine.h"
#include "nt/win32.h"

namespace {

using namespace setup_test;

class Terminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (system("command -v tmux >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "tmux is not installed";
        }
        socket_ = "mibsetup-test-" + std::to_string(getpid());
        const std::string command = "cd '" + machine.dist + "' && env NTROOT='" + machine.root +
                                    "' TERM=screen '" + machine.app +
                                    "/mibsetup' 2>&1; echo \"mibsetup exited $?\"; sleep 600";
        ASSERT_EQ(Tmux({"new-session", "-d", "-x", std::to_string(Columns()), "-y",
                        std::to_string(Lines()), command})
                      .status,
                  0);
    }
    virtual int Columns() const { return 100; }
    virtual int Lines() const { return 30; }
    void Resize(int columns, int lines) {
        Tmux({"resize-window", "-x", std::to_string(columns), "-y", std::to_string(lines)});
    }
    void TearDown() override {
        if (!socket_.empty()) {
            Tmux({"kill-server"});
        }
    }

    RunResult Tmux(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {"/usr/bin/env", "tmux", "-L", socket_, "-f", "/dev/null"});
        return RunProgram(arguments, "/", {"TMUX="}, "", 30);
    }
    std::string Screen() { return Tmux({"capture-pane", "-p"}).out; }
    void Press(const std::string &key) { Tmux({"send-keys", key}); }

    // Waits (within a generous bound) for text on the screen, and returns
    // the screen.
    std::string WaitFor(const std::string &text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string screen;
        while ((screen = Screen()).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "\"" << text << "\" did not appear; the screen:\n" << screen;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return screen;
    }
    // Presses key and waits for the screen to show text.
    std::string PressAndWait(const std::string &key, const std::string &text) {
        Press(key);
        return WaitFor(text);
    }

    // The text right after the focus mark '>', up to the end of the control.
    static std::string Focused(const std::string &screen) {
        std::istringstream in(screen);
        for (std::string line; std::getline(in, line);) {
            const std::string::size_type mark = line.find(">[");
            if (mark != std::string::npos) {
                std::string control = line.substr(mark + 1);
                return control.substr(0, control.find("  ", control.find(']')));
            }
        }
        return "";
    }

    Machine machine;
    std::string socket_;
};

TEST_F(Terminal, TabOrderAndEscape) {
    WaitFor("Click OK to continue");
    std::string screen = PressAndWait("Enter", "Select the SNMP components");
    EXPECT_EQ(Focused(screen), "[x] RFC-1514 Host Resources MIB Support");
    screen = PressAndWait("Tab", ">[x] RFC-1643");
    screen = PressAndWait("Tab", ">[[ Cancel Installation ]]");
    // Enter now presses Cancel, so Continue no longer looks the default.
    EXPECT_EQ(screen.find("[[ "), screen.find("[[ Cancel"));
    screen = PressAndWait("Tab", "Continue");
    EXPECT_NE(Focused(screen).find("Continue"), std::string::npos) << screen;
    screen = PressAndWait("Tab", ">[x] RFC-1514");
    screen = PressAndWait("BTab", ">[[ ");
    EXPECT_NE(Focused(screen).find("Continue"), std::string::npos) << screen;
    PressAndWait("Escape", "installation failed.");
    PressAndWait("Enter", "mibsetup exited 3");
    EXPECT_EQ(machine.NetCalls(), (std::vector<std::string>{"STOP SNMP"}));
    EXPECT_TRUE(machine.AgentFiles().empty());
}

TEST_F(Terminal, ClearedBoxAndEnterOnTheRestartDialog) {
    WaitFor("Click OK to continue");
    PressAndWait("Enter", "Select the SNMP components");
    PressAndWait("Tab", ">[x] RFC-1643");
    std::string screen = PressAndWait("Space", ">[ ] RFC-1643");
    EXPECT_NE(screen.find("[x] RFC-1514"), std::string::npos);
    screen = PressAndWait("Enter", "Do you wish to restart SNMP");
    EXPECT_NE(Focused(screen).find("Restart SNMP Now"), std::string::npos) << screen;
    PressAndWait("Enter", "successfully installed.");
    screen = PressAndWait("Enter", "mibsetup exited 0");
    // NET wrote to the terminal while setup waited for it.
    EXPECT_NE(screen.find("NET stand-in: STOP SNMP done."), std::string::npos) << screen;
    EXPECT_NE(screen.find("NET stand-in: START SNMP done."), std::string::npos) << screen;
    EXPECT_EQ(machine.NetCalls(), (std::vector<std::string>{"STOP SNMP", "START SNMP"}));
    EXPECT_EQ(machine.AgentFiles(), (std::set<std::string>{"HOSTDEV.DLL"}));
    const auto registry = RegistrySnapshot();
    EXPECT_EQ(registry.count(std::string(kAgentList) + " : VeltrixHOSTDEV"), 1u);
    EXPECT_EQ(registry.count(std::string(kAgentList) + " : VeltrixETHSTAT"), 0u);
}

TEST_F(Terminal, AltLetterOnTheRestartDialog) {
    WaitFor("Click OK to continue");
    PressAndWait("Enter", "Select the SNMP components");
    PressAndWait("Enter", "Do you wish to restart SNMP");
    PressAndWait("M-d", "successfully installed.");
    PressAndWait("Enter", "mibsetup exited 0");
    EXPECT_EQ(machine.NetCalls(), (std::vector<std::string>{"STOP SNMP"}));
    EXPECT_EQ(machine.AgentFiles(), (std::set<std::string>{"HOSTDEV.DLL", "ETHSTAT.DLL"}));
}

// Keys typed while NET runs were typed at no dialog: the next dialog throws
// them away instead of taking them as its answers.
TEST_F(Terminal, KeysTypedWhileNetRunsAreThrownAway) {
    machine.SetNetMode("slow-stop");
    WaitFor("Click OK to continue");
    Press("Enter");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (machine.NetCalls().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(machine.NetCalls(), (std::vector<std::string>{"STOP SNMP"}));
    // Continue, Restart SNMP Now and OK, had they reached the dialogs.
    for (int i = 0; i < 4; ++i) {
        Press("Enter");
    }
    WaitFor("Select the SNMP components");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string screen = Screen();
    EXPECT_NE(screen.find("Select the SNMP components"), std::string::npos) << screen;
    EXPECT_EQ(machine.NetCalls(), (std::vector<std::string>{"STOP SNMP"}));
    EXPECT_TRUE(machine.AgentFiles().empty());
    PressAndWait("Escape", "installation failed.");
    PressAndWait("Enter", "mibsetup exited 3");
}

// A dialog whose terminal shrinks below its size shows a notice and takes
// no key until the terminal holds it again.
TEST_F(Terminal, ADialogTooLargeForTheTerminalTakesNoKeyUntilItFits) {
    WaitFor("Click OK to continue");
    PressAndWait("Enter", "Select the SNMP components");
    PressAndWait("Space", ">[ ] RFC-1514");
    Resize(40, 10);
    std::string screen = WaitFor("Enlarge it to go on.");
    EXPECT_NE(screen.find("Terminal too small"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Continue"), std::string::npos) << "a part of the dialog is shown";
    Press("Enter");  // Continue, were the dialog taking keys
    Press("Space");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Resize(100, 30);
    screen = WaitFor("Select the SNMP components");
    EXPECT_EQ(Focused(screen), "[ ] RFC-1514 Host Resources MIB Support") << screen;
    EXPECT_TRUE(machine.AgentFiles().empty());
    PressAndWait("Escape", "installation failed.");
    PressAndWait("Enter", "mibsetup exited 3");
}

// A terminal too small for the dialogs from the start: setup says so and
// touches nothing.
class SmallTerminal : public Terminal {
protected:
    int Columns() const override { return 40; }
    int Lines() const override { return 12; }
};

TEST_F(SmallTerminal, SetupSaysSoAndTouchesNothing) {
    const std::string screen = WaitFor("mibsetup exited 1");
    EXPECT_NE(screen.find("mibsetup: the terminal is too small: it"), std::string::npos) << screen;
    EXPECT_NE(screen.find("is 40x12 and the dialog 131 needs 61x13"), std::string::npos) << screen;
    EXPECT_TRUE(machine.NetCalls().empty());
    EXPECT_TRUE(machine.AgentFiles().empty());
}

}  // namespace
