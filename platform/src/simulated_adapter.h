// Simulated adapters: a regular file in the NT root's Device folder that
// stands for an adapter's driver.
//
// The file's format and its parser: nt/simulated_adapter_file.h.
//
// The file is read at every query, so it may be changed while a service
// reads it: rewritten in place, renamed over or removed, the next query
// answers from what the entry holds then. The adapter keeps the file open
// and reads it with pread; a stat of the entry at each query tells that
// another file has taken its name. An entry that is not a regular file, or
// holds more than DeviceFileCap bytes, fails the query at once.
#ifndef PLATFORM_SIMULATED_ADAPTER_H
#define PLATFORM_SIMULATED_ADAPTER_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "adapter_device.h"
#include "nt/simulated_adapter_file.h"
#include "nt/wintypes.h"

namespace nt {

// The statistic's value from the file's text: ERROR_SUCCESS with *value;
// ERROR_NOT_SUPPORTED when no line names it; ERROR_INVALID_DATA when the
// line that counts for it is malformed. A malformed line that names no
// statistic one can read affects nothing. When badLine is given, it gets
// the number (from 1) of the malformed line that counts.
DWORD FindStatistic(std::string_view text, DWORD statistic, uint32_t *value,
                    size_t *badLine = nullptr);

// The simulated adapter whose Device entry is path, for the kernel device
// name ("\Device\Vxlnk1"). Null with *error when the entry cannot be read
// as one now.
std::shared_ptr<AdapterDevice> OpenSimulatedAdapter(const std::string &path,
                                                    const std::string &name, DWORD *error);

}  // namespace nt

#endif  // PLATFORM_SIMULATED_ADAPTER_H
