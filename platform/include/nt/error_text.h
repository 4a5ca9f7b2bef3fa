// A Win32 error code in words: the one place every tool, the service and
// setup turn a code into text, in the manner of FormatMessageA with
// FORMAT_MESSAGE_FROM_SYSTEM.
#ifndef NT_ERROR_TEXT_H
#define NT_ERROR_TEXT_H

#include <string>

#include "nt/wintypes.h"

#define NT_EXPORT __attribute__((visibility("default")))

namespace nt {

// The system's sentence for code ("Access is denied."), or empty when the
// platform never gives that code and so has no words for it.
NT_EXPORT std::string SystemMessage(DWORD code);

// The sentence with its number, for one line of a message:
// "Access is denied. (error 5)"; "error N" alone for a code without words.
NT_EXPORT std::string ErrorText(DWORD code);

}  // namespace nt

#endif  // NT_ERROR_TEXT_H
