// The bounds on connections that libmicrohttpd does not keep by itself. At its own
// connection limit it stops accepting and leaves the excess waiting in the listen backlog,
// and its time-out counts silence only, so a client that sends one byte every few seconds
// would hold its connection for ever. Here:
//  - over the limit in all, or over the limit for its client address, a connection is
//    closed as soon as it is accepted (trusted proxies carry many players: no address
//    limit for them);
//  - a request must arrive whole (request line, headers and body) within a time from the
//    moment its connection is ready for it; one that takes longer has its connection shut.
#pragma once

#include <microhttpd.h>
#include <sys/socket.h>

#include <string>
#include <vector>

struct ConnectionLimits {
    unsigned Total = 0;              // connections held at once
    unsigned PerAddress = 0;         // from one client address; 0: no limit
    unsigned RequestSeconds = 0;     // for one request to arrive whole
    std::vector<std::string> Exempt; // addresses without a per-address limit
};

// Starts the watchdog thread that shuts requests over their time and reports refusals on
// standard error (the first at once, then at most one line a minute).
void StartConnectionGuard(const ConnectionLimits& limits);
// Ends the watchdog; call after the HTTP daemon has stopped.
void StopConnectionGuard();

// libmicrohttpd's accept policy: takes a place for the connection, or refuses it.
MHD_Result AdmitConnection(void*, const sockaddr* address, socklen_t length);
// libmicrohttpd's connection notification: follows each admitted connection to its close.
void TrackConnection(void*, MHD_Connection* connection, void** socketContext,
                     MHD_ConnectionNotificationCode code);
// The request on connection has arrived whole: its clock stops while it is answered.
void RequestArrived(MHD_Connection* connection);
// connection is ready for its next request, whose clock starts now.
void RequestDone(MHD_Connection* connection);
