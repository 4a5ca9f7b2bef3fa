// snmpsvc with the TCP-wrappers access files elsewhere than /etc, for the
// access-check tests: SNMPSVC_TEST_HOSTS_ALLOW and SNMPSVC_TEST_HOSTS_DENY
// name them, set into libwrap's own path variables (hosts_allow_table,
// hosts_deny_table) before the service starts. The service itself has no
// such switch: a system's access files are always /etc's.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

#include "snmpsvc_command.h"

namespace {

bool SetLibwrapPath(const char *variable, const char *environment) {
    const char *path = std::getenv(environment);
    auto *table = static_cast<char **>(dlsym(RTLD_DEFAULT, variable));
    if (path == nullptr || table == nullptr) {
        std::fprintf(stderr, "hosts_snmpsvc: %s not set, or no libwrap loaded\n", environment);
        return false;
    }
    *table = const_cast<char *>(path);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (!SetLibwrapPath("hosts_allow_table", "SNMPSVC_TEST_HOSTS_ALLOW") ||
        !SetLibwrapPath("hosts_deny_table", "SNMPSVC_TEST_HOSTS_DENY")) {
        return 2;
    }
    return snmpsvc::Main(argc, argv);
}
