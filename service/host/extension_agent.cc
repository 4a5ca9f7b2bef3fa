// Loading and calling an extension agent; see extension_agent.h.
#include "extension_agent.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nt/win32.h"

namespace snmphost {

namespace {

Oid CopyOid(const AsnObjectIdentifier &oid) {
    if (oid.ids == nullptr) {
        return {};
    }
    return Oid(oid.ids, oid.ids + oid.idLength);
}

Value CopyValue(const AsnAny &any) {
    Value value;
    value.type = any.asnType;
    switch (any.asnType) {
        case ASN_INTEGER: value.number = any.asnValue.number; break;
        case ASN_RFC1155_COUNTER:
        case ASN_RFC1155_GAUGE:
        case ASN_RFC1155_TIMETICKS: value.number = any.asnValue.counter; break;
        case ASN_COUNTER64: value.number = static_cast<int64_t>(any.asnValue.counter64); break;
        case ASN_OCTETSTRING:
        case ASN_RFC1155_IPADDRESS:
        case ASN_RFC1155_OPAQUE:
            if (any.asnValue.string.stream != nullptr) {
                value.bytes.assign(reinterpret_cast<const char *>(any.asnValue.string.stream),
                                   any.asnValue.string.length);
            }
            break;
        case ASN_OBJECTIDENTIFIER: value.object = CopyOid(any.asnValue.object); break;
        default: break;
    }
    return value;
}

// The value record of a SET binding: it refers to value's own storage,
// which outlives the call, and owns nothing.
AsnAny ValueRecord(Value &value) {
    AsnAny any;
    std::memset(&any, 0, sizeof any);
    any.asnType = value.type;
    switch (value.type) {
        case ASN_INTEGER: any.asnValue.number = static_cast<AsnInteger>(value.number); break;
        case ASN_RFC1155_COUNTER:
        case ASN_RFC1155_GAUGE:
        case ASN_RFC1155_TIMETICKS:
            any.asnValue.counter = static_cast<AsnCounter>(value.number);
            break;
        case ASN_COUNTER64: any.asnValue.counter64 = static_cast<AsnCounter64>(value.number); break;
        case ASN_OCTETSTRING:
        case ASN_RFC1155_IPADDRESS:
        case ASN_RFC1155_OPAQUE:
            any.asnValue.string.stream =
                value.bytes.empty() ? nullptr : reinterpret_cast<BYTE *>(&value.bytes[0]);
            any.asnValue.string.length = static_cast<UINT>(value.bytes.size());
            any.asnValue.string.dynamic = FALSE;
            break;
        case ASN_OBJECTIDENTIFIER:
            any.asnValue.object.idLength = static_cast<UINT>(value.object.size());
            any.asnValue.object.ids = value.object.empty() ? nullptr : value.object.data();
            break;
        default: any.asnType = ASN_NULL; break;
    }
    return any;
}

// Why the file at path cannot be a library, before the loader is asked:
// empty when it may be one. Only a regular file that starts with an ELF
// header is handed to dlopen, so a folder, a FIFO or a text file is named
// for what it is instead of by the loader's guess.
std::string NotALibrary(const std::string &path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return "library not found";
        }
        return std::string("cannot read the library: ") + std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return "not a library (a folder)";
    }
    if (!S_ISREG(info.st_mode)) {
        return "not a library (not a regular file)";
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::string("cannot read the library: ") + std::strerror(errno);
    }
    static const char ElfMagic[4] = {0x7f, 'E', 'L', 'F'};
    char magic[sizeof ElfMagic];
    const ssize_t got = pread(fd, magic, sizeof magic, 0);
    const int readError = errno;
    close(fd);
    if (got < 0) {
        return std::string("cannot read the library: ") + std::strerror(readError);
    }
    if (got != sizeof magic || std::memcmp(magic, ElfMagic, sizeof magic) != 0) {
        return "not a library (no ELF header)";
    }
    return "";
}

// What SnmpExtensionInit's last-error code says.
std::string InitFailure(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS: return "initialisation failed";
        case ERROR_DEV_NOT_EXIST: return "no adapter found";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return "initialisation failed: out of memory";
        default: return "initialisation failed (error " + std::to_string(code) + ")";
    }
}

}  // namespace

std::unique_ptr<ExtensionAgent> ExtensionAgent::Load(const std::string &path, std::string *error) {
    const std::string notALibrary = NotALibrary(path);
    if (!notALibrary.empty()) {
        *error = path + ": " + notALibrary;
        return nullptr;
    }
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        // The loader's message names the file first; say it once.
        const char *loaderSays = dlerror();
        std::string why = loaderSays != nullptr ? loaderSays : "";
        const std::string named = path + ": ";
        if (why.compare(0, named.size(), named) == 0) {
            why.erase(0, named.size());
        }
        *error = path + ": cannot be loaded: " + (why.empty() ? "unknown reason" : why);
        return nullptr;
    }
    std::unique_ptr<ExtensionAgent> agent(new ExtensionAgent(path, library));
    agent->init_ = reinterpret_cast<PFNSNMPEXTENSIONINIT>(dlsym(library, "SnmpExtensionInit"));
    agent->query_ = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(dlsym(library, "SnmpExtensionQuery"));
    agent->trap_ = reinterpret_cast<PFNSNMPEXTENSIONTRAP>(dlsym(library, "SnmpExtensionTrap"));
    if (agent->init_ == nullptr || agent->query_ == nullptr) {
        std::string missing = agent->init_ == nullptr ? "SnmpExtensionInit" : "";
        if (agent->query_ == nullptr) {
            missing += std::string(missing.empty() ? "" : ", ") + "SnmpExtensionQuery";
        }
        *error = path + ": entry points missing: " + missing;
        return nullptr;
    }
    return agent;
}

ExtensionAgent::ExtensionAgent(std::string path, void *library)
    : path_(std::move(path)), library_(library) {}

// The library is never unloaded: an agent keeps its adapters open and its
// state for the life of the process, and has no entry point to give them
// back, so unloading it would only strand them.
ExtensionAgent::~ExtensionAgent() = default;

bool ExtensionAgent::Init(std::string *why) {
    HANDLE trapEvent = nullptr;
    AsnObjectIdentifier view = {0, nullptr};
    SetLastError(ERROR_SUCCESS);  // so that a code after FALSE is the agent's
    if (!init_(0, &trapEvent, &view)) {
        const DWORD code = GetLastError();
        if (why != nullptr) {
            *why = InitFailure(code);
        }
        return false;
    }
    view_ = CopyOid(view);
    return true;
}

QueryResult ExtensionAgent::Run(BYTE requestType, Binding *bindings, size_t count) {
    // Requests are small: keep the host's records on the stack when they fit.
    constexpr size_t StackBindings = 8;
    RFC1157VarBind onStack[StackBindings];
    UINT *passedOnStack[StackBindings];
    std::vector<RFC1157VarBind> onHeap;
    std::vector<UINT *> passedOnHeap;
    RFC1157VarBind *list = onStack;
    UINT **passed = passedOnStack;
    if (count > StackBindings) {
        onHeap.resize(count);
        passedOnHeap.resize(count);
        list = onHeap.data();
        passed = passedOnHeap.data();
    }
    for (size_t i = 0; i < count; ++i) {
        Oid &name = bindings[i].name;
        list[i].name.idLength = static_cast<UINT>(name.size());
        list[i].name.ids = name.empty() ? nullptr : name.data();
        if (requestType == ASN_RFC1157_SETREQUEST) {
            list[i].value = ValueRecord(bindings[i].value);
        } else {
            list[i].value.asnType = ASN_NULL;
        }
        passed[i] = list[i].name.ids;
    }
    RFC1157VarBindList request = {list, static_cast<UINT>(count)};
    QueryResult result;
    query_(requestType, &request, &result.errorStatus, &result.errorIndex);
    for (size_t i = 0; i < count; ++i) {
        if (list[i].name.ids != passed[i]) {
            Oid name = CopyOid(list[i].name);
            GlobalFree(list[i].name.ids);
            bindings[i].name = std::move(name);
        }
        bindings[i].value = CopyValue(list[i].value);
    }
    return result;
}

QueryResult ExtensionAgent::Query(BYTE requestType, std::vector<Binding> *bindings) {
    return Run(requestType, bindings->data(), bindings->size());
}

QueryResult ExtensionAgent::QueryOne(BYTE requestType, Binding *binding) {
    return Run(requestType, binding, 1);
}

QueryResult ExtensionAgent::QueryName(BYTE requestType, UINT *name, UINT *length, UINT capacity,
                                      Value *value) {
    RFC1157VarBind binding;
    binding.name.idLength = *length;
    binding.name.ids = *length == 0 ? nullptr : name;
    binding.value.asnType = ASN_NULL;
    UINT *const passed = binding.name.ids;
    RFC1157VarBindList request = {&binding, 1};
    QueryResult result;
    query_(requestType, &request, &result.errorStatus, &result.errorIndex);
    if (binding.name.ids != passed) {
        if (binding.name.idLength <= capacity) {
            if (binding.name.idLength != 0) {
                std::memcpy(name, binding.name.ids, binding.name.idLength * sizeof(UINT));
            }
            *length = binding.name.idLength;
        } else if (result.errorStatus == SNMP_ERRORSTATUS_NOERROR) {
            result.errorStatus = SNMP_ERRORSTATUS_GENERR;
            result.errorIndex = 1;
        }
        GlobalFree(binding.name.ids);
    }
    *value = CopyValue(binding.value);
    return result;
}

std::string OidText(const Oid &oid) {
    std::string text;
    for (size_t i = 0; i < oid.size(); ++i) {
        if (i != 0) {
            text += '.';
        }
        text += std::to_string(oid[i]);
    }
    return text;
}

bool ParseOid(const std::string &text, Oid *oid) {
    Oid result;
    size_t i = !text.empty() && text[0] == '.' ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    while (i < text.size()) {
        uint64_t arc = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            arc = arc * 10 + static_cast<uint64_t>(text[i] - '0');
            if (arc > UINT32_MAX) {
                return false;
            }
            ++i;
            ++digits;
        }
        if (digits == 0) {
            return false;
        }
        result.push_back(static_cast<uint32_t>(arc));
        if (i < text.size()) {
            if (text[i] != '.' || i + 1 == text.size()) {
                return false;
            }
            ++i;
        }
    }
    *oid = std::move(result);
    return true;
}

std::string ValueText(const Value &value) {
    switch (value.type) {
        case ASN_INTEGER: return "INTEGER: " + std::to_string(value.number);
        case ASN_RFC1155_COUNTER: return "Counter32: " + std::to_string(value.number);
        case ASN_RFC1155_GAUGE: return "Gauge32: " + std::to_string(value.number);
        case ASN_RFC1155_TIMETICKS: return "Timeticks: " + std::to_string(value.number);
        case ASN_COUNTER64:
            return "Counter64: " + std::to_string(static_cast<uint64_t>(value.number));
        case ASN_OCTETSTRING: return "STRING: \"" + value.bytes + "\"";
        case ASN_OBJECTIDENTIFIER: return "OID: " + OidText(value.object);
        case ASN_NULL: return "NULL";
        default: return "type " + std::to_string(value.type);
    }
}

}  // namespace snmphost
