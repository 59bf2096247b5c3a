// One RTSP connection as a session over a ConnectionIo: the request loop,
// then after PLAY the streaming phase. No descriptor here (rtsp_connection
// binds the io to the socket), so tests drive it with strings. It sees the
// server through RtspSessionContext only; all state lives in the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/subsystem_settings.h"
#include "rtsp/rtp_udp.h"
#include "rtsp/rtsp_framer.h"

namespace lcx {

struct StreamChannel;

using SendFunction = std::function<bool(std::string_view)>;

// The producer's viewer bookkeeping, shared with every playing connection:
// `mutex` is held only to count in (and raise the key-frame request) and out
// (and empty the queues); the channels' mutexes may be taken under it.
struct RtspViewers {
  std::atomic<int32_t>& count;
  std::atomic<bool>& keyframe_request;
  std::mutex& mutex;
  std::condition_variable& wake_up;
};

// Nanoseconds since 1970 (the system clock): the wall-clock time sender
// reports map the stream to. A seam for tests.
using WallClock = std::function<int64_t()>;
int64_t WallClockNs();

// What a session needs of its server; the references outlive every session.
struct RtspSessionContext {
  const RtspSettings& settings;
  bool sub_on;
  StreamChannel& main_channel;
  StreamChannel& sub_channel;
  RtspViewers viewers;
  WallClock wall_clock_ns = WallClockNs;
  // A multicast viewer of the sub-stream (true) or main stream arrives
  // (false when the stream's shared sender cannot run) and leaves; empty:
  // multicast is refused with 461.
  std::function<bool(bool sub)> join_multicast;
  std::function<void(bool sub)> leave_multicast;
};

// RTP and RTCP to one viewer over UDP; the framing binds it to a pair of
// sockets that send only to the RTSP connection's peer.
struct UdpMedia {
  uint16_t server_port = 0;  // RTP; RTCP on the port above
  UdpClientPorts client;
  // Interleaved bytes as RtpOut gathers them, each packet one datagram:
  // channel 0 to the client's RTP port, 1 to its RTCP port; paced. False
  // when the sockets failed.
  SendFunction send;
  // One datagram the viewer sent to our RTCP port: its length, 0 when none
  // waits, below 0 on failure. Never blocks.
  std::function<long(char* buffer, size_t capacity)> receive_control;
  // Drops whatever the viewer sent to our RTP port (the packets some send to
  // open a firewall).
  std::function<void()> drain_media;
};
using OpenUdpMedia = std::function<std::optional<UdpMedia>(const UdpClientPorts& client)>;

// The connection as the session sees it; the framing binds each function to
// the socket.
struct ConnectionIo {
  SendFunction send;  // writes every byte; false when the connection is gone
  // One read of at most `capacity` bytes: the count, 0 when the peer closed,
  // below 0 on failure or time-out.
  std::function<long(char* buffer, size_t capacity)> receive;
  std::function<bool()> has_input;    // bytes are waiting (never blocks)
  std::function<bool()> peer_closed;  // closed or reset (never blocks, consumes nothing)
  std::function<void()> start_streaming;  // PLAY answered; before the first frame
  OpenUdpMedia open_udp;  // empty: UDP is refused with 461
};

// Seconds on a clock that never goes back (boot time); the seam tests set.
using SecondsClock = std::function<int64_t()>;
int64_t MonotonicSeconds();

// The PLAY answer the streaming phase sends once it holds the first frame,
// so that its RTP-Info names that frame's time stamp.
struct PlayAnswer {
  int cseq = 0;
  std::string url;  // of the SETUP (the track's control URL), else of the PLAY
};

struct RtspConnection {
  const RtspSessionContext* context = nullptr;
  std::string session_id;  // the connection's own, in every Session header
  // Random, fixed for the connection: the Digest nonces are made under it, so
  // a nonce (and a response over it) from another connection never passes.
  std::string nonce_secret;
  SecondsClock now_s = MonotonicSeconds;  // stamps and ages the nonces
  bool authenticated = false;
  bool sub_selected = false;  // once chosen, kept for the connection
  std::string setup_url;
  PlayAnswer play;  // set when PLAY arrived
  OpenUdpMedia open_udp;          // from the io
  std::optional<UdpMedia> udp;    // the last SETUP asked for UDP
  bool multicast = false;         // the last SETUP asked for the group
};

enum class RequestOutcome {
  kContinue,  // answered; read the next request
  kClose,     // TEARDOWN answered, or a write failed
  kPlay,      // PLAY arrived: start streaming, which answers it
};

// Handles one whole request (as the framer cut it) and writes its answer
// through `send`; a PLAY is answered by StreamToClient.
RequestOutcome HandleRtspRequest(RtspConnection& connection, std::string_view request,
                                 const SendFunction& send);

// A path segment that asks DESCRIBE for the SDP of the multicast group
// ("rtsp://h/screenlive/multicast").
inline constexpr std::string_view kMulticastPathSegment = "multicast";
// The group's RTP port for the stream: the sub-stream's is two above.
uint16_t MulticastPort(const RtspSettings& settings, bool sub);

// The channel the connection plays.
StreamChannel& SelectedChannel(const RtspSessionContext& context, const RtspConnection& connection);

// Answers `play` (seq 0 and the first frame's time stamp) once the first
// frame is at hand, then streams `channel` until a write fails, the peer
// closes or sends TEARDOWN (answered, then the phase ends). An RTCP sender
// report goes on channel 1 before the first frame and then every few
// seconds. Other input while streaming (keep-alive requests, the client's
// "$" frames of receiver reports) is cut by `framer`, which may still hold
// bytes from before PLAY, and dropped. Counts the client in and out of the
// viewers.
// With `udp` the packets go through it instead; keep-alive requests are
// answered, and the phase also ends on an RTCP BYE or when neither RTCP nor
// a request came for kUdpSessionTimeoutS on `now_s`.
void StreamToClient(const RtspSessionContext& context, StreamChannel& channel, const ConnectionIo& io,
                    RtspFramer& framer, const std::string& session_id, const PlayAnswer& play,
                    const UdpMedia* udp = nullptr, const SecondsClock& now_s = MonotonicSeconds);

// A multicast viewer after PLAY: the stream's shared sender carries the
// media, the connection only the answers. Answers PLAY at once, then
// keep-alives, until TEARDOWN (answered), the peer closing, or
// kUdpSessionTimeoutS on `now_s` without a request. Joins and leaves the
// stream's sender.
void WatchMulticast(const RtspSessionContext& context, bool sub, const ConnectionIo& io, RtspFramer& framer,
                    const std::string& session_id, const PlayAnswer& play,
                    const SecondsClock& now_s = MonotonicSeconds);

// The shared sender's loop: streams `channel` through `media` (to the group)
// as one viewer until `keep_going` says no (asked once per frame or poll).
void StreamToGroup(const RtspSessionContext& context, StreamChannel& channel, const UdpMedia& media,
                   const std::function<bool()>& keep_going);

// Runs one connection to its end: requests until PLAY, then the stream;
// `session_id` is the connection's own. An empty `nonce_secret` (no random
// source) is logged and ends the connection at once; so does a request
// beyond kMaxRtspRequestBytes.
void ServeRtspConnection(const RtspSessionContext& context, std::string nonce_secret, std::string session_id,
                         const ConnectionIo& io, const SecondsClock& now_s = MonotonicSeconds);

}  // namespace lcx
