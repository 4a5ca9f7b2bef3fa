// snmpsvc: the SNMP service. See snmpsvc_command.h.
#include "snmpsvc_command.h"

int main(int argc, char **argv) { return snmpsvc::Main(argc, argv); }
