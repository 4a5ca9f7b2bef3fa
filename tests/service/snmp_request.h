// One SNMP request built with Net-SNMP's client library, for what the
// command-line clients will not send.
#ifndef TESTS_SERVICE_SNMP_REQUEST_H
#define TESTS_SERVICE_SNMP_REQUEST_H

#include <string>
#include <vector>

namespace servicetest {

// Sends an SNMPv2c GET (community "public") of names to 127.0.0.1:port
// and returns the response's error status, or -1 with *error when no
// response came.
int GetErrorStatus(int port, const std::vector<std::string> &names, std::string *error);

}  // namespace servicetest

#endif  // TESTS_SERVICE_SNMP_REQUEST_H
