// SNMPv3 users of the service: `snmpsvc user add`.
//
// A user is two lines of ROOT/snmp/snmpsvc.conf, the service's own Net-SNMP
// configuration, which the library reads at every start:
//
//   createUser NAME SHA-256 "auth pass phrase" AES "privacy pass phrase"
//   rouser NAME authPriv
//
// createUser makes the user (keys derived from the pass phrases and this
// engine's ID) each time the service starts, so the user survives restarts
// and a new engine ID alike; rouser grants it read access to everything the
// service serves, only with authentication and privacy. Because the file
// holds pass phrases it is kept at mode 0600 (owner only): every write goes
// to a new 0600 file that then replaces the old one whole.
//
// Users are authPriv only: SHA-1/SHA-2 authentication with AES privacy.
// Pass phrases have at least 8 characters (the library's own minimum) and
// hold no double quote, backslash or control character (they are written
// quoted on one line). The running service reads the file when it starts:
// a new user takes effect at the next start.
#ifndef SERVICE_SERVICE_USERS_H
#define SERVICE_SERVICE_USERS_H

#include <string>

namespace snmpsvc {

struct UserSpec {
    std::string name;
    std::string authProtocol = "SHA-256";  // SHA, SHA-224, SHA-256, SHA-384, SHA-512
    std::string authPass;
    std::string privProtocol = "AES";  // AES (128-bit), AES-192, AES-256
    std::string privPass;
};

// Checks spec and turns its protocol names into their canonical spelling.
// False with *error (one line) when something is not acceptable.
bool CheckUser(UserSpec *spec, std::string *error);

// Adds the user to configPath (ROOT/snmp/snmpsvc.conf; made when missing,
// mode 0600 either way). False with *error when the user exists already or
// the file cannot be written; the file is then as it was.
bool AddUser(const std::string &configPath, const UserSpec &spec, std::string *error);

}  // namespace snmpsvc

#endif  // SERVICE_SERVICE_USERS_H
