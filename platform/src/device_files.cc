// Device files: CreateFileA on "\\.\NAME" and DeviceIoControl on the result.
//
// "\\.\NAME" names a DOS device; its most recent raw target "\Device\X" is
// the kernel device X, which is the entry X of the NT root's Device folder.
// A regular file there is a simulated adapter (simulated_adapter.h); a
// folder, or a link to one, of a network interface's shape is a real
// adapter (interface_adapter.h). Either is read safely at every query
// (device_reads.h), and a change in whether it answers is logged once
// (adapter_health.h). Kernel
// object names are case-insensitive, so an entry whose name differs only in
// case is found too.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "adapter_device.h"
#include "dos_devices.h"
#include "errors.h"
#include "handles.h"
#include "interface_adapter.h"
#include "nt/ntroot.h"
#include "nt/win32.h"
#include "simulated_adapter.h"

namespace nt {

namespace {

bool StartsWithNoCase(const std::string &text, const char *prefix) {
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The path of the Device folder's entry for kernel device name, matched
// exactly or else without regard to case; empty when there is none.
std::string FindDeviceEntry(const std::string &name) {
    const std::string exact = DeviceFilePath(name);
    struct stat info;
    if (lstat(exact.c_str(), &info) == 0) {
        return exact;
    }
    const std::string folder = RootPath() + "/Device";
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    std::string found;
    while (struct dirent *entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = folder + "/" + entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

HANDLE Fail(DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

}  // namespace nt

extern "C" HANDLE CreateFileA(LPCSTR fileName, DWORD /*desiredAccess*/, DWORD /*shareMode*/,
                              LPSECURITY_ATTRIBUTES /*security*/, DWORD /*creationDisposition*/,
                              DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
    using namespace nt;
    if (fileName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::string path(fileName);
    if (path.compare(0, 4, "\\\\.\\") != 0) {
        // Only the device namespace is served here.
        return Fail(ERROR_NOT_SUPPORTED);
    }
    DosDeviceTarget target;
    if (!LookupDosDevice(path.substr(4), &target)) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    static const char DevicePrefix[] = "\\Device\\";
    if (!target.raw || !StartsWithNoCase(target.path, DevicePrefix)) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    const std::string name = target.path.substr(sizeof DevicePrefix - 1);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("\\/") != std::string::npos) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    const std::string entry = FindDeviceEntry(name);
    if (entry.empty()) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    struct stat info;
    if (stat(entry.c_str(), &info) != 0) {
        SetLastErrorFromErrno(errno, "stat", entry);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(entry.c_str(), resolved) == nullptr) {
            SetLastErrorFromErrno(errno, "realpath", entry);
            return INVALID_HANDLE_VALUE;
        }
        DWORD error = ERROR_SUCCESS;
        auto adapter = OpenInterfaceAdapter(entry, resolved, "\\Device\\" + name, &error);
        if (adapter == nullptr) {
            return Fail(error);
        }
        return InsertHandle(adapter);
    }
    if (!S_ISREG(info.st_mode)) {
        Trace("CreateFileA(%s): %s is not an adapter this platform can open", fileName,
              entry.c_str());
        return Fail(ERROR_NOT_SUPPORTED);
    }
    // The driver is asked through the file, so the caller must be able to
    // read it: the open reads it now rather than at the first query.
    DWORD error = ERROR_SUCCESS;
    auto adapter = OpenSimulatedAdapter(entry, "\\Device\\" + name, &error);
    if (adapter == nullptr) {
        return Fail(error);
    }
    return InsertHandle(adapter);
}

extern "C" BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inSize,
                                LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                                LPOVERLAPPED overlapped) {
    using namespace nt;
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    auto adapter = LookupHandleAs<AdapterDevice>(device);
    if (adapter == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (controlCode != IOCTL_NDIS_QUERY_GLOBAL_STATS) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (inBuffer == nullptr || inSize < sizeof(DWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (outBuffer == nullptr || outSize < sizeof(uint32_t)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD statistic;
    std::memcpy(&statistic, inBuffer, sizeof statistic);
    uint32_t value = 0;
    const DWORD answer = adapter->QueryStatistic(statistic, &value);
    if (answer != ERROR_SUCCESS) {
        SetLastError(answer);
        return FALSE;
    }
    std::memcpy(outBuffer, &value, sizeof value);
    if (bytesReturned != nullptr) {
        *bytesReturned = sizeof value;
    }
    return TRUE;
}
