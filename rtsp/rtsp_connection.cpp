// Socket side of an RTSP connection. Runs on the connection's own thread and
// touches only its own descriptor.
#include "rtsp/rtsp_connection.h"

#include "platform/net.h"
#include "security/digest.h"

namespace lcx {
namespace {

// Kernel send buffer of a playing connection (Linux doubles the value). Left
// to autotuning it grows to megabytes, i.e. many seconds of video that a
// client on a slow or stalled link must drain before it sees the present;
// capped, the client falls behind the queue instead and skips forward to the
// newest key frame. About a second at 2 Mbit/s, and still 10 Mbit/s over a
// 200 ms round trip.
constexpr int kStreamingSendBufferBytes = 128 * 1024;

ConnectionIo SocketIo(int fd) {
  ConnectionIo io;
  io.send = [fd](std::string_view bytes) { return SendAll(fd, bytes); };
  io.receive = [fd](char* buffer, size_t capacity) { return ReceiveSome(fd, buffer, capacity); };
  io.has_input = [fd] { return BytesAvailable(fd) > 0; };
  io.peer_closed = [fd] { return PeerHasClosed(fd); };
  io.start_streaming = [fd] {
    // The time-outs bound the requesting phase only: a playing client that
    // stops reading must block its own thread and nothing else, and resume
    // when it reads.
    SetReceiveTimeoutMs(fd, 0);
    SetSendTimeoutMs(fd, 0);
    SetSendBufferBytes(fd, kStreamingSendBufferBytes);
    // Frames go out in whole-frame (or 64 KiB) writes, so there are no small
    // pieces for Nagle to merge; left on, it holds a frame's tail until the
    // client's (delayed, up to 40 ms) acknowledgement of the previous one.
    SetNoDelay(fd);
  };
  return io;
}

}  // namespace

void RtspSession(const RtspSessionContext& context, UniqueFd socket, int request_idle_timeout_ms) {
  const int fd = socket.get();
  SetReceiveTimeoutMs(fd, request_idle_timeout_ms);
  SetSendTimeoutMs(fd, request_idle_timeout_ms);
  // The session identifier only tells a client's sessions apart; random so
  // no two connections share one.
  ServeRtspConnection(context, RandomHex(16), RandomHex(8), SocketIo(fd));
}

}  // namespace lcx
