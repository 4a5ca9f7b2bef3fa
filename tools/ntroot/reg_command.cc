// ntroot reg query|add|delete: the registry of the root, in the manner of
// NT's reg.
//
// Keys are written as reg writes them: "HKLM\SOFTWARE\..." or
// "HKEY_LOCAL_MACHINE\SOFTWARE\...". Options take '/' or '-' and any case.
// Output is laid out as reg prints it: a blank line, the key's full path,
// then one line a value: four spaces, the name ("(Default)" for the
// unnamed value), four spaces, the type, four spaces, the data. Where reg
// would ask "Overwrite?" or "Delete?", this command does not ask: without
// /f it refuses.
#include <cctype>
#include <cstring>
#include <memory>
#include <strings.h>
#include <vector>

#include "command.h"
#include "ntroot.h"
#include "nt/error_text.h"
#include "nt/win32.h"
#include "reg_data.h"

namespace ntroot {

namespace {

const char kRegHelp[] =
    "Usage: ntroot reg query|add|delete KEY [OPTIONS] [--root DIR]\n"
    "\n"
    "Reads and writes the registry of the NT root, in the manner of NT's reg.\n"
    "KEY is HKLM\\PATH or HKEY_LOCAL_MACHINE\\PATH (HKEY_LOCAL_MACHINE is the\n"
    "only root key an NT root keeps).\n"
    "\n"
    "  query KEY [/v NAME | /ve] [/s]                  show a key or a value\n"
    "  add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]  make a key, set a value\n"
    "  delete KEY [/v NAME | /ve | /va] [/f]           delete a key or values\n"
    "\n"
    "Run 'ntroot reg query --help' and so on for each one's options.\n";

const char kQueryHelp[] =
    "Usage: ntroot reg query KEY [/v NAME | /ve] [/s] [--root DIR]\n"
    "\n"
    "Shows KEY's values and lists its subkeys.\n"
    "  /v NAME   show only the value NAME\n"
    "  /ve       show only the unnamed value, \"(Default)\"\n"
    "  /s        go through every key below KEY too (with /v or /ve: find the\n"
    "            value in KEY and every key below it)\n";

const char kAddHelp[] =
    "Usage: ntroot reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f] [--root DIR]\n"
    "\n"
    "Makes KEY (and every missing key above it); with /v or /ve, also sets a\n"
    "value in it.\n"
    "  /v NAME   the value to set\n"
    "  /ve       set the unnamed value, \"(Default)\"\n"
    "  /t TYPE   REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
    "            REG_QWORD, REG_BINARY or REG_NONE\n"
    "  /d DATA   the data (empty when left out): text for the string types,\n"
    "            with the strings of a REG_MULTI_SZ separated by \\0; a decimal\n"
    "            or 0x hexadecimal number for REG_DWORD and REG_QWORD; pairs of\n"
    "            hexadecimal digits for REG_BINARY and REG_NONE\n"
    "  /f        overwrite a value that exists (without /f, an existing value\n"
    "            is left alone and the command fails)\n"
    "Strings are stored with their terminating NUL counted, as reg stores them.\n";

const char kDeleteHelp[] =
    "Usage: ntroot reg delete KEY [/v NAME | /ve | /va] [/f] [--root DIR]\n"
    "\n"
    "Deletes KEY with every key and value below it, or values of KEY.\n"
    "  /v NAME   delete the value NAME\n"
    "  /ve       delete the unnamed value, \"(Default)\"\n"
    "  /va       delete every value of KEY (its subkeys stay)\n"
    "  /f        really delete: without /f nothing is deleted and the command\n"
    "            fails, where reg would ask\n";

const char kLocalMachine[] = "HKEY_LOCAL_MACHINE";
constexpr DWORD kMaxValueNameSize = 16384;  // characters, NUL counted
constexpr DWORD kMaxKeyNameSize = 256;

// A key as the person named it.
struct KeyName {
    std::string path;   // below HKEY_LOCAL_MACHINE, no leading or trailing '\'
    std::string shown;  // HKEY_LOCAL_MACHINE\path
};

struct Options {
    KeyName key;
    bool haveKey = false;
    bool v = false, ve = false, va = false, s = false, f = false, t = false, d = false;
    std::string valueName, type, data;
};

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

// An open key, closed when it goes.
class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;
    DWORD Open(const std::string &path, REGSAM access) {
        return static_cast<DWORD>(
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_));
    }
    DWORD Create(const std::string &path) {
        char noClass[] = "";
        DWORD disposition = 0;
        return static_cast<DWORD>(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, noClass,
                                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                                  &key_, &disposition));
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool ParseKeyName(const std::string &text, KeyName *key, std::string *error) {
    const size_t slash = text.find('\\');
    const std::string top = text.substr(0, slash);
    std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
    if (text.compare(0, 2, "\\\\") == 0) {
        *error = "invalid key " + text + ": keys of other machines cannot be reached";
        return false;
    }
    if (strcasecmp(top.c_str(), "HKLM") != 0 && strcasecmp(top.c_str(), kLocalMachine) != 0) {
        static const char *const kOthers[] = {
            "HKCU", "HKEY_CURRENT_USER", "HKCR", "HKEY_CLASSES_ROOT",
            "HKU",  "HKEY_USERS",        "HKCC", "HKEY_CURRENT_CONFIG"};
        for (const char *other : kOthers) {
            if (strcasecmp(top.c_str(), other) == 0) {
                *error = "invalid key " + text + ": an NT root keeps HKEY_LOCAL_MACHINE only";
                return false;
            }
        }
        *error = "invalid key " + text + ": it must start with HKLM\\ or HKEY_LOCAL_MACHINE\\";
        return false;
    }
    if (!rest.empty() && rest.back() == '\\') {
        rest.pop_back();
    }
    size_t start = 0;
    while (!rest.empty()) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        if (end == start || end - start > kMaxKeyNameSize - 1) {
            *error = "invalid key " + text + ": a key name is empty or longer than 255 characters";
            return false;
        }
        if (end == rest.size()) {
            break;
        }
        start = end + 1;
    }
    key->path = rest;
    key->shown = rest.empty() ? kLocalMachine : std::string(kLocalMachine) + "\\" + rest;
    return true;
}

// Parses the arguments of "reg VERB", taking the options named in allowed
// (each followed by a space). Returns kSuccess, kUsage (said) or -1 for
// --help (shown).
int ParseOptions(Context &context, const std::string &verb, const char *help, const Args &args,
                 const std::string &allowed, Options *options) {
    const std::string command = "reg " + verb;
    for (size_t i = 0; i < args.size();) {
        std::string error;
        if (TakeRootOption(args, &i, &error)) {
            if (!error.empty()) {
                return Usage(context, command, error);
            }
            continue;
        }
        const std::string &arg = args[i];
        if (IsHelp(arg)) {
            context.out << help;
            return -1;
        }
        if (arg.size() > 1 && (arg[0] == '/' || arg[0] == '-')) {
            std::string name = arg.substr(1);
            for (char &c : name) {
                c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            }
            if (allowed.find(name + " ") == std::string::npos) {
                return Usage(context, command, "unknown option " + arg);
            }
            struct Flag {
                const char *name;
                bool *set;
                std::string *argument;
            };
            const Flag flags[] = {
                {"v", &options->v, &options->valueName},
                {"ve", &options->ve, nullptr},
                {"va", &options->va, nullptr},
                {"s", &options->s, nullptr},
                {"f", &options->f, nullptr},
                {"t", &options->t, &options->type},
                {"d", &options->d, &options->data},
            };
            for (const Flag &flag : flags) {
                if (name != flag.name) {
                    continue;
                }
                if (*flag.set) {
                    return Usage(context, command, "option " + arg + " is given twice");
                }
                *flag.set = true;
                if (flag.argument != nullptr) {
                    if (i + 1 >= args.size()) {
                        return Usage(context, command, "option " + arg + " needs a value");
                    }
                    *flag.argument = args[i + 1];
                    ++i;
                }
            }
            ++i;
            continue;
        }
        if (options->haveKey) {
            return Usage(context, command, "unexpected argument '" + arg + "'");
        }
        if (!ParseKeyName(arg, &options->key, &error)) {
            return Usage(context, command, error);
        }
        options->haveKey = true;
        ++i;
    }
    if (!options->haveKey) {
        return Usage(context, command, "no key given");
    }
    if (options->v + options->ve + options->va > 1) {
        return Usage(context, command, "give only one of /v, /ve and /va");
    }
    if (options->v && options->valueName.empty()) {
        return Usage(context, command, "/v needs a value name (use /ve for the unnamed value)");
    }
    return kSuccess;
}

std::string ValueLabel(const std::string &name) { return name.empty() ? "(Default)" : name; }

std::string Quoted(const std::string &name) {
    return name.empty() ? "the unnamed value" : "the value \"" + name + "\"";
}

void PrintValue(Context &context, const Value &value) {
    context.out << "    " << ValueLabel(value.name) << "    " << TypeName(value.type) << "    "
                << FormatData(value.type, value.data) << "\n";
}

// Reads one value; ERROR_FILE_NOT_FOUND when there is none.
DWORD ReadValue(HKEY key, const std::string &name, Value *value) {
    value->name = name;
    DWORD size = 0;
    DWORD rc = static_cast<DWORD>(
        RegQueryValueExA(key, name.c_str(), nullptr, &value->type, nullptr, &size));
    // The value may grow between the calls; a few rounds settle it.
    for (int round = 0; round < 8 && rc == ERROR_SUCCESS; ++round) {
        value->data.assign(size, '\0');
        rc = static_cast<DWORD>(RegQueryValueExA(key, name.c_str(), nullptr, &value->type,
                                                 reinterpret_cast<BYTE *>(&value->data[0]), &size));
        if (rc == ERROR_SUCCESS) {
            value->data.resize(size);
            return rc;
        }
        if (rc == ERROR_MORE_DATA) {
            rc = ERROR_SUCCESS;
        }
    }
    return rc == ERROR_SUCCESS ? ERROR_MORE_DATA : rc;
}

DWORD ReadValues(HKEY key, std::vector<Value> *values) {
    std::vector<char> name(kMaxValueNameSize);
    for (DWORD index = 0;; ++index) {
        Value value;
        DWORD rc = ERROR_MORE_DATA;
        for (int round = 0; round < 8 && rc == ERROR_MORE_DATA; ++round) {
            DWORD nameSize = kMaxValueNameSize;
            DWORD dataSize = static_cast<DWORD>(value.data.size());
            rc = static_cast<DWORD>(
                RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &value.type,
                              reinterpret_cast<BYTE *>(&value.data[0]), &dataSize));
            value.data.resize(dataSize);
            if (rc == ERROR_SUCCESS) {
                value.name.assign(name.data(), nameSize);
            }
        }
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        values->push_back(std::move(value));
    }
}

// Finds the value named name (without regard to case), with the name as
// it is stored; ERROR_FILE_NOT_FOUND when there is none.
DWORD FindValue(HKEY key, const std::string &name, Value *value) {
    std::vector<Value> values;
    const DWORD rc = ReadValues(key, &values);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    for (Value &candidate : values) {
        if (strcasecmp(candidate.name.c_str(), name.c_str()) == 0) {
            *value = std::move(candidate);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

DWORD ReadSubkeys(HKEY key, std::vector<std::string> *names) {
    char name[kMaxKeyNameSize];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        const DWORD rc = static_cast<DWORD>(
            RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr));
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        names->emplace_back(name, size);
    }
}

int CannotOpen(Context &context, const KeyName &key, DWORD rc) {
    if (rc == ERROR_FILE_NOT_FOUND) {
        return Fail(context, "the key " + key.shown + " does not exist");
    }
    return Fail(context, "cannot open " + key.shown + ": " + nt::ErrorText(rc));
}

std::string Join(const std::string &path, const std::string &name) {
    return path.empty() ? name : path + "\\" + name;
}

int Query(Context &context, const Options &options) {
    const bool oneValue = options.v || options.ve;
    const std::string wanted = options.v ? options.valueName : "";
    // Keys still to show, the next one last: (path, shown).
    std::vector<KeyName> pending{options.key};
    size_t matches = 0;
    bool first = true;
    while (!pending.empty()) {
        const KeyName key = pending.back();
        pending.pop_back();
        OpenKey open;
        DWORD rc = open.Open(key.path, KEY_READ);
        if (rc == ERROR_FILE_NOT_FOUND && !first) {
            continue;  // deleted since its parent was listed
        }
        if (rc != ERROR_SUCCESS) {
            return CannotOpen(context, key, rc);
        }
        std::vector<std::string> subkeys;
        rc = ReadSubkeys(open.get(), &subkeys);
        if (rc != ERROR_SUCCESS) {
            return Fail(context,
                        "cannot list the subkeys of " + key.shown + ": " + nt::ErrorText(rc));
        }
        if (oneValue) {
            Value value;
            rc = FindValue(open.get(), wanted, &value);
            if (rc == ERROR_SUCCESS) {
                context.out << "\n" << key.shown << "\n";
                PrintValue(context, value);
                ++matches;
            } else if (rc == ERROR_FILE_NOT_FOUND && !options.s && options.ve) {
                // reg's answer for a key whose unnamed value is not set.
                context.out << "\n"
                            << key.shown << "\n    (Default)    REG_SZ    (value not set)\n";
                ++matches;
            } else if (rc != ERROR_FILE_NOT_FOUND) {
                return Fail(context, "cannot read " + Quoted(wanted) + " of " + key.shown + ": " +
                                         nt::ErrorText(rc));
            } else if (!options.s) {
                return Fail(context, Quoted(wanted) + " does not exist in " + key.shown);
            }
        } else {
            std::vector<Value> values;
            rc = ReadValues(open.get(), &values);
            if (rc != ERROR_SUCCESS) {
                return Fail(context,
                            "cannot read the values of " + key.shown + ": " + nt::ErrorText(rc));
            }
            context.out << "\n" << key.shown << "\n";
            for (const Value &value : values) {
                PrintValue(context, value);
            }
            if (!options.s && !subkeys.empty()) {
                if (!values.empty()) {
                    context.out << "\n";
                }
                for (const std::string &name : subkeys) {
                    context.out << key.shown << "\\" << name << "\n";
                }
            }
        }
        if (options.s) {
            for (auto name = subkeys.rbegin(); name != subkeys.rend(); ++name) {
                pending.push_back({Join(key.path, *name), key.shown + "\\" + *name});
            }
        }
        first = false;
    }
    if (oneValue && options.s) {
        context.out << "\nEnd of search: " << matches << " match(es) found.\n";
        if (matches == 0) {
            return Fail(context, Quoted(wanted) + " does not exist in " + options.key.shown +
                                     " or below it");
        }
    }
    return kSuccess;
}

int Add(Context &context, const Options &options) {
    const bool setsValue = options.v || options.ve;
    if ((options.t || options.d) && !setsValue) {
        return Usage(context, "reg add", "/t and /d need /v NAME or /ve");
    }
    DWORD type = REG_SZ;
    if (options.t && !ParseTypeName(options.type, &type)) {
        return Usage(context, "reg add",
                     "unknown type " + options.type +
                         " (use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                         "REG_BINARY or REG_NONE)");
    }
    std::string bytes, error;
    if (setsValue && !EncodeData(type, options.data, &bytes, &error)) {
        return Usage(context, "reg add", error);
    }
    if (const int status = RequireRoot(context, RootFolder())) {
        return status;
    }
    const std::string name = options.v ? options.valueName : "";
    if (setsValue && !options.f) {
        OpenKey existing;
        if (existing.Open(options.key.path, KEY_QUERY_VALUE) == ERROR_SUCCESS) {
            DWORD size = 0;
            if (RegQueryValueExA(existing.get(), name.c_str(), nullptr, nullptr, nullptr, &size) ==
                ERROR_SUCCESS) {
                return Fail(context, Quoted(name) + " already exists in " + options.key.shown +
                                         "; add /f to overwrite it");
            }
        }
    }
    OpenKey key;
    DWORD rc = key.Create(options.key.path);
    if (rc != ERROR_SUCCESS) {
        return Fail(context, "cannot make " + options.key.shown + ": " + nt::ErrorText(rc));
    }
    if (setsValue) {
        if (bytes.size() > UINT32_MAX) {
            return Usage(context, "reg add", "the data is too large");
        }
        rc = static_cast<DWORD>(RegSetValueExA(key.get(), name.c_str(), 0, type,
                                               reinterpret_cast<const BYTE *>(bytes.data()),
                                               static_cast<DWORD>(bytes.size())));
        if (rc != ERROR_SUCCESS) {
            return Fail(context, "cannot set " + Quoted(name) + " in " + options.key.shown + ": " +
                                     nt::ErrorText(rc));
        }
    }
    context.out << "The operation completed successfully.\n";
    return kSuccess;
}

int Delete(Context &context, const Options &options) {
    if (const int status = RequireRoot(context, RootFolder())) {
        return status;
    }
    OpenKey key;
    DWORD rc = key.Open(options.key.path, KEY_READ | KEY_SET_VALUE);
    if (rc != ERROR_SUCCESS) {
        return CannotOpen(context, options.key, rc);
    }
    if (options.v || options.ve) {
        const std::string name = options.v ? options.valueName : "";
        Value value;
        rc = ReadValue(key.get(), name, &value);
        if (rc == ERROR_FILE_NOT_FOUND) {
            return Fail(context, Quoted(name) + " does not exist in " + options.key.shown);
        }
        if (rc != ERROR_SUCCESS) {
            return Fail(context, "cannot read " + Quoted(name) + " of " + options.key.shown + ": " +
                                     nt::ErrorText(rc));
        }
        if (!options.f) {
            return Fail(context, "not deleting " + Quoted(name) + " of " + options.key.shown +
                                     " without /f");
        }
        rc = static_cast<DWORD>(RegDeleteValueA(key.get(), name.c_str()));
        if (rc != ERROR_SUCCESS) {
            return Fail(context, "cannot delete " + Quoted(name) + " of " + options.key.shown +
                                     ": " + nt::ErrorText(rc));
        }
    } else if (options.va) {
        if (!options.f) {
            return Fail(context, "not deleting the values of " + options.key.shown + " without /f");
        }
        std::vector<Value> values;
        rc = ReadValues(key.get(), &values);
        for (size_t i = 0; rc == ERROR_SUCCESS && i < values.size(); ++i) {
            rc = static_cast<DWORD>(RegDeleteValueA(key.get(), values[i].name.c_str()));
            if (rc == ERROR_FILE_NOT_FOUND) {
                rc = ERROR_SUCCESS;  // deleted by someone else meanwhile
            }
        }
        if (rc != ERROR_SUCCESS) {
            return Fail(context, "cannot delete the values of " + options.key.shown + ": " +
                                     nt::ErrorText(rc));
        }
    } else {
        if (options.key.path.empty()) {
            return Fail(context, "HKEY_LOCAL_MACHINE itself cannot be deleted");
        }
        if (!options.f) {
            return Fail(context, "not deleting " + options.key.shown +
                                     " and everything below it without /f");
        }
        rc = static_cast<DWORD>(RegDeleteTreeA(HKEY_LOCAL_MACHINE, options.key.path.c_str()));
        if (rc != ERROR_SUCCESS) {
            return Fail(context, "cannot delete " + options.key.shown + ": " + nt::ErrorText(rc));
        }
    }
    context.out << "The operation completed successfully.\n";
    return kSuccess;
}

}  // namespace

int RunReg(Context &context, const Args &args) {
    size_t i = 0;
    if (std::string error; !cli::TakeRootOptions(args, &i, &error)) {
        return Usage(context, "reg", error);
    }
    if (i == args.size()) {
        return Usage(context, "reg", "no operation given (query, add or delete)");
    }
    const std::string verb = args[i];
    const Args rest(args.begin() + static_cast<long>(i) + 1, args.end());
    if (IsHelp(verb)) {
        context.out << kRegHelp;
        return kSuccess;
    }
    Options options;
    int status;
    if (strcasecmp(verb.c_str(), "query") == 0) {
        status = ParseOptions(context, "query", kQueryHelp, rest, "v ve s ", &options);
        if (status == kSuccess) {
            if (const int root = RequireRoot(context, RootFolder())) {
                return root;
            }
            status = Query(context, options);
        }
    } else if (strcasecmp(verb.c_str(), "add") == 0) {
        status = ParseOptions(context, "add", kAddHelp, rest, "v ve t d f ", &options);
        if (status == kSuccess) {
            status = Add(context, options);
        }
    } else if (strcasecmp(verb.c_str(), "delete") == 0) {
        status = ParseOptions(context, "delete", kDeleteHelp, rest, "v ve va f ", &options);
        if (status == kSuccess) {
            status = Delete(context, options);
        }
    } else {
        return Usage(context, "reg", "unknown operation '" + verb + "' (use query, add or delete)");
    }
    return status < 0 ? kSuccess : status;
}

}  // namespace ntroot
