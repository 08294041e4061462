// One complete HTTP(S) exchange with the update server, body held in memory.
#pragma once

#include "net/byte_buffer.h"

// GET when formBody is null, else a form POST carrying formBody. Appends the response body
// to response (handed in empty) and returns the HTTP status, or 0 when no complete
// response was obtained. With a progressLabel, reports "Dang tai ..." through SetStatus and
// SetProgress while a body of announced length arrives.
int HttpRequest(const char* url, ByteBuffer& response, const char* progressLabel,
                const char* formBody);
