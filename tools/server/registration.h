// Account registration: the per-address limit, the form checks, and the Argon2id hashing on
// threads of its own while the connection waits parked.
#pragma once

#include <microhttpd.h>

#include <cstddef>

#include "account_store.h"
#include "request.h"

// Registration bodies are three short fields; anything larger is not a launcher.
inline constexpr size_t kMaxRegisterBody = 4096;

// Starts the hash workers that store accounts in store (kept open by the caller).
void StartRegistration(AccountStore* store, unsigned hashThreads);
// Lets the queued registrations finish, resuming every parked connection, then ends the
// workers. Call before the HTTP daemon stops.
void StopRegistration();

// The access handler's work for POST /launcher/register after its first call: collects the
// body, answers refusals, or parks the connection while its account is created.
MHD_Result Register(MHD_Connection* connection, Request* r, const char* data, size_t* dataSize);
