// NET: service control in the manner of NT's NET command. See net_command.h.
#include "net_command.h"

int main(int argc, char **argv) { return net::Main(argc, argv); }
