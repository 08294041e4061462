// Plain-text answers and the client's address.
#include "request.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

#include "options.h"
#include "server_texts.h"

MHD_Result Answer(MHD_Connection* connection, Request* r, int status, const char* text) {
    // Copied: a refusal text may live in the request, which can end before the response.
    MHD_Response* response = MHD_create_response_from_buffer(strlen(text), const_cast<char*>(text),
                                                             MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    r->Status = status;
    r->Bytes = strlen(text);
    return queued;
}

MHD_Result NotFound(MHD_Connection* connection, Request* r) {
    return Answer(connection, r, MHD_HTTP_NOT_FOUND, kAnswerNotFound);
}

bool AddressText(const sockaddr* address, char* out, size_t cap) {
    if (address->sa_family == AF_INET) {
        return inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, out,
                         static_cast<socklen_t>(cap)) != nullptr;
    }
    if (address->sa_family == AF_INET6) {
        const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a6)) {
            return inet_ntop(AF_INET, &a6.s6_addr[12], out, static_cast<socklen_t>(cap)) != nullptr;
        }
        return inet_ntop(AF_INET6, &a6, out, static_cast<socklen_t>(cap)) != nullptr;
    }
    return false;
}

void IdentifyClient(MHD_Connection* connection, Request* r) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return;
    }
    AddressText(info->client_addr, r->Client, sizeof r->Client);
    for (const std::string& proxy : g_Options.TrustedProxies) {
        if (proxy != r->Client) {
            continue;
        }
        const char* real = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Real-IP");
        unsigned char parsed[sizeof(in6_addr)];
        if (real == nullptr) {
            break;
        }
        if (inet_pton(AF_INET, real, parsed) == 1) {
            inet_ntop(AF_INET, parsed, r->Client, sizeof r->Client);
        } else if (inet_pton(AF_INET6, real, parsed) == 1) {
            inet_ntop(AF_INET6, parsed, r->Client, sizeof r->Client);
        }
        break;
    }
}
