/*
 * Basic types of the NT platform layer.
 *
 * The system was written against the Win32 API; these are the few scalar
 * types and constants its code uses, declared by us with the widths the
 * system relies on: 32-bit BOOL, UINT, DWORD and LONG, 8-bit BYTE, and a
 * pointer-sized HANDLE. Plain C so that a host written in C can include it.
 */
#ifndef NT_WINTYPES_H
#define NT_WINTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef void *HANDLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD *LPDWORD;
typedef size_t SIZE_T;

#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

/* Win32 error codes set by the platform's calls (GetLastError). */
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_ACCESS 12
#define ERROR_INVALID_DATA 13
#define ERROR_OUTOFMEMORY 14
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_NOT_SUPPORTED 50
#define ERROR_DEV_NOT_EXIST 55
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_BAD_EXE_FORMAT 193
#define ERROR_MORE_DATA 234
#define ERROR_NO_MORE_ITEMS 259

#ifdef __cplusplus
}
#endif

#endif /* NT_WINTYPES_H */
