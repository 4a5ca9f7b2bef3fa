// Win32 error codes in words; see nt/error_text.h.
#include "nt/error_text.h"

#include "nt/win32.h"

namespace nt {

std::string SystemMessage(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS: return "The operation completed successfully.";
        case ERROR_INVALID_FUNCTION: return "Incorrect function.";
        case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
        case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
        case ERROR_ACCESS_DENIED: return "Access is denied.";
        case ERROR_INVALID_HANDLE: return "The handle is invalid.";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough storage is available to process this command.";
        case ERROR_INVALID_ACCESS: return "The access code is invalid.";
        case ERROR_INVALID_DATA: return "The data is invalid.";
        case ERROR_OUTOFMEMORY:
            return "Not enough storage is available to complete this operation.";
        case ERROR_WRITE_PROTECT: return "The media is write protected.";
        case ERROR_GEN_FAILURE: return "A device attached to the system is not functioning.";
        case ERROR_NOT_SUPPORTED: return "The request is not supported.";
        case ERROR_DEV_NOT_EXIST:
            return "The specified network resource or device is no longer available.";
        case ERROR_FILE_EXISTS: return "The file exists.";
        case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
        case ERROR_INSUFFICIENT_BUFFER:
            return "The data area passed to a system call is too small.";
        case ERROR_INVALID_NAME:
            return "The filename, directory name, or volume label syntax is incorrect.";
        case ERROR_BUSY: return "The requested resource is in use.";
        case ERROR_BAD_EXE_FORMAT: return "The program is not a valid application.";
        case ERROR_MORE_DATA: return "More data is available.";
        case ERROR_NO_MORE_ITEMS: return "No more data is available.";
        case ERROR_BADDB: return "The configuration registry database is corrupt.";
        case ERROR_CANTOPEN: return "The configuration registry key could not be opened.";
        case ERROR_CANTREAD: return "The configuration registry key could not be read.";
        case ERROR_CANTWRITE: return "The configuration registry key could not be written.";
        case ERROR_REGISTRY_IO_FAILED: return "An I/O operation initiated by the registry failed.";
        case ERROR_KEY_DELETED:
            return "Illegal operation attempted on a registry key that has been marked for "
                   "deletion.";
        case ERROR_KEY_HAS_CHILDREN:
            return "Cannot create a symbolic link in a registry key that already has subkeys "
                   "or values.";
        default: return "";
    }
}

std::string ErrorText(DWORD code) {
    const std::string words = SystemMessage(code);
    const std::string number = "error " + std::to_string(code);
    return words.empty() ? number : words + " (" + number + ")";
}

}  // namespace nt
