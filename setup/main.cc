// mibsetup: installs the Veltrix SNMP extension agents (see setup_app.h).
#include "setup_app.h"

// The one application object, constructed before main as the framework needs.
CSetupApp theApp;

int main(int argc, char **argv) { return SetupMain(argc, argv); }
