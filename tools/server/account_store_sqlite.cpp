// The SQLite account store: one embedded database file, one writer at a time.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "account_store.h"

namespace {

// One row per account. COLLATE NOCASE on the unique name makes "Player1" and "player1"
// one account (names are ASCII letters and digits, which NOCASE folds).
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " account TEXT NOT NULL UNIQUE COLLATE NOCASE,"
    " email TEXT NOT NULL,"
    " password_hash TEXT NOT NULL,"
    " created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')))";

constexpr char kInsert[] =
    "INSERT INTO accounts (account, email, password_hash) VALUES (?1, ?2, ?3)";

// How long an insert waits for another writer (another process holding the file) before
// the registration is answered as unavailable.
constexpr int kBusyTimeoutMs = 2000;

struct SqliteStore {
    sqlite3* Db = nullptr;
    sqlite3_stmt* InsertStatement = nullptr;
    std::mutex Lock; // one connection, used by one thread at a time
};

InsertResult Insert(void* impl, const std::string& account, const std::string& email,
                    const std::string& passwordHash) {
    auto* store = static_cast<SqliteStore*>(impl);
    std::lock_guard<std::mutex> hold(store->Lock);
    sqlite3_stmt* statement = store->InsertStatement;
    sqlite3_reset(statement);
    sqlite3_bind_text(statement, 1, account.data(), static_cast<int>(account.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, email.data(), static_cast<int>(email.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 3, passwordHash.data(), static_cast<int>(passwordHash.size()),
                      SQLITE_TRANSIENT);
    // In autocommit mode SQLITE_DONE means the row's transaction has committed, and with
    // synchronous=FULL the write-ahead log has been synced to disk.
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (rc == SQLITE_DONE) {
        return InsertResult::Created;
    }
    if (sqlite3_extended_errcode(store->Db) == SQLITE_CONSTRAINT_UNIQUE) {
        return InsertResult::Taken;
    }
    return InsertResult::Unavailable;
}

void Close(void* impl) {
    auto* store = static_cast<SqliteStore*>(impl);
    sqlite3_finalize(store->InsertStatement);
    sqlite3_close(store->Db);
    delete store;
}

bool Exec(sqlite3* db, const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        *error = std::string(sql) + ": " + (message != nullptr ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
        return false;
    }
    return true;
}

} // namespace

bool OpenSqliteStore(const std::string& path, AccountStore* store, std::string* error) {
    // The file holds e-mail addresses and password hashes: readable by its owner only.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    close(fd);
    auto* impl = new SqliteStore;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &impl->Db, flags, nullptr) != SQLITE_OK) {
        *error = path + ": " + sqlite3_errmsg(impl->Db);
        Close(impl);
        return false;
    }
    sqlite3_busy_timeout(impl->Db, kBusyTimeoutMs);
    sqlite3_stmt* mode = nullptr;
    bool wal = false;
    std::string reason;
    if (sqlite3_prepare_v2(impl->Db, "PRAGMA journal_mode=WAL", -1, &mode, nullptr) == SQLITE_OK &&
        sqlite3_step(mode) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode, 0));
        wal = text != nullptr && sqlite3_stricmp(text, "wal") == 0;
        reason = text != nullptr ? std::string("it stays in mode ") + text : "no mode";
    } else {
        reason = sqlite3_errmsg(impl->Db);
    }
    sqlite3_finalize(mode);
    if (!wal) {
        *error = path + ": cannot switch the database to write-ahead logging: " + reason;
        Close(impl);
        return false;
    }
    if (!Exec(impl->Db, "PRAGMA synchronous=FULL", error) || !Exec(impl->Db, kSchema, error)) {
        Close(impl);
        return false;
    }
    if (sqlite3_prepare_v2(impl->Db, kInsert, -1, &impl->InsertStatement, nullptr) != SQLITE_OK) {
        *error = path + ": " + sqlite3_errmsg(impl->Db);
        Close(impl);
        return false;
    }
    store->Impl = impl;
    store->Insert = Insert;
    store->Close = Close;
    return true;
}
