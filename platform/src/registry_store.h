// The registry's store: the process's one SQLite connection to registry.db.
//
// Every Reg* call works inside one RegistryTransaction. Making one takes the
// process's registry lock (so the connection is used by one thread at a
// time), finds the registry of the current NT root and begins a transaction
// on it: a read transaction (BEGIN) or a write transaction (BEGIN
// IMMEDIATE, which waits for other writers up to the busy timeout, 10 s,
// instead of failing later on an upgrade). The connection follows the root:
// when nt::RootPath() names another folder, or registry.db has been removed
// or replaced, the next transaction lets go of it and opens the file that
// is there now. A process that forks leaves its parent's connection alone
// and opens one of its own.
//
// The store never creates registry.db (CreateRegistryDatabase does, in
// registry_store.cc, and nothing else): a missing file fails a read
// transaction with ERROR_FILE_NOT_FOUND, as an absent key would, and a write
// transaction with ERROR_CANTOPEN.
//
// Schema (format 1):
//   registry(name, value)            'format' = 1, 'id' = a random number
//                                    that names this registry file
//   keys(id, parent, name, last_write)
//       id AUTOINCREMENT, so a deleted key's id is never given to another
//       key and a handle to it stays stale; the root HKEY_LOCAL_MACHINE is
//       id 1 with a NULL parent; name COLLATE NOCASE, unique under a parent;
//       last_write in FILETIME units (100 ns since 1601)
//   vals(key, name, type, data)      name COLLATE NOCASE, unique in a key;
//                                    data the value's exact bytes
// NOCASE folds ASCII letters only, which is how names compare here.
#ifndef PLATFORM_REGISTRY_STORE_H
#define PLATFORM_REGISTRY_STORE_H

#include <cstdint>
#include <mutex>
#include <string>

#include "nt/wintypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nt {

// The Win32 error code that stands for SQLite result code rc (primary or
// extended), traced with the call and the database path like errno errors.
DWORD ErrorFromSqlite(int rc, const char *call, const std::string &path);

// The root key's id.
constexpr int64_t kRegistryRootKey = 1;

// One prepared statement, finalized when it goes. A failure to prepare or
// bind is kept and returned by the first Step or Run.
class RegistryStatement {
public:
    RegistryStatement(sqlite3 *db, const char *sql, const std::string &path);
    ~RegistryStatement();
    RegistryStatement(const RegistryStatement &) = delete;
    RegistryStatement &operator=(const RegistryStatement &) = delete;

    void Bind(int index, int64_t number);
    // The statement binds its own copy of the bytes, so the caller's may go
    // at once (a temporary string is fine).
    void BindText(int index, const std::string &text);
    void BindBlob(int index, const void *data, size_t size);

    // Runs one step: ERROR_SUCCESS with *row telling whether a row came,
    // else the Win32 error.
    DWORD Step(bool *row);
    // Runs the statement to its end, for statements that return no rows.
    DWORD Run();
    // Makes the statement ready to run again with new bindings.
    void Reset();

    int64_t Integer(int column) const;
    std::string Text(int column) const;
    const void *Blob(int column) const;  // null when the size is 0
    size_t Size(int column) const;

private:
    void Check(int rc, const char *call);

    sqlite3_stmt *statement_ = nullptr;
    const std::string &path_;
    DWORD status_ = ERROR_SUCCESS;
};

class RegistryTransaction {
public:
    enum class Intent { kRead, kWrite };

    explicit RegistryTransaction(Intent intent);
    // Rolls back what was not committed.
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction &) = delete;
    RegistryTransaction &operator=(const RegistryTransaction &) = delete;

    // ERROR_SUCCESS when the transaction is open; else why not.
    DWORD status() const { return status_; }
    // True when the root has no registry.db (status() is then the error
    // that stands for it).
    bool absent() const { return absent_; }
    // The id of the open registry file, for handles to tell whether their
    // key lives in it.
    uint64_t registry_id() const { return registry_id_; }

    // A statement on this transaction's connection; it must go before the
    // transaction does. Only while status() is ERROR_SUCCESS.
    RegistryStatement Statement(const char *sql) const;

    DWORD Commit();

private:
    std::unique_lock<std::mutex> lock_;
    sqlite3 *db_ = nullptr;
    std::string path_;
    uint64_t registry_id_ = 0;
    DWORD status_ = ERROR_SUCCESS;
    bool absent_ = false;
    bool open_ = false;
};

// The current time in FILETIME units.
int64_t RegistryNow();

}  // namespace nt

#endif  // PLATFORM_REGISTRY_STORE_H
