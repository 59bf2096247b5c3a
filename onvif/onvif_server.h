// The ONVIF HTTP server: the listener thread and one detached thread per
// connection, each serving exactly one request (read, answer, close). The
// connection table (onvif_connections.h) caps the threads and has its own
// mutex; the service object is only read.
#pragma once

#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"
#include "platform/unique_fd.h"

namespace lcx {

// Thread body: binds onvif_port and serves for ever; returns when the port
// cannot be bound.
void RunOnvifHttp(OnvifService& service);
// Accept loop on a listening socket; returns when the socket stops being a
// listener (closed or shut down), which only tests do.
// The used WS-Security tokens are remembered for as long as it runs.
void ServeOnvifConnections(const OnvifService& service, int listen_fd);
// One connection: read one request, answer it, close the socket.
void HandleOnvifConnection(const OnvifService& service, OnvifAuthState& auth, UniqueFd socket);

}  // namespace lcx
