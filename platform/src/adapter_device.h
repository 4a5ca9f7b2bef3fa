// What stands behind an open adapter handle: something that answers the
// NDIS global-statistics query.
#ifndef PLATFORM_ADAPTER_DEVICE_H
#define PLATFORM_ADAPTER_DEVICE_H

#include <cstdint>

#include "handles.h"

namespace nt {

class AdapterDevice : public KernelObject {
public:
    // ERROR_SUCCESS with *value, or the Win32 error of the failed query:
    // ERROR_NOT_SUPPORTED for a statistic the adapter cannot give,
    // ERROR_DEV_NOT_EXIST for an adapter that has gone.
    virtual DWORD QueryStatistic(DWORD statistic, uint32_t *value) = 0;
};

}  // namespace nt

#endif  // PLATFORM_ADAPTER_DEVICE_H
