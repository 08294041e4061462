// The PostgreSQL account store: one database shared by several qelt-server instances.
// Same table and rules as the SQLite store; a small pool of connections, one per request.
#include <poll.h>

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "account_store.h"

namespace {

// One row per account. The unique index on lower(account) makes "Player1" and "player1"
// one name; the index, not a look-up before the insert, decides between two instances.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " account TEXT NOT NULL,"
    " email TEXT NOT NULL,"
    " password_hash TEXT NOT NULL,"
    " created TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE UNIQUE INDEX IF NOT EXISTS accounts_account_nocase ON accounts (lower(account));";

// Two instances that start together would both try to create the table; IF NOT EXISTS does
// not make that safe in PostgreSQL, a transaction-scoped advisory lock does.
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7402711)";

constexpr char kInsert[] = "INSERT INTO accounts (account, email, password_hash) "
                           "VALUES ($1, $2, $3) ON CONFLICT DO NOTHING";

// Connections kept open; requests beyond it wait for one to come free, up to kWait.
constexpr size_t kMaxConnections = 8;
constexpr auto kWait = std::chrono::seconds(10);

struct PgStore {
    std::string ConnInfo;
    std::mutex Lock;
    std::condition_variable Freed;
    std::vector<PGconn*> Idle;
    size_t Open = 0; // connections in existence, idle or in use
};

bool CommandOk(PGconn* conn, const char* sql, std::string* error) {
    PGresult* result = PQexec(conn, sql);
    const ExecStatusType status = PQresultStatus(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok && error != nullptr) {
        *error = PQresultErrorMessage(result);
    }
    PQclear(result);
    return ok;
}

// A new connection with the session settings the store relies on: an insert is answered
// only once its commit is on disk, whatever the server's default, and a dead peer is
// noticed in seconds rather than after the system's TCP time-out.
PGconn* Connect(const std::string& connInfo, std::string* error) {
    // Keywords given before dbname are defaults that the caller's URL may override.
    const char* const keys[] = {"connect_timeout",  "keepalives", "keepalives_idle",
                                "tcp_user_timeout", "dbname",     nullptr};
    const char* const values[] = {"5", "1", "10", "10000", connInfo.c_str(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (conn == nullptr) {
        *error = "out of memory";
        return nullptr;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        *error = PQerrorMessage(conn);
        PQfinish(conn);
        return nullptr;
    }
    // Notices ("relation already exists, skipping") are not worth the operator's log.
    if (!CommandOk(conn, "SET synchronous_commit = on; SET client_min_messages = warning", error)) {
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

// An idle connection has nothing to read. When its socket is readable the server has
// sent its farewell (restart, fail-over, idle kill) and closed it, or is about to: it is
// replaced before use. Reading the farewell alone would not yet show the connection as
// broken, so readability is the test.
bool StillAlive(PGconn* conn) {
    if (PQstatus(conn) != CONNECTION_OK) {
        return false;
    }
    pollfd fd = {};
    fd.fd = PQsocket(conn);
    fd.events = POLLIN;
    return fd.fd >= 0 && poll(&fd, 1, 0) == 0;
}

// Takes an idle connection, opens one while fewer than kMaxConnections exist, or waits.
PGconn* Acquire(PgStore* store) {
    PGconn* conn = nullptr;
    {
        std::unique_lock<std::mutex> hold(store->Lock);
        const bool ready = store->Freed.wait_for(
            hold, kWait, [store] { return !store->Idle.empty() || store->Open < kMaxConnections; });
        if (!ready) {
            return nullptr;
        }
        if (!store->Idle.empty()) {
            conn = store->Idle.back();
            store->Idle.pop_back();
        } else {
            ++store->Open; // reserved; connected below without holding the lock
        }
    }
    if (conn != nullptr && StillAlive(conn)) {
        return conn;
    }
    if (conn != nullptr) {
        PQfinish(conn);
    }
    std::string error;
    conn = Connect(store->ConnInfo, &error);
    if (conn == nullptr) {
        std::lock_guard<std::mutex> hold(store->Lock);
        --store->Open;
        store->Freed.notify_one();
    }
    return conn;
}

// Returns a connection to the pool, or drops it when it is broken or mid-transaction.
void Release(PgStore* store, PGconn* conn) {
    const bool reusable =
        PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) == PQTRANS_IDLE;
    if (!reusable) {
        PQfinish(conn);
    }
    std::lock_guard<std::mutex> hold(store->Lock);
    if (reusable) {
        store->Idle.push_back(conn);
    } else {
        --store->Open;
    }
    store->Freed.notify_one();
}

// One autocommit statement: the reply comes after the commit, so Created means committed.
// Anything uncertain (connection lost after sending) is Unavailable, never Created.
InsertResult Insert(void* impl, const std::string& account, const std::string& email,
                    const std::string& passwordHash) {
    auto* store = static_cast<PgStore*>(impl);
    PGconn* conn = Acquire(store);
    if (conn == nullptr) {
        return InsertResult::Unavailable;
    }
    const char* const params[] = {account.c_str(), email.c_str(), passwordHash.c_str()};
    InsertResult outcome = InsertResult::Unavailable;
    PGresult* result = PQexecParams(conn, kInsert, 3, nullptr, params, nullptr, nullptr, 0);
    if (PQresultStatus(result) == PGRES_COMMAND_OK) {
        outcome =
            strcmp(PQcmdTuples(result), "1") == 0 ? InsertResult::Created : InsertResult::Taken;
    }
    PQclear(result);
    Release(store, conn);
    return outcome;
}

void Close(void* impl) {
    auto* store = static_cast<PgStore*>(impl);
    for (PGconn* conn : store->Idle) {
        PQfinish(conn);
    }
    delete store;
}

} // namespace

bool OpenPostgresStore(const std::string& conninfo, AccountStore* store, std::string* error) {
    PGconn* conn = Connect(conninfo, error);
    if (conn == nullptr) {
        return false;
    }
    std::string reason;
    // With the table in place, an instance needs no right to create anything, so that it
    // can run under a role that may only insert.
    PGresult* exists = PQexec(conn, "SELECT to_regclass('accounts_account_nocase') IS NOT NULL");
    const bool haveSchema = PQresultStatus(exists) == PGRES_TUPLES_OK && PQntuples(exists) == 1 &&
                            strcmp(PQgetvalue(exists, 0, 0), "t") == 0;
    PQclear(exists);
    const bool ready =
        haveSchema || (CommandOk(conn, "BEGIN", &reason) && CommandOk(conn, kSchemaLock, &reason) &&
                       CommandOk(conn, kSchema, &reason) && CommandOk(conn, "COMMIT", &reason));
    if (!ready) {
        *error = "cannot create the accounts table: " + reason;
        PQfinish(conn);
        return false;
    }
    auto* impl = new PgStore;
    impl->ConnInfo = conninfo;
    impl->Idle.push_back(conn);
    impl->Open = 1;
    store->Impl = impl;
    store->Insert = Insert;
    store->Close = Close;
    return true;
}
