// Chooses the account store from the --db value.
#include "account_store.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

} // namespace

bool OpenAccountStore(const std::string& where, AccountStore* store, std::string* error) {
    if (StartsWith(where, "sqlite:")) {
        const std::string path = where.substr(7);
        if (path.empty()) {
            *error = "sqlite: needs a file path, as in sqlite:/var/lib/qelt/accounts.db";
            return false;
        }
        return OpenSqliteStore(path, store, error);
    }
    if (StartsWith(where, "postgresql://") || StartsWith(where, "postgres://")) {
#ifdef QELT_WITH_POSTGRES
        return OpenPostgresStore(where, store, error);
#else
        *error = "this qelt-server was built without PostgreSQL support (QELT_WITH_POSTGRES)";
        return false;
#endif
    }
    *error = "unknown database \"" + where + "\": use sqlite:PATH or postgresql://...";
    return false;
}
