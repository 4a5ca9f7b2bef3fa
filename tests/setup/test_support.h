// Helpers of the setup tests: temporary folders, environment, running a
// program with its input and output in files, and reading the registry.
#ifndef TESTS_SETUP_TEST_SUPPORT_H
#define TESTS_SETUP_TEST_SUPPORT_H

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace setup_test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string &tag = "setup");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Sets (or with nullopt clears) an environment variable while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::optional<std::string> &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs argv in folder cwd with the environment of this process plus env
// (NAME=value; an empty value clears NAME), standard input read from
// input. Killed, and reported with status -1, after timeoutSeconds.
RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd,
                     const std::vector<std::string> &env, const std::string &input,
                     int timeoutSeconds = 120);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text, unsigned mode = 0644);
bool Exists(const std::string &path);
void CopyFile(const std::string &from, const std::string &to);

// Every key and value of HKEY_LOCAL_MACHINE in the current root, as
// "KEY\PATH" -> "" for keys and "KEY\PATH : name" -> "type:size:bytes"
// for values. Empty when the registry cannot be read.
std::map<std::string, std::string> RegistrySnapshot();

// Creates the key (and every key above it).
void CreateKey(const std::string &path);
void SetString(const std::string &key, const std::string &name, const std::string &data,
               unsigned type = 1);

// The folder the project's programs are built into.
std::string BinDir();

}  // namespace setup_test

#endif  // TESTS_SETUP_TEST_SUPPORT_H
