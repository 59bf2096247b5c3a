// Framing of one RTSP connection: the only RTSP code that reads or writes a
// connection's descriptor. Binds ConnectionIo to the socket, sets its options
// for each phase and runs the session (rtsp_session.h) on it.
#pragma once

#include "platform/unique_fd.h"
#include "rtsp/rtsp_session.h"

namespace lcx {

// A requesting connection that sends nothing for this long is closed.
// Clients send their next request right after each answer; recorders that
// keep a connection idle are already streaming, where it does not apply.
inline constexpr int kRequestIdleTimeoutMs = 60'000;

// Runs one accepted connection to its end and closes it.
void RtspSession(const RtspSessionContext& context, UniqueFd socket,
                 int request_idle_timeout_ms = kRequestIdleTimeoutMs);

}  // namespace lcx
