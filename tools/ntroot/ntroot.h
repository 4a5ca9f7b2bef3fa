// The root tool `ntroot`: makes an NT root and looks after what is in it.
//
// The program is a thin main over this library, which the tests link: Run
// takes the arguments after the program name and writes what it has to say
// to out (meant for a person) and every refusal as one line on err.
#ifndef TOOLS_NTROOT_NTROOT_H
#define TOOLS_NTROOT_NTROOT_H

#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"

namespace ntroot {

// Exit statuses: those of every tool (command_line.h).
constexpr int kSuccess = cli::kSuccess;
constexpr int kFailure = cli::kFailure;
constexpr int kUsage = cli::kUsage;

// Runs one ntroot command. `--root DIR` sets $NTROOT for the process, so
// that the platform's calls made afterwards in this process act on DIR.
int Run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_NTROOT_H
