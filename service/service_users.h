// SNMPv3 users of the service: `snmpsvc user add|list|del`.
//
// A user is two lines of ROOT/snmp/snmpsvc.conf, the service's own Net-SNMP
// configuration, which the library reads at every start (and reload):
//
//   usmUser 1 5 0xENGINEID 0xNAME00 0xNAME00 .0.0 AUTH-OID 0xAUTHKEY PRIV-OID 0xPRIVKEY 0x
//   rouser NAME authPriv
//
// The usmUser line is the library's own way of keeping a user: its keys are
// localised to this engine's ID (generate_Ku, then generate_kul and, for the
// longer AES keys, netsnmp_extend_kul), so no pass phrase is kept anywhere.
// Storage type 5 (readOnly) keeps the library from copying the user into its
// persistent file, so that a user deleted here stays deleted. rouser grants
// read access to everything the service serves, only with authentication and
// privacy.
//
// Keys localised to an engine ID are good only for that ID, so the first
// `user add` pins the service's engine ID with an "exactEngineID" line in
// the same file: the ID the service used so far (the library's persisted
// oldEngineID) when there is one, else a new random one in the library's
// own format. It no longer changes when the persistent folder is lost.
//
// Lines "createUser NAME ..." written by earlier versions (which kept the
// pass phrases) are still listed and deleted.
//
// Every change reads, changes and writes the file under an exclusive lock
// (flock on ROOT/snmp/.snmpsvc.conf.lock) and writes a new owner-only (0600)
// file that replaces the old one whole, so concurrent commands never lose
// each other's users and a failure leaves the old file.
#ifndef SERVICE_SERVICE_USERS_H
#define SERVICE_SERVICE_USERS_H

#include <string>
#include <vector>

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

// The files of a root's users: ROOT/snmp/snmpsvc.conf and the library's
// persistent file ROOT/snmp/persist/snmpsvc.conf.
struct UserFiles {
    std::string config;
    std::string persistent;
};
UserFiles UserFilesOf(const std::string &root);

// Adds the user (config made when missing, mode 0600 either way). False with
// *error when the user exists already or the file cannot be written; the
// file is then as it was.
bool AddUser(const UserFiles &files, const UserSpec &spec, std::string *error);

struct UserEntry {
    std::string name;
    std::string authProtocol;  // as CheckUser spells it, else the OID
    std::string privProtocol;
    std::string access;  // "authPriv (read-only)", or "none" without a rouser line
    std::string note;    // why the entry needs care, or ""
};

// The users of the configuration, in file order. False with *error when the
// file exists but cannot be read; no file is no user.
bool ListUsers(const UserFiles &files, std::vector<UserEntry> *users, std::string *error);

// Deletes every line of the user (its key line, its access lines) from the
// configuration, and the library's persisted copy of a user that an
// earlier version made. False with *error when there is no such user or a
// file cannot be written; the files are then as they were.
bool DeleteUser(const UserFiles &files, const std::string &name, std::string *error);

}  // namespace snmpsvc

#endif  // SERVICE_SERVICE_USERS_H
