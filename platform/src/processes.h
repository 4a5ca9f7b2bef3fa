// The pieces of CreateProcessA that tests check on their own.
#ifndef PLATFORM_PROCESSES_H
#define PLATFORM_PROCESSES_H

#include <string>
#include <vector>

#include "nt/ntroot.h"
#include "nt/wintypes.h"

namespace nt {

// A command line split into arguments as NT's C runtime splits it: spaces
// and tabs separate; double quotes group and are removed; 2n backslashes
// before a quote give n backslashes and the quote groups, 2n+1 give n and
// a literal quote; "" inside quotes is a literal quote; other backslashes
// are literal. The program name (the first argument) ends at the closing
// quote when it starts with one, else at the first space or tab, and keeps
// every backslash.
NT_EXPORT std::vector<std::string> SplitCommandLine(const std::string &commandLine);

// The file that runs for a command name, found as NT finds it, or empty
// (with *error set to a Win32 code). A name with a folder in it ('/' or
// '\') is taken relative to the current folder. A bare name is looked for
// in the folder of the running program, the current folder, the system
// directory, then each folder of PATH; in each, the name as given and then,
// when it has no extension, with ".EXE", matched without regard to case
// (an exact match first). Only an executable regular file counts.
NT_EXPORT std::string FindCommand(const std::string &name, DWORD *error);

}  // namespace nt

#endif  // PLATFORM_PROCESSES_H
