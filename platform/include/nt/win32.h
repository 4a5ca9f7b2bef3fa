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
 * adapter that has gone (or whose file cannot be read) with
 * ERROR_DEV_NOT_EXIST, a malformed line or counter with ERROR_INVALID_DATA,
 * an adapter whose entry is no regular file or is too large with
 * ERROR_GEN_FAILURE, at once; any other control code with
 * ERROR_INVALID_FUNCTION. Overlapped I/O is not supported.
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

/* ---- Registry. -------------------------------------------------------------
 * HKEY_LOCAL_MACHINE lives in the NT root's registry.db (SQLite, WAL,
 * synchronous=FULL, a busy timeout; every write is one BEGIN IMMEDIATE
 * transaction, so it happens whole or not at all, and a process killed in
 * the middle of a write loses no committed value). Key and value names
 * compare without regard to case and keep the case they were created with.
 * Values keep their type and their exact bytes: a trailing NUL is stored
 * when the size passed counts it. Results are Win32 error codes
 * (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MORE_DATA,
 * ERROR_NO_MORE_ITEMS, ...); a key opened without KEY_SET_VALUE or
 * KEY_CREATE_SUB_KEY cannot be written through (ERROR_ACCESS_DENIED). An
 * open key handle names its key; a key deleted under it makes later calls
 * on it fail with ERROR_KEY_DELETED.
 */
typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0x0000
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define ERROR_BADDB 1009
#define ERROR_CANTOPEN 1011
#define ERROR_CANTREAD 1012
#define ERROR_CANTWRITE 1013
#define ERROR_REGISTRY_IO_FAILED 1016
#define ERROR_KEY_DELETED 1018
#define ERROR_KEY_HAS_CHILDREN 1020
#define ERROR_BUSY 170

typedef struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

NTAPI LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
NTAPI LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                           REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                           LPDWORD disposition);
NTAPI LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE *data,
                          DWORD size);
NTAPI LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE *data,
                            LPDWORD size);
NTAPI LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                         LPDWORD reserved, LPDWORD type, BYTE *data, LPDWORD dataSize);
NTAPI LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                         LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);
NTAPI LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
/* Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has, as
 * on NT); RegDeleteTreeA deletes a key with everything below it. */
NTAPI LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
NTAPI LONG RegDeleteTreeA(HKEY key, LPCSTR subKey);
NTAPI LONG RegCloseKey(HKEY key);

/* ---- Environment. ---------------------------------------------------------
 * Expands %NAME% references from the environment; %SystemRoot% (any case)
 * is the NT root's Windows folder and %windir% the same. Returns the size
 * the result needs, its NUL counted (the result is written only when it
 * fits), or 0 on failure. */
NTAPI DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);

/* ---- Files and directories. -----------------------------------------------
 * Paths may use '\' as a separator: "/home/me/build\HOSTDEV.DLL" names
 * /home/me/build/HOSTDEV.DLL. The directory queries return the length of
 * the path written (its NUL not counted), or, when the buffer is too small,
 * the size needed with its NUL (and write nothing), or 0 on failure. The
 * system directory is the NT root's Windows/System32.
 *
 * CopyFileA replaces an existing target only with a whole copy: the data is
 * written to a new file beside the target and renamed over it, so a process
 * that has the old file open or mapped keeps it. failIfExists makes an
 * existing target an error (ERROR_FILE_EXISTS).
 */
#define MAX_PATH 260

NTAPI DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
NTAPI UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
NTAPI UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
NTAPI BOOL CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists);

/* ---- The system's version: always Windows NT. ---------------------------
 * GetVersionExA reports NT 4.0 (build 1381) to a record whose size field is
 * 148, and fails with ERROR_INSUFFICIENT_BUFFER for any other size. Tests
 * may set NTPLATFORM_PLATFORM_ID to 0 or 1 to see a platform other than NT.
 */
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize; /* set to sizeof(OSVERSIONINFOA), 148, before the call */
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

NTAPI BOOL GetVersionExA(LPOSVERSIONINFOA info);

/* ---- Formatting. -----------------------------------------------------------
 * wsprintfA writes at most 1024 bytes, its NUL counted, as on NT, and
 * returns the number of characters written without the NUL. */
NTAPI int wsprintfA(LPSTR buffer, LPCSTR format, ...) __attribute__((format(printf, 2, 3)));

/* ---- Processes. --------------------------------------------------------------
 * CreateProcessA finds a command given without a path as NT does: the
 * application's folder, the current folder, the system directory, then
 * PATH, trying the name as given and with ".EXE", matching names without
 * regard to case. CREATE_NEW_CONSOLE gives the child the terminal (setup
 * waits meanwhile); DETACHED_PROCESS gives it none. The process handle can
 * be waited on; both handles are closed with CloseHandle.
 */
#define DETACHED_PROCESS 0x00000008
#define CREATE_NEW_CONSOLE 0x00000010
#define NORMAL_PRIORITY_CLASS 0x00000020
#define CREATE_NEW_PROCESS_GROUP 0x00000200
#define CREATE_NO_WINDOW 0x08000000

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259

typedef struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE *lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

NTAPI BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                          LPSECURITY_ATTRIBUTES processSecurity,
                          LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles,
                          DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                          LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation);
NTAPI DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
NTAPI BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);

#ifdef __cplusplus
}
#endif

#endif /* NT_WIN32_H */
