// One HTTP request as qelt-server keeps it from its first callback to its completion, and
// the plain-text answers every part of the server gives.
#pragma once

#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "register_request.h"
#include "serve_path.h"

struct Request {
    std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
    char Client[INET6_ADDRSTRLEN] = "-";
    std::string Method;
    std::string Url;
    int Status = 0;
    uint64_t Bytes = 0;
    bool Mapped = false;
    ServedPath Path;
    // Registration.
    bool IsRegister = false;
    bool TooLarge = false;
    std::string Body;
    RegisterForm Form;
    MHD_Connection* Connection = nullptr;
    bool Answered = false; // set by the hash worker before it resumes the connection
    int AnswerStatus = 0;
    const char* AnswerText = nullptr;
    std::string AnswerOwned;
};

// Queues text (UTF-8) as a plain-text answer that no cache keeps, and notes it in r.
MHD_Result Answer(MHD_Connection* connection, Request* r, int status, const char* text);
MHD_Result NotFound(MHD_Connection* connection, Request* r);

// The client for the log and the registration limit: the peer, or the address a trusted
// proxy names in X-Real-IP.
void IdentifyClient(MHD_Connection* connection, Request* r);

// An IPv4 or IPv6 peer as text into out (at least INET6_ADDRSTRLEN bytes); an IPv4 client
// of a dual-stack socket is written as IPv4. False for any other kind of address.
bool AddressText(const sockaddr* address, char* out, size_t cap);
