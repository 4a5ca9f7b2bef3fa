// SNMPv3 users in the service's configuration; see service_users.h.
#include "service_users.h"

// The library's headers need its configuration first.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/keytools.h>
#include <net-snmp/library/scapi.h>
#include <net-snmp/library/transform_oids.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <strings.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snmpsvc {

namespace {

constexpr size_t MinPassLength = 8;    // the library refuses shorter ones
constexpr size_t MaxPassLength = 255;  // keeps a line well inside the reader's buffer
constexpr size_t MaxNameLength = 32;   // SnmpAdminString of usmUserName
constexpr size_t KeyBufferSize = 64;   // a SHA-512 key, the longest

// Storage type readOnly(5): the library never copies the user into its
// persistent file, and SNMP SETs cannot change it.
constexpr int ReadOnlyStorage = 5;

struct Protocol {
    const char *name;
    const oid *id;
    size_t length;
};

const Protocol AuthProtocols[] = {
    {"SHA", usmHMACSHA1AuthProtocol, OID_LENGTH(usmHMACSHA1AuthProtocol)},
    {"SHA-224", usmHMAC128SHA224AuthProtocol, OID_LENGTH(usmHMAC128SHA224AuthProtocol)},
    {"SHA-256", usmHMAC192SHA256AuthProtocol, OID_LENGTH(usmHMAC192SHA256AuthProtocol)},
    {"SHA-384", usmHMAC256SHA384AuthProtocol, OID_LENGTH(usmHMAC256SHA384AuthProtocol)},
    {"SHA-512", usmHMAC384SHA512AuthProtocol, OID_LENGTH(usmHMAC384SHA512AuthProtocol)},
};

const Protocol PrivProtocols[] = {
    {"AES", usmAESPrivProtocol, OID_LENGTH(usmAESPrivProtocol)},
    {"AES-192", usmAES192PrivProtocol, OID_LENGTH(usmAES192PrivProtocol)},
    {"AES-256", usmAES256PrivProtocol, OID_LENGTH(usmAES256PrivProtocol)},
};

template <size_t N>
const Protocol *ByName(const Protocol (&table)[N], const std::string &name) {
    for (const Protocol &protocol : table) {
        if (strcasecmp(name.c_str(), protocol.name) == 0) {
            return &protocol;
        }
    }
    return nullptr;
}

std::string OidText(const oid *id, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += "." + std::to_string(id[i]);
    }
    return text;
}

// The protocol's name for an OID as the line writes it, else the OID.
template <size_t N>
std::string NameOfOid(const Protocol (&table)[N], const std::string &text) {
    for (const Protocol &protocol : table) {
        if (OidText(protocol.id, protocol.length) == text) {
            return protocol.name;
        }
    }
    return text;
}

std::string Hex(const unsigned char *data, size_t length) {
    static const char Digits[] = "0123456789abcdef";
    std::string text = "0x";
    for (size_t i = 0; i < length; ++i) {
        text += Digits[data[i] >> 4];
        text += Digits[data[i] & 15];
    }
    return text;
}

// An octet string as the library writes one: 0xHEX, or "text".
bool ParseOctets(const std::string &word, std::string *bytes) {
    bytes->clear();
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
        *bytes = word.substr(1, word.size() - 2);
        return true;
    }
    if (word.compare(0, 2, "0x") != 0 && word.compare(0, 2, "0X") != 0) {
        return false;
    }
    if (word.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 2; i < word.size(); i += 2) {
        const std::string pair = word.substr(i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            return false;
        }
        bytes->push_back(static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16)));
    }
    return true;
}

std::vector<std::string> Words(const std::string &line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}

// The user a usmUser line keeps: its name without the trailing NUL the
// library writes.
bool UsmUserName(const std::vector<std::string> &words, std::string *name) {
    if (words.size() < 11 || words[0] != "usmUser" || !ParseOctets(words[4], name)) {
        return false;
    }
    while (!name->empty() && name->back() == '\0') {
        name->pop_back();
    }
    return true;
}

// Whether line is one of the user's lines in the configuration.
bool LineOfUser(const std::string &line, const std::string &name) {
    const std::vector<std::string> words = Words(line);
    if (words.size() >= 2 &&
        (words[0] == "createUser" || words[0] == "rouser" || words[0] == "rwuser") &&
        words[1] == name) {
        return true;
    }
    std::string user;
    return UsmUserName(words, &user) && user == name;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) {
        text += line + "\n";
    }
    return text;
}

// Reads path whole; a missing file reads as empty with *exists false.
bool ReadText(const std::string &path, std::string *text, bool *exists, std::string *error) {
    text->clear();
    *exists = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    *exists = true;
    char buffer[8192];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            *error = "cannot read " + path + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        text->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

std::string FolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// Gives a file that root makes in the service's folders to the owner of
// like (the file it replaces, or the folder), so that an administrator's
// command run as root never leaves the service a file it cannot read.
// Others cannot change owners and need not.
void GiveOwnerOf(int fd, const std::string &like) {
    struct stat info;
    if (geteuid() != 0 || lstat(like.c_str(), &info) != 0) {
        return;
    }
    (void)!fchown(fd, info.st_uid, info.st_gid);
}

// Writes text to a new owner-only file beside path that then replaces path
// whole: readers see the old file or the new one, never half of one.
bool ReplaceWhole(const std::string &path, const std::string &text, std::string *error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);  // mode 0600
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat old;
    GiveOwnerOf(fd, lstat(path.c_str(), &old) == 0 ? path : FolderOf(path));
    size_t done = 0;
    bool written = true;
    while (written && done < text.size()) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        written = put > 0;
        done += written ? static_cast<size_t>(put) : 0;
    }
    int err = written ? 0 : errno;
    if (written && fsync(fd) != 0) {
        written = false;
        err = errno;
    }
    if (close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (written && rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        err = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        *error = "cannot write " + path + ": " + std::strerror(err != 0 ? err : EIO);
        return false;
    }
    return true;
}

// An exclusive lock on the folder's lock file, held for a whole
// read-change-write of the users' files.
class UsersLock {
public:
    explicit UsersLock(const std::string &config) {
        const std::string path = FolderOf(config) + "/.snmpsvc.conf.lock";
        // Read-only is enough for flock, so whoever made the file first,
        // every later user of the folder can still take the lock.
        fd_ = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = "cannot lock " + path + ": " + std::strerror(errno);
            return;
        }
        GiveOwnerOf(fd_, FolderOf(path));
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = "cannot lock " + path + ": " + std::strerror(errno);
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~UsersLock() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    UsersLock(const UsersLock &) = delete;
    UsersLock &operator=(const UsersLock &) = delete;
    bool Held(std::string *error) const {
        if (fd_ < 0) {
            *error = error_;
        }
        return fd_ >= 0;
    }

private:
    int fd_ = -1;
    std::string error_;
};

// The octets after `keyword` on the last line that has it, or "".
std::string OctetsOf(const std::vector<std::string> &lines, const char *keyword) {
    std::string found;
    for (const std::string &line : lines) {
        const std::vector<std::string> words = Words(line);
        std::string bytes;
        if (words.size() >= 2 && words[0] == keyword && ParseOctets(words[1], &bytes)) {
            found = bytes;
        }
    }
    return found;
}

// A new engine ID in the library's own random format: the Net-SNMP
// enterprise (8072) with the "random" format byte 128, then random octets.
bool NewEngineId(std::string *engineId, std::string *error) {
    unsigned char random[12];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        *error = std::string("cannot make an engine ID: ") + std::strerror(errno);
        return false;
    }
    *engineId = std::string("\x80\x00\x1f\x88\x80", 5) +
                std::string(reinterpret_cast<const char *>(random), sizeof random);
    return true;
}

// Localises a pass phrase to engineId with the authentication hash, and for
// a privacy key extends it to the cipher's length as the library does for a
// user it makes itself.
bool LocalKey(const Protocol &auth, const Protocol *priv, const std::string &pass,
              const std::string &engineId, std::string *key, std::string *error) {
    u_char ku[KeyBufferSize];
    size_t kuLength = sizeof ku;
    if (generate_Ku(auth.id, static_cast<u_int>(auth.length),
                    reinterpret_cast<const u_char *>(pass.data()), pass.size(), ku,
                    &kuLength) != SNMPERR_SUCCESS) {
        *error = "cannot derive a key from the pass phrase";
        return false;
    }
    u_char *kul = static_cast<u_char *>(std::malloc(KeyBufferSize));
    if (kul == nullptr) {
        *error = "out of memory";
        return false;
    }
    size_t kulLength = KeyBufferSize;
    int status = generate_kul(auth.id, static_cast<u_int>(auth.length),
                              reinterpret_cast<const u_char *>(engineId.data()), engineId.size(),
                              ku, kuLength, kul, &kulLength);
    std::memset(ku, 0, sizeof ku);
    if (status == SNMPERR_SUCCESS && priv != nullptr) {
        const netsnmp_priv_alg_info *info =
            sc_get_priv_alg_byoid(priv->id, static_cast<u_int>(priv->length));
        status = info == nullptr
                     ? SNMPERR_GENERR
                     : netsnmp_extend_kul(
                           static_cast<u_int>(info->proper_length), const_cast<oid *>(auth.id),
                           static_cast<u_int>(auth.length), info->type,
                           reinterpret_cast<u_char *>(const_cast<char *>(engineId.data())),
                           static_cast<u_int>(engineId.size()), &kul, &kulLength, KeyBufferSize);
    }
    if (status == SNMPERR_SUCCESS) {
        key->assign(reinterpret_cast<const char *>(kul), kulLength);
    } else {
        *error = "cannot localise the key to the engine ID";
    }
    std::memset(kul, 0, KeyBufferSize);
    std::free(kul);
    return status == SNMPERR_SUCCESS;
}

std::string HexOf(const std::string &bytes) {
    return Hex(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

bool CheckPass(const char *what, const std::string &pass, std::string *error) {
    if (pass.size() < MinPassLength) {
        *error = std::string("the ") + what + " pass phrase must have at least 8 characters";
        return false;
    }
    if (pass.size() > MaxPassLength) {
        *error = std::string("the ") + what + " pass phrase is longer than 255 characters";
        return false;
    }
    return true;
}

}  // namespace

bool CheckUser(UserSpec *spec, std::string *error) {
    if (spec->name.empty() || spec->name.size() > MaxNameLength) {
        *error = "a user name has 1 to 32 characters";
        return false;
    }
    for (unsigned char c : spec->name) {
        if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') {
            *error = "a user name holds only letters, digits, '-', '_' and '.'";
            return false;
        }
    }
    const Protocol *auth = ByName(AuthProtocols, spec->authProtocol);
    if (auth == nullptr) {
        *error = "unknown authentication protocol " + spec->authProtocol +
                 " (SHA, SHA-224, SHA-256, SHA-384 or SHA-512)";
        return false;
    }
    const Protocol *priv = ByName(PrivProtocols, spec->privProtocol);
    if (priv == nullptr) {
        *error = "unknown privacy protocol " + spec->privProtocol + " (AES, AES-192 or AES-256)";
        return false;
    }
    spec->authProtocol = auth->name;
    spec->privProtocol = priv->name;
    return CheckPass("authentication", spec->authPass, error) &&
           CheckPass("privacy", spec->privPass, error);
}

UserFiles UserFilesOf(const std::string &root) {
    return {root + "/snmp/snmpsvc.conf", root + "/snmp/persist/snmpsvc.conf"};
}

bool AddUser(const UserFiles &files, const UserSpec &spec, std::string *error) {
    const Protocol *auth = ByName(AuthProtocols, spec.authProtocol);
    const Protocol *priv = ByName(PrivProtocols, spec.privProtocol);
    if (auth == nullptr || priv == nullptr) {
        *error = "unknown protocol";
        return false;
    }
    UsersLock lock(files.config);
    if (!lock.Held(error)) {
        return false;
    }
    std::string text;
    bool exists = false;
    if (!ReadText(files.config, &text, &exists, error)) {
        return false;
    }
    std::vector<std::string> lines = Lines(text);
    for (const std::string &line : lines) {
        if (LineOfUser(line, spec.name)) {
            *error = "the user " + spec.name + " exists already in " + files.config;
            return false;
        }
    }
    std::string engineId = OctetsOf(lines, "exactEngineID");
    if (engineId.empty()) {
        // Pin the ID the service has used so far, or a new one.
        std::string persisted;
        bool persistedExists = false;
        std::string ignored;
        if (ReadText(files.persistent, &persisted, &persistedExists, &ignored)) {
            engineId = OctetsOf(Lines(persisted), "oldEngineID");
        }
        if (engineId.empty() && !NewEngineId(&engineId, error)) {
            return false;
        }
        lines.push_back("# The engine ID the SNMPv3 users' keys are localised to.");
        lines.push_back("exactEngineID " + HexOf(engineId));
    }
    std::string authKey;
    std::string privKey;
    if (!LocalKey(*auth, nullptr, spec.authPass, engineId, &authKey, error) ||
        !LocalKey(*auth, priv, spec.privPass, engineId, &privKey, error)) {
        return false;
    }
    const std::string name = HexOf(spec.name + std::string(1, '\0'));
    lines.push_back("# SNMPv3 user " + spec.name + " (" + auth->name + ", " + priv->name +
                    "): keys localised to the engine ID above");
    lines.push_back("usmUser 1 " + std::to_string(ReadOnlyStorage) + " " + HexOf(engineId) + " " +
                    name + " " + name + " .0.0 " + OidText(auth->id, auth->length) + " " +
                    HexOf(authKey) + " " + OidText(priv->id, priv->length) + " " + HexOf(privKey) +
                    " \"\"");
    lines.push_back("rouser " + spec.name + " authPriv");
    std::fill(authKey.begin(), authKey.end(), '\0');
    std::fill(privKey.begin(), privKey.end(), '\0');
    return ReplaceWhole(files.config, Joined(lines), error);
}

bool ListUsers(const UserFiles &files, std::vector<UserEntry> *users, std::string *error) {
    users->clear();
    std::string text;
    bool exists = false;
    if (!ReadText(files.config, &text, &exists, error)) {
        return false;
    }
    const std::vector<std::string> lines = Lines(text);
    const std::string engineId = OctetsOf(lines, "exactEngineID");
    for (const std::string &line : lines) {
        const std::vector<std::string> words = Words(line);
        UserEntry entry;
        std::string name;
        if (UsmUserName(words, &name)) {
            entry.name = name;
            entry.authProtocol = NameOfOid(AuthProtocols, words[7]);
            entry.privProtocol = NameOfOid(PrivProtocols, words[9]);
            std::string lineEngine;
            if (!ParseOctets(words[3], &lineEngine) || lineEngine != engineId) {
                entry.note = "keys for another engine ID: delete the user and add it again";
            }
        } else if (words.size() >= 3 && words[0] == "createUser") {
            entry.name = words[1];
            entry.authProtocol = words[2];
            entry.privProtocol = words.size() >= 5 ? words[4] : "none";
            entry.note = "pass phrases kept in clear: delete the user and add it again";
        } else {
            continue;
        }
        entry.access = "none";
        for (const std::string &other : lines) {
            const std::vector<std::string> access = Words(other);
            if (access.size() >= 2 && (access[0] == "rouser" || access[0] == "rwuser") &&
                access[1] == entry.name) {
                entry.access = (access.size() >= 3 ? access[2] : std::string("authNoPriv")) +
                               (access[0] == "rouser" ? " (read-only)" : " (read-write)");
            }
        }
        users->push_back(entry);
    }
    return true;
}

bool DeleteUser(const UserFiles &files, const std::string &name, std::string *error) {
    UsersLock lock(files.config);
    if (!lock.Held(error)) {
        return false;
    }
    std::string text;
    bool exists = false;
    if (!ReadText(files.config, &text, &exists, error)) {
        return false;
    }
    std::vector<std::string> kept;
    bool found = false;
    const std::string comment = "# SNMPv3 user " + name + " (";
    for (const std::string &line : Lines(text)) {
        if (LineOfUser(line, name)) {
            found = true;
        } else if (line.compare(0, comment.size(), comment) != 0) {
            kept.push_back(line);
        }
    }
    // A user an earlier version made is also in the library's persistent
    // file, from which it would come back at the next start.
    std::string persisted;
    bool persistedExists = false;
    if (!ReadText(files.persistent, &persisted, &persistedExists, error)) {
        return false;
    }
    std::vector<std::string> persistedKept;
    bool foundPersisted = false;
    for (const std::string &line : Lines(persisted)) {
        std::string user;
        if (UsmUserName(Words(line), &user) && user == name) {
            foundPersisted = true;
        } else {
            persistedKept.push_back(line);
        }
    }
    if (!found && !foundPersisted) {
        *error = "there is no SNMPv3 user " + name + " in " + files.config;
        return false;
    }
    if (found && !ReplaceWhole(files.config, Joined(kept), error)) {
        return false;
    }
    return !foundPersisted || ReplaceWhole(files.persistent, Joined(persistedKept), error);
}

}  // namespace snmpsvc
