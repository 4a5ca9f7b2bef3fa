// The snmpsvc command line: `snmpsvc install` and `snmpsvc run`.
#ifndef SERVICE_SNMPSVC_COMMAND_H
#define SERVICE_SNMPSVC_COMMAND_H

namespace snmpsvc {

// Runs the command; the process's exit status (0 done, 1 failed, 2 a wrong
// command line).
int Main(int argc, char **argv);

}  // namespace snmpsvc

#endif  // SERVICE_SNMPSVC_COMMAND_H
