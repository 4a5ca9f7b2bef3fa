// Win32 paths on Linux.
//
// The system joins paths with a backslash ("%s\HOSTDEV.DLL"); the platform's
// file and process calls take '\' as a separator, so "/home/me/build" +
// "\HOSTDEV.DLL" names /home/me/build/HOSTDEV.DLL.
#ifndef PLATFORM_PATHS_H
#define PLATFORM_PATHS_H

#include <string>

namespace nt {

// path with every '\' turned into '/'.
std::string LinuxPath(const std::string &path);

// The folder part of a Linux path ("." when it has none, "/" for a file at
// the top) and its last component.
std::string DirectoryOf(const std::string &path);
std::string BaseNameOf(const std::string &path);

// The system directory: the NT root's Windows/System32.
std::string SystemDirectoryPath();
// %SystemRoot%: the NT root's Windows folder.
std::string WindowsDirectoryPath();

}  // namespace nt

#endif  // PLATFORM_PATHS_H
