// SNMPv3 users in the service's configuration; see service_users.h.
#include "service_users.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snmpsvc {

namespace {

constexpr size_t MinPassLength = 8;    // the library refuses shorter ones
constexpr size_t MaxPassLength = 255;  // keeps a line well inside the reader's buffer
constexpr size_t MaxNameLength = 32;   // SnmpAdminString of usmUserName

// The canonical spelling of name (any case) among choices, or "".
std::string Canonical(const std::string &name, std::initializer_list<const char *> choices) {
    for (const char *choice : choices) {
        if (strcasecmp(name.c_str(), choice) == 0) {
            return choice;
        }
    }
    return "";
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
    for (unsigned char c : pass) {
        if (c == '"' || c == '\\' || c < 0x20 || c == 0x7f) {
            *error = std::string("the ") + what +
                     " pass phrase may not hold a double quote, a backslash or a control character";
            return false;
        }
    }
    return true;
}

// The first word of a configuration line, and the second.
void FirstWords(const std::string &line, std::string *first, std::string *second) {
    std::istringstream words(line);
    first->clear();
    second->clear();
    words >> *first >> *second;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
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
    const std::string auth =
        Canonical(spec->authProtocol, {"SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512"});
    if (auth.empty()) {
        *error = "unknown authentication protocol " + spec->authProtocol +
                 " (SHA, SHA-224, SHA-256, SHA-384 or SHA-512)";
        return false;
    }
    const std::string priv = Canonical(spec->privProtocol, {"AES", "AES-192", "AES-256"});
    if (priv.empty()) {
        *error = "unknown privacy protocol " + spec->privProtocol + " (AES, AES-192 or AES-256)";
        return false;
    }
    spec->authProtocol = auth;
    spec->privProtocol = priv;
    return CheckPass("authentication", spec->authPass, error) &&
           CheckPass("privacy", spec->privPass, error);
}

bool AddUser(const std::string &configPath, const UserSpec &spec, std::string *error) {
    std::string text;
    const int in = open(configPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in >= 0) {
        text = ReadAll(in);
        close(in);
    } else if (errno != ENOENT) {
        *error = "cannot read " + configPath + ": " + std::strerror(errno);
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::string first;
        std::string second;
        FirstWords(line, &first, &second);
        if ((first == "createUser" || first == "rouser" || first == "rwuser") &&
            second == spec.name) {
            *error = "the user " + spec.name + " exists already in " + configPath;
            return false;
        }
    }
    if (!text.empty() && text.back() != '\n') {
        text += '\n';
    }
    text += "createUser " + spec.name + " " + spec.authProtocol + " \"" + spec.authPass + "\" " +
            spec.privProtocol + " \"" + spec.privPass + "\"\n";
    text += "rouser " + spec.name + " authPriv\n";

    // A new owner-only file replaces the old one whole: the pass phrases are
    // never readable by others, and a failure leaves the old file.
    const std::string temporary = configPath + ".new";
    unlink(temporary.c_str());
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        *error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool written = fchmod(out, 0600) == 0;
    while (written && done < text.size()) {
        const ssize_t put = write(out, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        written = put > 0;
        done += written ? static_cast<size_t>(put) : 0;
    }
    written = fsync(out) == 0 && written;
    if (close(out) != 0 || !written || rename(temporary.c_str(), configPath.c_str()) != 0) {
        const int err = errno;
        unlink(temporary.c_str());
        *error = "cannot write " + configPath + ": " + std::strerror(err);
        return false;
    }
    return true;
}

}  // namespace snmpsvc
