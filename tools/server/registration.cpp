// Registration: form, limit, hash, store, hook.
#include "registration.h"

#include <sodium.h>
#include <spawn.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "options.h"
#include "server_texts.h"

extern char** environ;

namespace {

constexpr size_t kMaxQueuedHashes = 256;

AccountStore* g_Store = nullptr;

std::mutex g_RateLock;
std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> g_RecentRegistrations;

// Counts one attempt of client; false when it already made the limit within a minute.
bool AllowRegistration(const std::string& client) {
    if (g_Options.RegisterLimit == 0) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto horizon = now - std::chrono::minutes(1);
    std::lock_guard<std::mutex> hold(g_RateLock);
    if (g_RecentRegistrations.size() > 100000) { // forget quiet addresses before growing on
        for (auto it = g_RecentRegistrations.begin(); it != g_RecentRegistrations.end();) {
            it = it->second.back() < horizon ? g_RecentRegistrations.erase(it) : std::next(it);
        }
    }
    auto& times = g_RecentRegistrations[client];
    while (!times.empty() && times.front() < horizon) {
        times.pop_front();
    }
    if (times.size() >= g_Options.RegisterLimit) {
        return false;
    }
    times.push_back(now);
    return true;
}

std::mutex g_HashLock;
std::condition_variable g_HashWake;
std::deque<Request*> g_HashQueue;
bool g_HashStop = false;
std::vector<std::thread> g_Hashers;

void RunRegisterHook(const std::string& account) {
    if (g_Options.OnRegister.empty()) {
        return;
    }
    char* const argv[] = {const_cast<char*>(g_Options.OnRegister.c_str()),
                          const_cast<char*>(account.c_str()), nullptr};
    pid_t pid;
    // SIGCHLD is ignored, so the kernel reaps the hook when it ends.
    if (posix_spawnp(&pid, g_Options.OnRegister.c_str(), nullptr, nullptr, argv, environ) != 0) {
        fprintf(stderr, "qelt-server: cannot run %s\n", g_Options.OnRegister.c_str());
    }
}

void CreateAccount(Request* r) {
    char hash[crypto_pwhash_STRBYTES];
    // Argon2id at the interactive cost: 64 MiB and about a tenth of a second per hash, which
    // is why only --hash-threads of them run at once.
    if (crypto_pwhash_str(hash, r->Form.Password.data(), r->Form.Password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        r->AnswerStatus = MHD_HTTP_SERVICE_UNAVAILABLE;
        r->AnswerText = kAnswerBusy;
        return;
    }
    switch (g_Store->Insert(g_Store->Impl, r->Form.Account, r->Form.Email, hash)) {
    case InsertResult::Created:
        r->AnswerStatus = MHD_HTTP_OK;
        r->AnswerText = kAnswerRegistered;
        RunRegisterHook(r->Form.Account);
        break;
    case InsertResult::Taken:
        r->AnswerStatus = MHD_HTTP_CONFLICT;
        r->AnswerText = kAnswerTaken;
        break;
    case InsertResult::Unavailable:
        r->AnswerStatus = MHD_HTTP_SERVICE_UNAVAILABLE;
        r->AnswerText = kAnswerUnavailable;
        break;
    }
    sodium_memzero(&r->Form.Password[0], r->Form.Password.size());
    sodium_memzero(&r->Body[0], r->Body.size());
}

void HashWorker() {
    for (;;) {
        Request* r;
        {
            std::unique_lock<std::mutex> hold(g_HashLock);
            g_HashWake.wait(hold, [] { return g_HashStop || !g_HashQueue.empty(); });
            if (g_HashQueue.empty()) {
                return;
            }
            r = g_HashQueue.front();
            g_HashQueue.pop_front();
        }
        CreateAccount(r);
        r->Answered = true;
        MHD_resume_connection(r->Connection);
    }
}

bool QueueHash(Request* r) {
    std::lock_guard<std::mutex> hold(g_HashLock);
    if (g_HashStop || g_HashQueue.size() >= kMaxQueuedHashes) {
        return false;
    }
    g_HashQueue.push_back(r);
    g_HashWake.notify_one();
    return true;
}

bool IsFormContent(MHD_Connection* connection) {
    const char* type =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    static const char kForm[] = "application/x-www-form-urlencoded";
    return type != nullptr && strncasecmp(type, kForm, sizeof kForm - 1) == 0 &&
           (type[sizeof kForm - 1] == '\0' || type[sizeof kForm - 1] == ';' ||
            type[sizeof kForm - 1] == ' ');
}

} // namespace

void StartRegistration(AccountStore* store, unsigned hashThreads) {
    g_Store = store;
    for (unsigned i = 0; i < hashThreads; ++i) {
        g_Hashers.emplace_back(HashWorker);
    }
}

void StopRegistration() {
    {
        std::lock_guard<std::mutex> hold(g_HashLock);
        g_HashStop = true;
    }
    g_HashWake.notify_all();
    for (std::thread& t : g_Hashers) {
        t.join(); // the queue is drained first: every parked connection is resumed
    }
    g_Hashers.clear();
}

MHD_Result Register(MHD_Connection* connection, Request* r, const char* data, size_t* dataSize) {
    if (r->Answered) { // back from the hash worker
        return Answer(connection, r, r->AnswerStatus, r->AnswerText);
    }
    if (*dataSize > 0) {
        if (r->Body.size() + *dataSize > kMaxRegisterBody) {
            r->TooLarge = true;
        } else {
            r->Body.append(data, *dataSize);
        }
        *dataSize = 0;
        return MHD_YES;
    }
    if (r->TooLarge) {
        return Answer(connection, r, MHD_HTTP_CONTENT_TOO_LARGE, kAnswerTooLarge);
    }
    if (!IsFormContent(connection) || !ParseRegisterForm(r->Body, &r->Form)) {
        return Answer(connection, r, MHD_HTTP_BAD_REQUEST, kAnswerBadForm);
    }
    r->AnswerOwned = CheckRegisterForm(r->Form);
    if (!r->AnswerOwned.empty()) {
        return Answer(connection, r, MHD_HTTP_BAD_REQUEST, r->AnswerOwned.c_str());
    }
    if (!AllowRegistration(r->Client)) {
        return Answer(connection, r, MHD_HTTP_TOO_MANY_REQUESTS, kAnswerTooMany);
    }
    r->Connection = connection;
    // Hashing takes a tenth of a second and much memory: it runs on its own threads while
    // this connection is parked, so the HTTP threads keep serving files.
    MHD_suspend_connection(connection);
    if (!QueueHash(r)) {
        MHD_resume_connection(connection);
        r->Answered = true;
        r->AnswerStatus = MHD_HTTP_SERVICE_UNAVAILABLE;
        r->AnswerText = kAnswerBusy;
    }
    return MHD_YES;
}
