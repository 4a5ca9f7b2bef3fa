// Helpers of the setup tests; see test_support.h.
#include "test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "nt/win32.h"

extern char **environ;

namespace setup_test {

TempDir::TempDir(const std::string &tag) {
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/" + tag + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // A test may have made a folder unwritable; make it removable again.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const char *name, const std::optional<std::string> &value) : name_(name) {
    if (const char *old = std::getenv(name)) {
        old_ = old;
    }
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text, unsigned mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    chmod(path.c_str(), mode);
}

bool Exists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

void CopyFile(const std::string &from, const std::string &to) {
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    ASSERT_FALSE(error) << from << " -> " << to << ": " << error.message();
}

RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd,
                     const std::vector<std::string> &env, const std::string &input,
                     int timeoutSeconds) {
    RunResult result;
    TempDir io("setup-run");
    const std::string in = io.path() + "/in";
    const std::string out = io.path() + "/out";
    const std::string err = io.path() + "/err";
    WriteFile(in, input);
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);

    // The child's environment, made here: after fork only exec-safe calls.
    std::map<std::string, std::string> variables;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string setting(*entry);
        const std::string::size_type equals = setting.find('=');
        variables[setting.substr(0, equals)] =
            equals == std::string::npos ? "" : setting.substr(equals + 1);
    }
    for (const std::string &setting : env) {
        const std::string::size_type equals = setting.find('=');
        const std::string value = setting.substr(equals + 1);
        if (value.empty()) {
            variables.erase(setting.substr(0, equals));
        } else {
            variables[setting.substr(0, equals)] = value;
        }
    }
    std::vector<std::string> settings;
    for (const auto &variable : variables) {
        settings.push_back(variable.first + "=" + variable.second);
    }
    std::vector<char *> envp;
    for (std::string &setting : settings) {
        envp.push_back(&setting[0]);
    }
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);  // a group of its own, so a time-out can end it and its children
        const int input_fd = open(in.c_str(), O_RDONLY);
        const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (input_fd < 0 || out_fd < 0 || err_fd < 0 || dup2(input_fd, 0) < 0 ||
            dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 || chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << argv[0] << " did not end within " << timeoutSeconds << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

namespace {

std::string Hex(const BYTE *data, DWORD size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

void Snapshot(HKEY key, const std::string &path, std::map<std::string, std::string> *into) {
    (*into)[path] = "";
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameSize = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        (*into)[path + " : " + name] =
            std::to_string(type) + ":" + std::to_string(dataSize) + ":" + Hex(data, dataSize);
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            Snapshot(sub, path.empty() ? name : path + "\\" + name, into);
            RegCloseKey(sub);
        }
    }
}

}  // namespace

std::map<std::string, std::string> RegistrySnapshot() {
    std::map<std::string, std::string> snapshot;
    Snapshot(HKEY_LOCAL_MACHINE, "", &snapshot);
    return snapshot;
}

void CreateKey(const std::string &path) {
    HKEY key = nullptr;
    char keyClass[] = "";
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, keyClass, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    RegCloseKey(key);
}

void SetString(const std::string &key, const std::string &name, const std::string &data,
               unsigned type) {
    HKEY opened = nullptr;
    char keyClass[] = "";
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, keyClass, 0, KEY_ALL_ACCESS,
                              nullptr, &opened, nullptr),
              ERROR_SUCCESS)
        << key;
    EXPECT_EQ(
        RegSetValueExA(opened, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1)),
        ERROR_SUCCESS);
    RegCloseKey(opened);
}

std::string BinDir() { return SETUP_TEST_BIN_DIR; }

}  // namespace setup_test
