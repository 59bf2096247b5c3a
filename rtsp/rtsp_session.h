// One RTSP connection: the request loop (pure over a send function, so tests
// see the exact bytes) and, after PLAY, the streaming phase on the same
// connection. All state lives in the connection's own thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace lcx {

struct RtspServer;
struct StreamChannel;

using SendFunction = std::function<bool(std::string_view)>;

struct RtspConnection {
  RtspServer* server = nullptr;
  std::string nonce;  // 32 hex digits, fixed for the connection
  bool authenticated = false;
  bool sub_selected = false;  // once chosen, kept for the connection
};

enum class RequestOutcome {
  kContinue,  // answered; read the next request
  kClose,     // TEARDOWN answered, or a write failed
  kPlay,      // PLAY answered; start streaming
};

// Handles one received request text and writes its answer through `send`.
RequestOutcome HandleRtspRequest(RtspConnection& connection, std::string_view request,
                                 const SendFunction& send);

// The channel the connection plays.
StreamChannel& SelectedChannel(RtspServer& server, const RtspConnection& connection);

// Streams `channel` to the client on `fd` until a write fails, the client
// closes or sends TEARDOWN (answered, then closed). Other requests while
// streaming are read and dropped. Counts the client in and out of the viewers.
void StreamToClient(RtspServer& server, StreamChannel& channel, int fd);

// Runs one accepted connection to its end and closes it.
void RtspSession(RtspServer& server, UniqueFd socket);

}  // namespace lcx
