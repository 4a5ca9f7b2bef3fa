// Where the NT root is: $NTROOT (made absolute against the current folder,
// without a trailing slash), else ~/.ntroot.
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "nt/ntroot.h"
#include "temp_root.h"

namespace {

using platform_test::ScopedEnv;
using platform_test::TempDir;

// Runs the test body in another current folder, and comes back.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string &path) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~ScopedChdir() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

TEST(RootPathTest, NtrootIsTakenAndMadeAbsolute) {
    TempDir dir;
    const std::string cwd = std::filesystem::canonical(dir.path()).string();
    ScopedChdir into(cwd);
    const struct {
        const char *ntroot;
        std::string root;
    } cases[] = {
        {"/srv/nt", "/srv/nt"},        {"/srv/nt//", "/srv/nt"},       {"/", "/"},
        {"machine", cwd + "/machine"}, {"machine/", cwd + "/machine"}, {"a/b", cwd + "/a/b"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ntroot);
        ScopedEnv env("NTROOT", std::string(c.ntroot));
        EXPECT_EQ(nt::RootPath(), c.root);
        EXPECT_EQ(nt::DeviceFilePath("Vxlnk1"), nt::RootPath() + "/Device/Vxlnk1");
    }
}

TEST(RootPathTest, DefaultIsDotNtrootInTheHomeFolder) {
    for (const std::optional<std::string> &ntroot :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        SCOPED_TRACE(ntroot ? "NTROOT empty" : "NTROOT unset");
        ScopedEnv root("NTROOT", ntroot);
        {
            ScopedEnv home("HOME", std::string("/home/operator"));
            EXPECT_EQ(nt::RootPath(), "/home/operator/.ntroot");
        }
        const struct passwd *user = getpwuid(getuid());
        ASSERT_NE(user, nullptr);
        for (const std::optional<std::string> &home :
             {std::optional<std::string>(), std::optional<std::string>("")}) {
            ScopedEnv noHome("HOME", home);
            EXPECT_EQ(nt::RootPath(), std::string(user->pw_dir) + "/.ntroot")
                << "without $HOME the account's home folder is used";
        }
    }
}

}  // namespace
