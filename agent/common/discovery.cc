// Adapter discovery; see discovery.h.
#include "discovery.h"

#include <cstring>

const char *const DeviceNameTable[DeviceNameCount + 1] = {
    "\\Device\\Vxlnk1",  "\\Device\\Vxlnk2",  "\\Device\\Vxlnk3",  "\\Device\\Vxlnk4",
    "\\Device\\Vxlnk5",  "\\Device\\Vxlnk6",  "\\Device\\Vxlnk7",  "\\Device\\Vxlnk8",
    "\\Device\\Vxlnk9",  "\\Device\\Vxpci1",  "\\Device\\Vxpci2",  "\\Device\\Vxpci3",
    "\\Device\\Vxpci4",  "\\Device\\Vxpci5",  "\\Device\\Vxpci6",  "\\Device\\Vxpci7",
    "\\Device\\Vxpci8",  "\\Device\\Vxpci9",  "\\Device\\Vxpci_1", "\\Device\\Vxpci_2",
    "\\Device\\Vxpci_3", "\\Device\\Vxpci_4", "\\Device\\Vxpci_5", "\\Device\\Vxpci_6",
    "\\Device\\Vxpci_7", "\\Device\\Vxpci_8", "\\Device\\Vxpci_9", nullptr,
};

UINT ProbePosition = 0;
char AdapterAlias[13] = "SNMPAdapter1";
char AdapterPath[17] = "\\\\.\\SNMPAdapter1";
AdapterSlot AdapterTable[AdapterTableSize];
UINT AdapterCount = 0;

UINT DiscoverAdapters() {
    for (; DeviceNameTable[ProbePosition] != nullptr; ++ProbePosition) {
        if (DefineDosDeviceA(DDD_RAW_TARGET_PATH, AdapterAlias, DeviceNameTable[ProbePosition]) !=
            TRUE) {
            continue;
        }
        HANDLE device = CreateFileA(AdapterPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, AdapterAlias, nullptr);
            continue;
        }
        if (AdapterCount == AdapterTableSize) {
            // No slot is left for it: give the device and its alias back and
            // stop, since every later name could only meet the same fate.
            CloseHandle(device);
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, AdapterAlias, nullptr);
            while (DeviceNameTable[ProbePosition] != nullptr) {
                ++ProbePosition;
            }
            break;
        }
        AdapterTable[AdapterCount].handle = device;
        std::memcpy(AdapterTable[AdapterCount].alias, AdapterAlias, sizeof AdapterAlias);
        ++AdapterCount;
        ++AdapterAlias[AdapterAliasSuffix];
        ++AdapterPath[AdapterPathSuffix];
    }
    return AdapterCount == 0 ? 1 : 0;
}
