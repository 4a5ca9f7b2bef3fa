// The four programs an administrator runs (ntroot, snmpsvc, NET, agentwalk)
// agree on their command line: --help, a wrong option, the root option and
// a root that is not there. NET keeps NT's exit statuses (1 a wrong command
// line, 2 a failure); the others exit 2 and 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../service/process.h"

namespace {

namespace fs = std::filesystem;

const std::string BinDir = BIN_DIR;

struct Tool {
    const char *name;
    std::vector<std::string> command;  // acts on the root, and succeeds on a sound one
    int failure;                       // exit status of a failure
    int usage;                         // exit status of a wrong command line
};

const Tool kTools[] = {
    {"ntroot", {"reg", "query", "HKLM\\SOFTWARE"}, 1, 2},
    {"snmpsvc", {"install"}, 1, 2},
    {"NET", {"START"}, 2, 1},
    {"agentwalk", {BinDir + "/ETHSTAT.DLL"}, 1, 2},
};

size_t Lines(const std::string &text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/command-line-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        root_ = folder_ + "/root";
        missing_ = folder_ + "/nowhere";
        // The environment names a root that is not there: only --root can
        // lead a program to the sound one.
        env_["NTROOT"] = missing_;
        ASSERT_EQ(Run("ntroot", {"--root", root_, "init"}).status, 0);
        ASSERT_EQ(Run("ntroot", {"--root", root_, "device", "sim", "Vxlnk1"}).status, 0);
    }
    void TearDown() override { fs::remove_all(folder_); }

    testproc::Result Run(const std::string &tool, std::vector<std::string> args) {
        args.insert(args.begin(), BinDir + "/" + tool);
        return testproc::Run(args, env_);
    }

    std::string folder_;
    std::string root_;
    std::string missing_;
    testproc::Environment env_;
};

TEST_F(CommandLineTest, HelpAndWrongOptions) {
    for (const Tool &tool : kTools) {
        SCOPED_TRACE(tool.name);
        const testproc::Result help = Run(tool.name, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("--root DIR"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");

        const std::string see = std::string(" (see '") + tool.name + " --help')\n";
        const struct {
            std::vector<std::string> args;
            std::string message;
        } wrong[] = {
            {{"--frobnicate"}, "unknown option --frobnicate"},
            {{"--root"}, "--root needs a folder"},
            {{"--root="}, "--root needs a folder"},
        };
        for (const auto &c : wrong) {
            const testproc::Result result = Run(tool.name, c.args);
            EXPECT_EQ(result.status, tool.usage) << c.args[0];
            EXPECT_EQ(result.err, tool.name + (": " + c.message) + see);
            EXPECT_EQ(Lines(result.err), 1U);
            EXPECT_EQ(result.out, "");
        }
    }
}

TEST_F(CommandLineTest, TheRootOptionIsHonoured) {
    for (const Tool &tool : kTools) {
        SCOPED_TRACE(tool.name);
        for (const std::vector<std::string> &option :
             {std::vector<std::string>{"--root", root_}, {"--root=" + root_}}) {
            std::vector<std::string> args = option;
            args.insert(args.end(), tool.command.begin(), tool.command.end());
            const testproc::Result result = Run(tool.name, args);
            EXPECT_EQ(result.status, 0) << result.err;
        }
    }
}

TEST_F(CommandLineTest, AMissingRootFailsInOneWording) {
    for (const Tool &tool : kTools) {
        SCOPED_TRACE(tool.name);
        // Named by --root, and by $NTROOT alone.
        for (const bool byOption : {true, false}) {
            std::vector<std::string> args;
            if (byOption) {
                args = {"--root", missing_};
            }
            args.insert(args.end(), tool.command.begin(), tool.command.end());
            const testproc::Result result = Run(tool.name, args);
            EXPECT_EQ(result.status, tool.failure);
            EXPECT_EQ(result.err,
                      tool.name + (": no NT root at " + missing_ + "; run 'ntroot init'\n"));
        }
    }
}

}  // namespace
