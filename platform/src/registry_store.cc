// The registry's store; see registry_store.h and nt/registry.h.
#include "registry_store.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "errors.h"
#include "nt/registry.h"
#include "nt/win32.h"

namespace nt {

namespace {

// How long a transaction waits for another process's write to end before
// the call fails with ERROR_BUSY.
constexpr int kBusyTimeoutMs = 10000;

constexpr int64_t kFormat = 1;

// The process's connection, and what it is a connection to.
struct Connection {
    sqlite3 *db = nullptr;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    pid_t owner = 0;  // the process that opened it
    uint64_t id = 0;  // registry.id of the file
};

struct Store {
    std::mutex lock;
    Connection current;
    // Connections never to be used or closed again: those inherited from a
    // parent process over fork (closing would act on the parent's files),
    // and those whose file was removed or replaced under them (SQLite
    // removes "registry.db-wal" by name when it closes the last connection
    // of a file, and that name may belong to the new file by now).
    std::vector<sqlite3 *> abandoned;
};

Store &TheStore() {
    static Store *store = new Store;  // lives as long as the process
    return *store;
}

// Runs sql, which returns no rows worth reading.
DWORD Execute(sqlite3 *db, const char *sql, const std::string &path) {
    char *message = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        Trace("sqlite3_exec(%s) on %s: %s", sql, path.c_str(), message ? message : "");
    }
    sqlite3_free(message);
    return ErrorFromSqlite(rc, "sqlite3_exec", path);
}

// The registry and its journals are its owner's alone. SQLite gives a
// journal, a write-ahead log and its index the mode of the database file,
// so a database made 0600 keeps them so; this also mends the files of a
// root made before, when they are ours. By path, never by opening the
// file: closing a descriptor on it would drop this process's locks.
void KeepPrivate(const std::string &path) {
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string file = path + suffix;
        struct stat info;
        if (lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            (info.st_mode & 077) != 0) {
            chmod(file.c_str(), info.st_mode & 0700);
        }
    }
}

// Opens the existing database file path, without ever creating it.
DWORD OpenDatabase(const std::string &path, sqlite3 **db) {
    *db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        if (*db != nullptr) {
            Trace("sqlite3_open_v2(%s): %s", path.c_str(), sqlite3_errmsg(*db));
        }
        sqlite3_close(*db);
        *db = nullptr;
        return ErrorFromSqlite(rc, "sqlite3_open_v2", path);
    }
    sqlite3_extended_result_codes(*db, 1);
    sqlite3_busy_timeout(*db, kBusyTimeoutMs);
    return Execute(*db, "PRAGMA synchronous=FULL", path);
}

// Reads the registry table of an open file: its format must be ours.
DWORD ReadIdentity(sqlite3 *db, const std::string &path, uint64_t *id) {
    RegistryStatement read(db,
                           "SELECT (SELECT value FROM registry WHERE name = 'format'),"
                           "       (SELECT value FROM registry WHERE name = 'id')",
                           path);
    bool row = false;
    const DWORD error = read.Step(&row);  // "no such table" is ERROR_BADDB
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!row || read.Integer(0) != kFormat) {
        Trace("%s: not a registry of format %" PRId64, path.c_str(), kFormat);
        return ERROR_BADDB;
    }
    *id = static_cast<uint64_t>(read.Integer(1));
    return ERROR_SUCCESS;
}

// Lets go of the current connection: closed when its file is still the one
// at its path, else abandoned (see Store).
void LetGo(Store &store) {
    Connection &current = store.current;
    if (current.db == nullptr) {
        return;
    }
    struct stat info;
    if (current.owner == getpid() && stat(current.path.c_str(), &info) == 0 &&
        info.st_dev == current.device && info.st_ino == current.inode) {
        sqlite3_close_v2(current.db);
    } else {
        store.abandoned.push_back(current.db);
    }
    current = Connection();
}

// Makes store.current a connection to the file at path (whose status is
// info), reusing the one there when it is still the right one.
DWORD Connect(Store &store, const std::string &path, const struct stat &info) {
    Connection &current = store.current;
    if (current.db != nullptr && (current.owner != getpid() || current.path != path ||
                                  current.device != info.st_dev || current.inode != info.st_ino)) {
        LetGo(store);
    }
    if (current.db != nullptr) {
        return ERROR_SUCCESS;
    }
    KeepPrivate(path);
    sqlite3 *db = nullptr;
    DWORD error = OpenDatabase(path, &db);
    uint64_t id = 0;
    if (error == ERROR_SUCCESS) {
        error = ReadIdentity(db, path, &id);
    }
    if (error != ERROR_SUCCESS) {
        sqlite3_close_v2(db);
        return error;
    }
    current.db = db;
    current.path = path;
    current.device = info.st_dev;
    current.inode = info.st_ino;
    current.owner = getpid();
    current.id = id;
    return ERROR_SUCCESS;
}

// The schema, made or completed inside one write transaction. Every
// statement leaves what is there alone.
DWORD BuildSchema(sqlite3 *db, const std::string &path) {
    char sql[2048];
    const int64_t now = RegistryNow();
    std::snprintf(sql, sizeof sql,
                  "CREATE TABLE IF NOT EXISTS registry("
                  "  name TEXT PRIMARY KEY, value NOT NULL);"
                  "CREATE TABLE IF NOT EXISTS keys("
                  "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
                  "  parent INTEGER REFERENCES keys(id),"
                  "  name TEXT NOT NULL COLLATE NOCASE,"
                  "  last_write INTEGER NOT NULL,"
                  "  UNIQUE(parent, name));"
                  "CREATE TABLE IF NOT EXISTS vals("
                  "  key INTEGER NOT NULL REFERENCES keys(id),"
                  "  name TEXT NOT NULL COLLATE NOCASE,"
                  "  type INTEGER NOT NULL,"
                  "  data BLOB NOT NULL,"
                  "  UNIQUE(key, name));"
                  "INSERT OR IGNORE INTO registry(name, value) VALUES('format', %" PRId64
                  ");"
                  "INSERT OR IGNORE INTO registry(name, value) VALUES('id', random());"
                  "INSERT OR IGNORE INTO keys(id, parent, name, last_write)"
                  "  VALUES(%" PRId64 ", NULL, '', %" PRId64
                  ");"
                  "INSERT OR IGNORE INTO keys(parent, name, last_write)"
                  "  VALUES(%" PRId64 ", 'SOFTWARE', %" PRId64
                  "),"
                  "        (%" PRId64 ", 'SYSTEM', %" PRId64 ");",
                  kFormat, kRegistryRootKey, now, kRegistryRootKey, now, kRegistryRootKey, now);
    DWORD error = Execute(db, "BEGIN IMMEDIATE", path);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = Execute(db, sql, path);
    if (error == ERROR_SUCCESS) {
        error = Execute(db, "COMMIT", path);
    }
    if (error != ERROR_SUCCESS && !sqlite3_get_autocommit(db)) {
        Execute(db, "ROLLBACK", path);
    }
    return error;
}

// Switches the file to write-ahead logging unless it is there already.
DWORD UseWriteAheadLog(sqlite3 *db, const std::string &path) {
    RegistryStatement mode(db, "PRAGMA journal_mode=WAL", path);
    bool row = false;
    const DWORD error = mode.Step(&row);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!row || strcasecmp(mode.Text(0).c_str(), "wal") != 0) {
        Trace("%s: cannot use write-ahead logging", path.c_str());
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

// Completes the schema of the existing file at path: an empty database
// gets the whole schema, a registry what it lacks, anything else is left
// alone as not a registry.
DWORD CompleteRegistry(const std::string &path) {
    sqlite3 *db = nullptr;
    DWORD error = OpenDatabase(path, &db);
    if (error == ERROR_SUCCESS) {
        // In a block of its own: the statement must be done before the
        // journal mode can change.
        RegistryStatement tables(db,
                                 "SELECT count(*), count(CASE name WHEN 'registry' THEN 1 END)"
                                 "  FROM sqlite_schema WHERE type = 'table'",
                                 path);
        bool row = false;
        error = tables.Step(&row);
        if (error == ERROR_SUCCESS && tables.Integer(0) != 0 && tables.Integer(1) == 0) {
            Trace("%s: a database, but not a registry", path.c_str());
            error = ERROR_BADDB;
        }
    }
    uint64_t id = 0;
    if (error == ERROR_SUCCESS) {
        error = UseWriteAheadLog(db, path);
    }
    if (error == ERROR_SUCCESS) {
        error = BuildSchema(db, path);
    }
    if (error == ERROR_SUCCESS) {
        error = ReadIdentity(db, path, &id);
    }
    sqlite3_close_v2(db);
    return error;
}

// Makes a whole new registry file at path: built at a name of its own,
// then linked into place, so that nobody sees it half made. *exists tells
// when another file got there first (nothing is changed then).
DWORD MakeRegistry(const std::string &path, bool *exists) {
    *exists = false;
    const std::string building = path + ".new." + std::to_string(getpid());
    auto remove_building = [&building]() {
        unlink(building.c_str());
        unlink((building + "-wal").c_str());
        unlink((building + "-shm").c_str());
        unlink((building + "-journal").c_str());
    };
    remove_building();  // what a killed init may have left
    // Made here first, so that it is 0600 whatever the umask; SQLite takes
    // an empty file for an empty database and gives its journals its mode.
    const int made =
        open(building.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made < 0) {
        return ErrorFromErrno(errno, "open", building);
    }
    const bool privateMode = fchmod(made, 0600) == 0;
    const int madeErrno = errno;
    close(made);
    if (!privateMode) {
        remove_building();
        return ErrorFromErrno(madeErrno, "fchmod", building);
    }
    sqlite3 *db = nullptr;
    int rc =
        sqlite3_open_v2(building.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    DWORD error = ErrorFromSqlite(rc, "sqlite3_open_v2", building);
    if (error == ERROR_SUCCESS) {
        sqlite3_extended_result_codes(db, 1);
        error = UseWriteAheadLog(db, building);
    }
    if (error == ERROR_SUCCESS) {
        error = Execute(db, "PRAGMA synchronous=FULL", building);
    }
    if (error == ERROR_SUCCESS) {
        error = BuildSchema(db, building);
    }
    if (error == ERROR_SUCCESS) {
        // Move everything into the main file, so that the file is whole
        // without its log when it is linked into place.
        error = Execute(db, "PRAGMA wal_checkpoint(TRUNCATE)", building);
    }
    rc = sqlite3_close(db);
    if (error == ERROR_SUCCESS) {
        error = ErrorFromSqlite(rc, "sqlite3_close", building);
    }
    if (error == ERROR_SUCCESS && link(building.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) {
            *exists = true;
        } else {
            error = ErrorFromErrno(errno, "link", path);
        }
    }
    remove_building();
    if (error == ERROR_SUCCESS && !*exists) {
        // The new name itself must survive a crash.
        const std::string folder = path.substr(0, path.rfind('/') + 1);
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    return error;
}

}  // namespace

DWORD ErrorFromSqlite(int rc, const char *call, const std::string &path) {
    DWORD code;
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE: return ERROR_SUCCESS;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: code = ERROR_BUSY; break;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
        case SQLITE_SCHEMA:
        case SQLITE_MISMATCH:
        case SQLITE_CONSTRAINT:
        case SQLITE_ERROR: code = ERROR_BADDB; break;
        case SQLITE_CANTOPEN: code = ERROR_CANTOPEN; break;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: code = ERROR_ACCESS_DENIED; break;
        case SQLITE_NOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
        case SQLITE_TOOBIG:
        case SQLITE_RANGE: code = ERROR_INVALID_PARAMETER; break;
        case SQLITE_IOERR:
            code = rc == SQLITE_IOERR_NOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_REGISTRY_IO_FAILED;
            break;
        default: code = ERROR_REGISTRY_IO_FAILED; break;
    }
    Trace("%s(%s): %s (SQLite %d, Win32 error %u)", call, path.c_str(), sqlite3_errstr(rc), rc,
          code);
    return code;
}

int64_t RegistryNow() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    return (static_cast<int64_t>(now.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
           now.tv_nsec / 100;
}

// ---- RegistryStatement ------------------------------------------------------

RegistryStatement::RegistryStatement(sqlite3 *db, const char *sql, const std::string &path)
    : path_(path) {
    Check(sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr), "sqlite3_prepare_v2");
}

RegistryStatement::~RegistryStatement() { sqlite3_finalize(statement_); }

void RegistryStatement::Check(int rc, const char *call) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE || status_ != ERROR_SUCCESS) {
        return;
    }
    sqlite3 *db = statement_ != nullptr ? sqlite3_db_handle(statement_) : nullptr;
    if (db != nullptr) {
        Trace("%s on %s: %s", call, path_.c_str(), sqlite3_errmsg(db));
    }
    status_ = ErrorFromSqlite(rc, call, path_);
    if (statement_ == nullptr && status_ == ERROR_SUCCESS) {
        status_ = ERROR_BADDB;
    }
}

void RegistryStatement::Bind(int index, int64_t number) {
    if (statement_ != nullptr) {
        Check(sqlite3_bind_int64(statement_, index, number), "sqlite3_bind_int64");
    }
}

void RegistryStatement::BindText(int index, const std::string &text) {
    if (statement_ != nullptr) {
        Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT),
              "sqlite3_bind_text");
    }
}

void RegistryStatement::BindBlob(int index, const void *data, size_t size) {
    if (statement_ == nullptr) {
        return;
    }
    if (size > static_cast<size_t>(INT32_MAX)) {
        Check(SQLITE_TOOBIG, "sqlite3_bind_blob");
        return;
    }
    // A null pointer would bind NULL rather than an empty value.
    static const char kNothing = 0;
    Check(sqlite3_bind_blob(statement_, index, size != 0 ? data : &kNothing, static_cast<int>(size),
                            SQLITE_TRANSIENT),
          "sqlite3_bind_blob");
}

DWORD RegistryStatement::Step(bool *row) {
    *row = false;
    if (status_ != ERROR_SUCCESS) {
        return status_;
    }
    if (statement_ == nullptr) {  // empty SQL
        return ERROR_SUCCESS;
    }
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        *row = true;
        return ERROR_SUCCESS;
    }
    Check(rc, "sqlite3_step");
    return status_;
}

DWORD RegistryStatement::Run() {
    bool row = true;
    DWORD error = ERROR_SUCCESS;
    while (row && error == ERROR_SUCCESS) {
        error = Step(&row);
    }
    return error;
}

void RegistryStatement::Reset() {
    if (statement_ != nullptr) {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        status_ = ERROR_SUCCESS;
    }
}

int64_t RegistryStatement::Integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string RegistryStatement::Text(int column) const {
    const unsigned char *text = sqlite3_column_text(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char *>(text), static_cast<size_t>(size))
               : std::string();
}

const void *RegistryStatement::Blob(int column) const {
    return sqlite3_column_blob(statement_, column);
}

size_t RegistryStatement::Size(int column) const {
    return static_cast<size_t>(sqlite3_column_bytes(statement_, column));
}

// ---- RegistryTransaction ----------------------------------------------------

RegistryTransaction::RegistryTransaction(Intent intent) : lock_(TheStore().lock) {
    Store &store = TheStore();
    path_ = RegistryFilePath(RootPath());
    struct stat info;
    if (stat(path_.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            // The one place that decides what a root without a registry
            // means: reads find nothing, writes cannot happen.
            LetGo(store);
            absent_ = true;
            status_ = intent == Intent::kRead ? ERROR_FILE_NOT_FOUND : ERROR_CANTOPEN;
            Trace("%s: no registry here (run 'ntroot init')", path_.c_str());
        } else {
            status_ = ErrorFromErrno(errno, "stat", path_);
        }
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        Trace("%s: not a file", path_.c_str());
        status_ = ERROR_BADDB;
        return;
    }
    status_ = Connect(store, path_, info);
    if (status_ != ERROR_SUCCESS) {
        return;
    }
    db_ = store.current.db;
    registry_id_ = store.current.id;
    status_ = Execute(db_, intent == Intent::kWrite ? "BEGIN IMMEDIATE" : "BEGIN", path_);
    open_ = status_ == ERROR_SUCCESS;
}

RegistryTransaction::~RegistryTransaction() {
    if (open_ && !sqlite3_get_autocommit(db_)) {
        Execute(db_, "ROLLBACK", path_);
    }
}

RegistryStatement RegistryTransaction::Statement(const char *sql) const {
    return RegistryStatement(db_, sql, path_);
}

DWORD RegistryTransaction::Commit() {
    if (!open_) {
        return status_ != ERROR_SUCCESS ? status_ : ERROR_INVALID_PARAMETER;
    }
    const DWORD error = Execute(db_, "COMMIT", path_);
    if (error != ERROR_SUCCESS && !sqlite3_get_autocommit(db_)) {
        Execute(db_, "ROLLBACK", path_);
    }
    open_ = false;
    return error;
}

// ---- nt/registry.h ----------------------------------------------------------

std::string RegistryFilePath(const std::string &root) { return root + "/registry.db"; }

DWORD CreateRegistryDatabase(const std::string &root, bool *created) {
    if (created != nullptr) {
        *created = false;
    }
    // One maker at a time per root: the folder itself is the lock.
    const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return ErrorFromErrno(errno, "open", root);
    }
    while (flock(folder, LOCK_EX) != 0 && errno == EINTR) {
    }
    bool made = false;
    const std::string path = RegistryFilePath(root);
    struct stat info;
    DWORD error = ERROR_SUCCESS;
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = ErrorFromErrno(errno, "stat", path);
        } else {
            // A log left by a registry that was removed would be taken for
            // the new file's own.
            unlink((path + "-wal").c_str());
            unlink((path + "-shm").c_str());
            bool exists = false;
            error = MakeRegistry(path, &exists);
            made = error == ERROR_SUCCESS && !exists;
        }
    }
    if (error == ERROR_SUCCESS && !made) {
        KeepPrivate(path);
        error = CompleteRegistry(path);
    }
    close(folder);  // and with it the lock
    if (created != nullptr) {
        *created = made;
    }
    return error;
}

}  // namespace nt
