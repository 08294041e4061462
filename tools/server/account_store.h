// The account store behind qelt-server: one small interface, two implementations
// (SQLite embedded, PostgreSQL shared between instances), chosen by the --db value.
#pragma once

#include <string>

enum class InsertResult {
    Created,     // committed: the caller may answer 200
    Taken,       // an account with this name exists, without regard to letter case
    Unavailable, // the database could not be reached or could not commit
};

// An open store: the implementation's state and its two operations. Plain function
// pointers, so that each implementation lives in its own file and links in on its own.
struct AccountStore {
    void* Impl = nullptr;
    // Stores one account; the name, e-mail and hash are valid UTF-8 already checked by the
    // caller. Safe to call from several threads at once.
    InsertResult (*Insert)(void* impl, const std::string& account, const std::string& email,
                           const std::string& passwordHash) = nullptr;
    void (*Close)(void* impl) = nullptr;
};

// Opens "sqlite:PATH" or "postgresql://..." (also "postgres://..."), creating the table
// when it does not exist. False with a reason in *error when it cannot be opened.
bool OpenAccountStore(const std::string& where, AccountStore* store, std::string* error);

// The implementations, selected by OpenAccountStore.
bool OpenSqliteStore(const std::string& path, AccountStore* store, std::string* error);
bool OpenPostgresStore(const std::string& conninfo, AccountStore* store, std::string* error);
