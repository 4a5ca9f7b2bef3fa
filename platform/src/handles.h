// The process's handle table: what stands behind a HANDLE.
//
// Every object a Win32 call hands out as a HANDLE (an open device, an event
// source, a process or a thread) is a KernelObject held in this table
// until CloseHandle (or its own release call) takes it out. Handle values
// are multiples of 4 and are not reused, so a stale handle never names a
// newer object. The table is safe to use from several threads.
#ifndef PLATFORM_HANDLES_H
#define PLATFORM_HANDLES_H

#include <memory>

#include "nt/wintypes.h"

namespace nt {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind handle, or null when it names none.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Takes the handle out of the table; false when it names nothing.
bool RemoveHandle(HANDLE handle);

}  // namespace nt

#endif  // PLATFORM_HANDLES_H
