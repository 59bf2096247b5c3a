// The ONVIF HTTP server: the listener thread and one thread per connection,
// each serving exactly one request (read, answer, close). The connection
// table (platform/connection_table.h) caps the connections and the thread
// group (platform/thread_group.h) owns their threads, each with its own
// mutex; the service object is only read.
#pragma once

#include "core/http_request.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"
#include "platform/unique_fd.h"

namespace lcx {

// The shared framing's options on the ONVIF port: one bound for the head and
// the body together, one budget for the whole request, and a body handled as
// it arrived (without a length: whatever came with the head). The answer has
// the shared whole-answer budget, so a peer reading a snapshot a byte at a
// time cannot hold its thread for hours.
HttpLimits OnvifHttpLimits(const OnvifLimits& limits);

// Thread body: binds onvif_port and serves for ever; returns when the port
// cannot be bound.
void RunOnvifHttp(const OnvifService& service);
// Accept loop on a listening socket; returns when the socket stops being a
// listener (closed or shut down), which only tests do, once the connections
// it started have ended: `service` only has to outlive the call.
// The used WS-Security tokens are remembered for as long as it runs.
void ServeOnvifConnections(const OnvifService& service, int listen_fd);
// One connection: read one request, answer it, close the socket.
void HandleOnvifConnection(const OnvifService& service, OnvifAuthState& auth, UniqueFd socket);

}  // namespace lcx
