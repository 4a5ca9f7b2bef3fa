// The registry calls of nt/win32.h over the store (registry_store.h).
//
// How the calls share the work (KeyCall): each call first turns its HKEY
// into a KeyRef (HKEY_LOCAL_MACHINE itself, or an open key from the handle
// table with the key's id, the registry file it lives in and the access it
// was opened with), checks its arguments and the handle's access, and only
// then begins one transaction, in which it checks that the key still exists
// (ERROR_KEY_DELETED otherwise) and does its work. Writes commit at the end,
// whole; reads end with the transaction.
//
// Rules where NT leaves a choice to its security descriptors, which this
// registry does not keep:
//   - values are read through KEY_QUERY_VALUE, written and deleted through
//     KEY_SET_VALUE; subkeys are listed through KEY_ENUMERATE_SUB_KEYS;
//   - RegCreateKeyExA needs KEY_CREATE_SUB_KEY on its handle only when it
//     creates a key; opening a subkey needs nothing of the handle;
//   - deleting keys through a handle needs KEY_SET_VALUE or
//     KEY_CREATE_SUB_KEY on it, so that a KEY_READ handle writes nothing;
//   - HKEY_LOCAL_MACHINE has every access, but it is never deleted, nor
//     emptied at once (RegDeleteTreeA on it is ERROR_ACCESS_DENIED).
// Key paths are relative and use backslashes: a leading backslash or an
// empty component is ERROR_INVALID_PARAMETER; one trailing backslash is
// ignored, as on NT. A key name has at most 255 characters and a value
// name at most 16383. Only HKEY_LOCAL_MACHINE is kept: every other
// predefined key is ERROR_INVALID_HANDLE, as an unknown handle is.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "nt/win32.h"
#include "registry_store.h"

namespace nt {

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;

// An open key: what a registry HKEY stands for.
class RegistryKey : public KernelObject {
public:
    RegistryKey(int64_t id, uint64_t registry, REGSAM access)
        : id_(id), registry_(registry), access_(access) {}
    int64_t id() const { return id_; }
    uint64_t registry() const { return registry_; }
    REGSAM access() const { return access_; }

private:
    const int64_t id_;
    const uint64_t registry_;  // the registry file's id (RegistryTransaction)
    const REGSAM access_;
};

struct KeyRef {
    int64_t id = kRegistryRootKey;
    uint64_t registry = 0;
    REGSAM access = KEY_ALL_ACCESS;
    bool predefined = true;  // HKEY_LOCAL_MACHINE itself
};

DWORD ResolveHandle(HKEY key, KeyRef *ref) {
    if (key == HKEY_LOCAL_MACHINE) {
        *ref = KeyRef();
        return ERROR_SUCCESS;
    }
    auto object = LookupHandleAs<RegistryKey>(reinterpret_cast<HANDLE>(key));
    if (object == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    ref->id = object->id();
    ref->registry = object->registry();
    ref->access = object->access();
    ref->predefined = false;
    return ERROR_SUCCESS;
}

// The key rights that access asks for, generic rights mapped.
REGSAM KeyRights(REGSAM access) {
    REGSAM rights = access & 0x00FFFFFFu;
    if ((access & kGenericRead) != 0 || (access & kGenericExecute) != 0) {
        rights |= KEY_READ;
    }
    if ((access & kGenericWrite) != 0) {
        rights |= KEY_WRITE;
    }
    if ((access & (kGenericAll | kMaximumAllowed)) != 0) {
        rights |= KEY_ALL_ACCESS;
    }
    return rights;
}

bool Allows(const KeyRef &ref, REGSAM rights) { return (ref.access & rights) != 0; }

// Splits a relative key path into its names.
DWORD SplitKeyPath(const char *path, std::vector<std::string> *names) {
    names->clear();
    if (path == nullptr || path[0] == '\0') {
        return ERROR_SUCCESS;
    }
    std::string text(path);
    if (text[0] == '\\') {
        return ERROR_INVALID_PARAMETER;
    }
    if (text.back() == '\\') {
        text.pop_back();
    }
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\\', start);
        const std::string name =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() || name.size() > kMaxKeyNameLength) {
            return ERROR_INVALID_PARAMETER;
        }
        names->push_back(name);
        if (end == std::string::npos) {
            return ERROR_SUCCESS;
        }
        start = end + 1;
    }
}

DWORD ValueName(const char *name, std::string *out) {
    *out = name != nullptr ? name : "";
    return out->size() > kMaxValueNameLength ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

// Starts the work on ref's key inside tx: the transaction must be open and
// the key must still exist.
DWORD Begin(const RegistryTransaction &tx, const KeyRef &ref) {
    if (tx.status() != ERROR_SUCCESS) {
        // An open key in a registry that has gone has gone with it.
        return tx.absent() && !ref.predefined ? ERROR_KEY_DELETED : tx.status();
    }
    if (ref.predefined) {
        return ERROR_SUCCESS;
    }
    if (ref.registry != tx.registry_id()) {
        return ERROR_KEY_DELETED;  // a key of another root's registry
    }
    RegistryStatement exists = tx.Statement("SELECT 1 FROM keys WHERE id = ?1");
    exists.Bind(1, ref.id);
    bool row = false;
    const DWORD error = exists.Step(&row);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    return row ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The opening every call shares, in the order that decides which error a
// call reports when several apply: the handle (ERROR_INVALID_HANDLE), then
// the call's own arguments (argumentError, checked by the caller
// beforehand), then the handle's access (rights, 0 when the call checks
// none here), then one transaction, in which the key must still exist.
// status() is the first of these that failed; the transaction lasts as long
// as the KeyCall.
class KeyCall {
public:
    KeyCall(HKEY key, DWORD argumentError, REGSAM rights, RegistryTransaction::Intent intent) {
        status_ = ResolveHandle(key, &ref_);
        if (status_ == ERROR_SUCCESS) {
            status_ = argumentError;
        }
        if (status_ == ERROR_SUCCESS && rights != 0 && !Allows(ref_, rights)) {
            status_ = ERROR_ACCESS_DENIED;
        }
        if (status_ == ERROR_SUCCESS) {
            tx_.emplace(intent);
            status_ = Begin(*tx_, ref_);
        }
    }

    DWORD status() const { return status_; }
    const KeyRef &ref() const { return ref_; }
    // Only when status() is ERROR_SUCCESS.
    RegistryTransaction &tx() { return *tx_; }

private:
    KeyRef ref_;
    std::optional<RegistryTransaction> tx_;
    DWORD status_ = ERROR_SUCCESS;
};

// Follows names down from key start. *id is the last key found; *found is
// how many names were found (all of them on ERROR_SUCCESS).
DWORD Walk(const RegistryTransaction &tx, int64_t start, const std::vector<std::string> &names,
           int64_t *id, size_t *found) {
    RegistryStatement child = tx.Statement("SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    *id = start;
    *found = 0;
    for (const std::string &name : names) {
        child.Reset();
        child.Bind(1, *id);
        child.BindText(2, name);
        bool row = false;
        const DWORD error = child.Step(&row);
        if (error != ERROR_SUCCESS) {
            return error;
        }
        if (!row) {
            return ERROR_FILE_NOT_FOUND;
        }
        *id = child.Integer(0);
        ++*found;
    }
    return ERROR_SUCCESS;
}

DWORD Touch(const RegistryTransaction &tx, int64_t id) {
    RegistryStatement touch = tx.Statement("UPDATE keys SET last_write = ?1 WHERE id = ?2");
    touch.Bind(1, RegistryNow());
    touch.Bind(2, id);
    return touch.Run();
}

HKEY NewHandle(int64_t id, uint64_t registry, REGSAM access) {
    return reinterpret_cast<HKEY>(
        InsertHandle(std::make_shared<RegistryKey>(id, registry, KeyRights(access))));
}

// Copies name into a caller's buffer of *size characters (its NUL
// counted); ERROR_MORE_DATA when it does not fit.
DWORD CopyName(const std::string &name, LPSTR buffer, LPDWORD size) {
    if (*size <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Hands a value's type and bytes to a caller as RegQueryValueExA does.
DWORD CopyValue(const RegistryStatement &row, int typeColumn, int dataColumn, LPDWORD type,
                BYTE *data, LPDWORD size) {
    if (type != nullptr) {
        *type = static_cast<DWORD>(row.Integer(typeColumn));
    }
    const size_t needed = row.Size(dataColumn);
    if (needed > UINT32_MAX) {
        return ERROR_BADDB;
    }
    DWORD result = ERROR_SUCCESS;
    if (data != nullptr) {
        if (*size < needed) {
            result = ERROR_MORE_DATA;
        } else if (needed != 0) {
            std::memcpy(data, row.Blob(dataColumn), needed);
        }
    }
    if (size != nullptr) {
        *size = static_cast<DWORD>(needed);
    }
    return result;
}

// Steps select, an enumeration of key's values or subkeys (the key bound to
// ?1, the offset to ?2), to its index-th row; ERROR_NO_MORE_ITEMS past the
// last.
DWORD StepToIndex(RegistryStatement &select, int64_t key, DWORD index) {
    select.Bind(1, key);
    select.Bind(2, index);
    bool row = false;
    const DWORD error = select.Step(&row);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    return row ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

// Deletes every value and subkey of key id, and the key itself unless
// keepKey.
DWORD DeleteTree(const RegistryTransaction &tx, int64_t id, bool keepKey) {
    static const char kValues[] =
        "WITH RECURSIVE tree(id) AS ("
        "  SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
        "DELETE FROM vals WHERE key IN tree";
    static const char kKeys[] =
        "WITH RECURSIVE tree(id) AS ("
        "  SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
        "DELETE FROM keys WHERE id IN tree AND (?2 = 0 OR id != ?1)";
    for (const char *sql : {kValues, kKeys}) {
        RegistryStatement remove = tx.Statement(sql);
        remove.Bind(1, id);
        if (sql == kKeys) {
            remove.Bind(2, keepKey ? 1 : 0);
        }
        const DWORD error = remove.Run();
        if (error != ERROR_SUCCESS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

// The parent of key id (0 for the root).
DWORD ParentOf(const RegistryTransaction &tx, int64_t id, int64_t *parent) {
    RegistryStatement select = tx.Statement("SELECT ifnull(parent, 0) FROM keys WHERE id = ?1");
    select.Bind(1, id);
    bool row = false;
    const DWORD error = select.Step(&row);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    *parent = row ? select.Integer(0) : 0;
    return ERROR_SUCCESS;
}

// The deleting calls: key subKey of ref, with everything below it when
// tree, else only when it has no subkeys. A NULL subKey for a tree keeps
// the key itself and deletes what is in it.
DWORD DeleteKey(HKEY key, LPCSTR subKey, bool tree) {
    std::vector<std::string> names;
    const DWORD arguments =
        subKey == nullptr && !tree ? ERROR_INVALID_PARAMETER : SplitKeyPath(subKey, &names);
    KeyCall call(key, arguments, KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                 RegistryTransaction::Intent::kWrite);
    DWORD error = call.status();
    if (error != ERROR_SUCCESS) {
        return error;
    }
    RegistryTransaction &tx = call.tx();
    int64_t id = 0;
    size_t found = 0;
    error = Walk(tx, call.ref().id, names, &id, &found);
    const bool keepKey = subKey == nullptr;
    if (error == ERROR_SUCCESS && id == kRegistryRootKey) {
        error = ERROR_ACCESS_DENIED;
    }
    if (error == ERROR_SUCCESS && !tree) {
        RegistryStatement children = tx.Statement("SELECT 1 FROM keys WHERE parent = ?1");
        children.Bind(1, id);
        bool row = false;
        error = children.Step(&row);
        if (error == ERROR_SUCCESS && row) {
            error = ERROR_ACCESS_DENIED;  // as NT answers for a key with subkeys
        }
    }
    int64_t touched = id;
    if (error == ERROR_SUCCESS && !keepKey) {
        error = ParentOf(tx, id, &touched);
    }
    if (error == ERROR_SUCCESS) {
        error = DeleteTree(tx, id, keepKey);
    }
    if (error == ERROR_SUCCESS && touched != 0) {
        error = Touch(tx, touched);
    }
    return error == ERROR_SUCCESS ? tx.Commit() : error;
}

}  // namespace

}  // namespace nt

using namespace nt;

extern "C" LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM access,
                              PHKEY result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    std::vector<std::string> names;
    const DWORD arguments = SplitKeyPath(subKey, &names);
    KeyCall call(key, arguments, 0, RegistryTransaction::Intent::kRead);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    int64_t id = 0;
    size_t found = 0;
    const DWORD error = Walk(call.tx(), call.ref().id, names, &id, &found);
    if (error == ERROR_SUCCESS) {
        *result = NewHandle(id, call.tx().registry_id(), access);
    }
    return error;
}

extern "C" LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                                DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES /*security*/,
                                PHKEY result, LPDWORD disposition) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    // Only lasting keys are kept: no volatile keys, no links.
    std::vector<std::string> names;
    const DWORD arguments = subKey == nullptr || options != REG_OPTION_NON_VOLATILE
                                ? ERROR_INVALID_PARAMETER
                                : SplitKeyPath(subKey, &names);
    // KEY_CREATE_SUB_KEY is asked only when a key is created, below.
    KeyCall call(key, arguments, 0, RegistryTransaction::Intent::kWrite);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    RegistryTransaction &tx = call.tx();
    int64_t id = 0;
    size_t found = 0;
    DWORD error = Walk(tx, call.ref().id, names, &id, &found);
    const bool creating = error == ERROR_FILE_NOT_FOUND;
    if (creating) {
        error = Allows(call.ref(), KEY_CREATE_SUB_KEY) ? Touch(tx, id) : ERROR_ACCESS_DENIED;
        RegistryStatement insert = tx.Statement(
            "INSERT INTO keys(parent, name, last_write) VALUES(?1, ?2, ?3) RETURNING id");
        for (size_t i = found; i < names.size() && error == ERROR_SUCCESS; ++i) {
            insert.Reset();
            insert.Bind(1, id);
            insert.BindText(2, names[i]);
            insert.Bind(3, RegistryNow());
            bool row = false;
            error = insert.Step(&row);
            if (error == ERROR_SUCCESS && row) {
                id = insert.Integer(0);
                error = insert.Run();
            } else if (error == ERROR_SUCCESS) {
                error = ERROR_BADDB;
            }
        }
    }
    if (error == ERROR_SUCCESS) {
        error = tx.Commit();
    }
    if (error == ERROR_SUCCESS) {
        *result = NewHandle(id, tx.registry_id(), access);
        if (disposition != nullptr) {
            *disposition = creating ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
    }
    return error;
}

extern "C" LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type,
                               const BYTE *data, DWORD size) {
    std::string name;
    DWORD arguments = ValueName(valueName, &name);
    if (arguments == ERROR_SUCCESS && data == nullptr && size != 0) {
        arguments = ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, arguments, KEY_SET_VALUE, RegistryTransaction::Intent::kWrite);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    RegistryTransaction &tx = call.tx();
    // An existing value keeps its name's case and its place in the
    // enumeration order.
    RegistryStatement upsert = tx.Statement(
        "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
        "  ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.Bind(1, call.ref().id);
    upsert.BindText(2, name);
    upsert.Bind(3, type);
    upsert.BindBlob(4, data, size);
    DWORD error = upsert.Run();
    if (error == ERROR_SUCCESS) {
        error = Touch(tx, call.ref().id);
    }
    return error == ERROR_SUCCESS ? tx.Commit() : error;
}

extern "C" LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                 BYTE *data, LPDWORD size) {
    std::string name;
    DWORD arguments = ValueName(valueName, &name);
    if (arguments == ERROR_SUCCESS &&
        (reserved != nullptr || (data != nullptr && size == nullptr))) {
        arguments = ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, arguments, KEY_QUERY_VALUE, RegistryTransaction::Intent::kRead);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    RegistryStatement select =
        call.tx().Statement("SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    select.Bind(1, call.ref().id);
    select.BindText(2, name);
    bool row = false;
    const DWORD error = select.Step(&row);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!row) {
        return ERROR_FILE_NOT_FOUND;
    }
    return CopyValue(select, 0, 1, type, data, size);
}

extern "C" LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                              LPDWORD reserved, LPDWORD type, BYTE *data, LPDWORD dataSize) {
    const bool badArguments = valueName == nullptr || valueNameSize == nullptr ||
                              reserved != nullptr || (data != nullptr && dataSize == nullptr);
    KeyCall call(key, badArguments ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS, KEY_QUERY_VALUE,
                 RegistryTransaction::Intent::kRead);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    // Values come in the order they were first set, as on NT.
    RegistryStatement select = call.tx().Statement(
        "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
    DWORD error = StepToIndex(select, call.ref().id, index);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    const std::string name = select.Text(0);
    if (*valueNameSize <= name.size()) {
        // Nothing is written; the data size is still told.
        if (dataSize != nullptr) {
            *dataSize = static_cast<DWORD>(select.Size(2));
        }
        return ERROR_MORE_DATA;
    }
    error = CopyValue(select, 1, 2, type, data, dataSize);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    return CopyName(name, valueName, valueNameSize);
}

extern "C" LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                              LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime) {
    const bool badArguments = name == nullptr || nameSize == nullptr || reserved != nullptr ||
                              (keyClass != nullptr && classSize == nullptr);
    KeyCall call(key, badArguments ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS,
                 KEY_ENUMERATE_SUB_KEYS, RegistryTransaction::Intent::kRead);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    // Subkeys come sorted by their names in capitals, as on NT.
    RegistryStatement select = call.tx().Statement(
        "SELECT name, last_write FROM keys WHERE parent = ?1"
        "  ORDER BY upper(name), name LIMIT 1 OFFSET ?2");
    DWORD error = StepToIndex(select, call.ref().id, index);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    // Keys have no class here: it is always empty.
    if (keyClass != nullptr && *classSize == 0) {
        return ERROR_MORE_DATA;
    }
    error = CopyName(select.Text(0), name, nameSize);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (keyClass != nullptr) {
        keyClass[0] = '\0';
        *classSize = 0;
    }
    if (lastWriteTime != nullptr) {
        const uint64_t time = static_cast<uint64_t>(select.Integer(1));
        lastWriteTime->dwLowDateTime = static_cast<DWORD>(time);
        lastWriteTime->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    return ERROR_SUCCESS;
}

extern "C" LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    std::string name;
    const DWORD arguments = ValueName(valueName, &name);
    KeyCall call(key, arguments, KEY_SET_VALUE, RegistryTransaction::Intent::kWrite);
    if (call.status() != ERROR_SUCCESS) {
        return call.status();
    }
    RegistryTransaction &tx = call.tx();
    RegistryStatement remove =
        tx.Statement("DELETE FROM vals WHERE key = ?1 AND name = ?2 RETURNING 1");
    remove.Bind(1, call.ref().id);
    remove.BindText(2, name);
    bool row = false;
    DWORD error = remove.Step(&row);
    if (error == ERROR_SUCCESS) {
        error = row ? remove.Run() : ERROR_FILE_NOT_FOUND;
    }
    if (error == ERROR_SUCCESS) {
        error = Touch(tx, call.ref().id);
    }
    return error == ERROR_SUCCESS ? tx.Commit() : error;
}

extern "C" LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) { return DeleteKey(key, subKey, false); }

extern "C" LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) { return DeleteKey(key, subKey, true); }

extern "C" LONG RegCloseKey(HKEY key) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(key);
    if (value >= 0x80000000u && value <= 0x800000FFu) {
        return ERROR_SUCCESS;  // predefined keys are never closed
    }
    HANDLE handle = reinterpret_cast<HANDLE>(key);
    if (LookupHandleAs<RegistryKey>(handle) == nullptr || !RemoveHandle(handle)) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}
