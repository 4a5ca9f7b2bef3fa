// Simulated adapter files, as ntroot writes and changes them.
//
// A simulated adapter is a regular file in Device, read by the platform at
// every query: one statistic a line, "IDENTIFIER VALUE" (decimal, or
// hexadecimal with 0x), '#' starting a comment, blank lines allowed; when a
// statistic is on several lines the last one counts, and when that line is
// malformed the statistic's query fails. A line whose first word is no
// identifier names nothing and is left alone by everyone.
//
// ntroot never writes such a file in place: the new text goes to a
// temporary file beside it, which is then renamed over it, so that an agent
// reading at the same moment sees the old file or the new one, whole.
#ifndef TOOLS_NTROOT_SIMULATED_FILE_H
#define TOOLS_NTROOT_SIMULATED_FILE_H

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

#include "adapter_statistics.h"

namespace ntroot {

// The text of a new simulated adapter named name: every one of the 11
// statistics at 0, except those settings give, then any other identifiers
// of settings, in the order given.
std::string NewSimulatedFile(const std::string &name, const std::vector<CounterSetting> &settings);

// text with the settings made: every line that names a setting's statistic
// gets the new value in place of its old one (or of whatever malformed
// words followed the identifier), keeping its spelling of the identifier,
// its spacing and its comment; a statistic no line names is appended. Every
// other line stays byte for byte. *appended counts the appended lines.
std::string EditSimulatedFile(const std::string &text, const std::vector<CounterSetting> &settings,
                              size_t *appended);

// Reads the whole regular file (at most 1 MiB, never waiting on a FIFO);
// false with *error (the reason) when it cannot.
bool ReadWholeFile(const std::string &path, std::string *text, std::string *error);

// Puts text in folder/name whole: written to a temporary file in folder
// (".NAME.ntroot-XXXXXX", locked while it is written: nt/ntroot.h), flushed,
// given mode, then renamed to name. Temporaries that killed writers left in
// folder are removed first. With replace false, an entry
// already named name (made meanwhile) is not replaced: false with *error.
// False with *error, one phrase, on any failure, and the temporary file is
// gone then.
bool WriteFileWhole(const std::string &folder, const std::string &name, const std::string &text,
                    mode_t mode, bool replace, std::string *error);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_SIMULATED_FILE_H
