// A scriptable fake of the platform calls the agents make.
//
// The agent code under test links against this instead of libntplatform.so,
// so a test can make any platform result fail on purpose (an alias that
// cannot be defined, a device that does not open, a driver that does not
// answer, an allocation that fails) and can see every call the agent made.
// It also counts the global-heap blocks that are still live, so a test can
// prove that a query left nothing allocated beyond what it handed over.
#ifndef TESTS_AGENTS_FAKE_PLATFORM_H
#define TESTS_AGENTS_FAKE_PLATFORM_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "nt/win32.h"

namespace fake {

struct Device {
    bool defineFails = false;           // DefineDosDeviceA refuses an alias to it
    bool opens = true;                  // CreateFileA through an alias to it succeeds
    std::map<DWORD, DWORD> statistics;  // what the driver answers; others fail
};

struct DefineCall {
    DWORD flags;
    std::string name;
    std::string target;  // "" for a NULL target
    BOOL result;
};

struct OpenCall {
    std::string path;
    DWORD access, share, disposition, flags;
    bool security, templateFile;
};

struct IoctlCall {
    HANDLE device;
    DWORD code;
    DWORD statistic;
    DWORD inSize, outSize;
    bool overlapped;
};

struct Event {
    std::string source;
    WORD type, category;
    DWORD id;
    std::vector<std::string> strings;
};

struct Platform {
    // Scripting. Kernel devices by name ("\Device\Vxlnk1"); a name that is
    // not here cannot be opened, but can be aliased.
    std::map<std::string, Device> devices;
    // 1-based numbers of the global-heap calls (GlobalAlloc and
    // GlobalReAlloc counted together) and of the process-heap allocations
    // that fail.
    std::set<int> failGlobalCalls;
    bool failAllGlobalCalls = false;
    std::set<int> failHeapCalls;
    bool registerFails = false;
    std::set<int> failReportCalls;  // 1-based ReportEventA calls that fail

    // What happened.
    int globalCalls = 0;
    int heapCalls = 0;
    int reportCalls = 0;
    std::vector<DefineCall> defines;
    std::vector<OpenCall> opens;
    std::vector<IoctlCall> ioctls;
    std::vector<HANDLE> closed;
    std::vector<Event> events;
    int registered = 0, deregistered = 0;
    int badFrees = 0;  // GlobalFree of an unknown block
    std::map<void *, SIZE_T> liveGlobalBlocks;
    std::set<void *> liveHeapBlocks;
    std::map<std::string, std::vector<std::string>> aliases;  // name -> targets
    std::map<HANDLE, std::string> openDevices;                // handle -> device

    // The aliases still defined (names with at least one target).
    std::vector<std::string> DefinedAliases() const;
    // Driver queries made for a statistic, or in all.
    size_t QueriesFor(DWORD statistic) const;
};

// The one fake platform of the test process.
Platform &P();

// Releases every block still live and resets all script and record.
void Reset();

}  // namespace fake

#endif  // TESTS_AGENTS_FAKE_PLATFORM_H
