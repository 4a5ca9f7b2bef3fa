/*
 * The Win32 calls of the NT platform layer.
 *
 * libntplatform.so stands in for the NT system libraries: one copy per
 * process, so that every agent loaded into a host shares one global heap,
 * one last-error code per thread and one table of DOS devices, as on NT.
 * Each call keeps the NT contract the system relies on (arguments, results,
 * the last-error code on failure); where Linux has no counterpart the
 * comment says what stands in its place. Plain C.
 */
#ifndef NT_WIN32_H
#define NT_WIN32_H

#include "nt/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NTAPI __attribute__((visibility("default")))

/* ---- Last-error code: one per thread. ---------------------------------- */

NTAPI DWORD GetLastError(void);
NTAPI void SetLastError(DWORD code);

/* ---- Global heap. --------------------------------------------------------
 * Blocks never move: GMEM_MOVEABLE is accepted and the address is the
 * handle. GMEM_ZEROINIT zero-fills a new block and, on GlobalReAlloc, the
 * bytes added at its end. A failed GlobalReAlloc leaves the block as it
 * was. GlobalFree returns NULL on success and the block otherwise. A host
 * releases the names that agents hand it with GlobalFree.
 */
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

typedef HANDLE HGLOBAL;

NTAPI HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
NTAPI HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);
NTAPI HGLOBAL GlobalFree(HGLOBAL block);
NTAPI SIZE_T GlobalSize(HGLOBAL block);

/* ---- Process heap: the general-purpose heap of small records. ---------- */

#define HEAP_ZERO_MEMORY 0x00000008

NTAPI HANDLE GetProcessHeap(void);
NTAPI LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
NTAPI BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

/* ---- Handles. ----------------------------------------------------------- */

NTAPI BOOL CloseHandle(HANDLE object);

/* ---- DOS devices and device files. --------------------------------------
 * DefineDosDeviceA keeps the process's table of DOS device names; each name
 * holds a stack of targets. Defining pushes a target; DDD_REMOVE_DEFINITION
 * with a NULL target pops the most recent one (FALSE, ERROR_FILE_NOT_FOUND,
 * when there is none). With DDD_RAW_TARGET_PATH the target is a kernel
 * object path such as "\Device\Vxlnk1".
 *
 * CreateFileA opens "\\.\NAME" by resolving NAME's most recent target. A
 * kernel device "\Device\X" is the entry X of the NT root's Device folder:
 * a regular file there is a simulated adapter. A device is never truncated
 * or created by the open, whatever the creation disposition; share modes
 * are not enforced, as NDIS drivers allow several opens of one adapter.
 */
#define DDD_RAW_TARGET_PATH 0x00000001
#define DDD_REMOVE_DEFINITION 0x00000002
#define DDD_EXACT_MATCH_ON_REMOVE 0x00000004
#define DDD_NO_BROADCAST_SYSTEM 0x00000008

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

typedef struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

NTAPI BOOL DefineDosDeviceA(DWORD flags, LPCSTR deviceName, LPCSTR targetPath);
NTAPI HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                         LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                         DWORD flagsAndAttributes, HANDLE templateFile);

/*
 * DeviceIoControl on an adapter answers IOCTL_NDIS_QUERY_GLOBAL_STATS: a
 * 4-byte statistic identifier in, its 32-bit value out (4 bytes). A
 * statistic the adapter does not keep fails with ERROR_NOT_SUPPORTED, an
 * adapter that has gone with ERROR_DEV_NOT_EXIST, any other control code
 * with ERROR_INVALID_FUNCTION. Overlapped I/O is not supported.
 */
#define IOCTL_NDIS_QUERY_GLOBAL_STATS 0x00170002u

NTAPI BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inSize,
                           LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                           LPOVERLAPPED overlapped);

/* ---- Event log. ------------------------------------------------------------
 * Events go to the system log (the syslog socket, /dev/log), one record
 * each, tagged with the source name and carrying the event identifier:
 * "SNMP[pid]: event 1999: text". NT_SYSLOG_SOCKET names another socket.
 */
#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010

typedef void *PSID;

NTAPI HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);
NTAPI BOOL ReportEventA(HANDLE eventSource, WORD type, WORD category, DWORD eventId, PSID user,
                        WORD numStrings, DWORD rawDataSize, LPCSTR *strings, LPVOID rawData);
NTAPI BOOL DeregisterEventSource(HANDLE eventSource);

#ifdef __cplusplus
}
#endif

#endif /* NT_WIN32_H */
