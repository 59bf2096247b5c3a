// Framing of one RTSP connection: the only RTSP code that reads or writes a
// connection's descriptor. Binds ConnectionIo to the socket, sets its options
// for each phase and runs the session (rtsp_session.h) on it.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/unique_fd.h"
#include "rtsp/rtsp_session.h"

namespace lcx {

// A requesting connection that sends nothing for this long is closed.
// Clients send their next request right after each answer; recorders that
// keep a connection idle are already streaming, where it does not apply.
inline constexpr int kRequestIdleTimeoutMs = 60'000;

// The client-to-server half of an HTTP tunnel, handed to the thread of its GET.
struct TunnelPost {
  UniqueFd socket;
  std::string body;  // Base64 that came with the POST's head
};

// Tunnels whose GET waits for its POST, by x-sessioncookie; shared by the
// server's connection threads. `mutex_` guards the table and nothing else is
// taken while it is held.
class RtspTunnels {
 public:
  // The GET's thread: claims `cookie`; false when another GET holds it.
  bool Open(const std::string& cookie);
  // The GET's thread: waits up to `timeout_ms` for the POST and gives the
  // cookie up either way.
  std::optional<TunnelPost> WaitForPost(const std::string& cookie, int timeout_ms);
  // The POST's thread: hands its socket to the waiting GET; false (and the
  // socket left with the caller) when no GET waits for that cookie.
  bool Attach(const std::string& cookie, TunnelPost& post);

 private:
  std::mutex mutex_;
  std::condition_variable attached_;
  std::map<std::string, std::optional<TunnelPost>> waiting_;
};

// A sender's sockets to the multicast group: RTP to `port`, RTCP to the
// port above, at most `ttl` hops; nothing when the group is no multicast
// address or the sockets fail (logged).
std::optional<UdpMedia> OpenMulticastMedia(const std::string& group, uint16_t port, int ttl);

struct PushTarget;
// The publisher's connection to its server as a ConnectionIo owning the
// socket; nothing (and the reason) when it cannot connect.
std::optional<ConnectionIo> ConnectPublisher(const PushTarget& target, std::string* why);

// Runs one accepted connection to its end and closes it. With `tunnels` the
// connection may also be a half of RTSP tunnelled in HTTP.
void RtspSession(const RtspSessionContext& context, UniqueFd socket,
                 int request_idle_timeout_ms = kRequestIdleTimeoutMs, RtspTunnels* tunnels = nullptr);

}  // namespace lcx
