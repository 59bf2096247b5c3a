// Request loop and streaming phase of one RTSP connection. Runs on the
// connection's own thread; it takes the viewer mutex only to count itself in,
// and a channel's mutex only inside BuildSdp and WaitNextFrame.
#include "rtsp/rtsp_session.h"

#include <cerrno>
#include <chrono>
#include <optional>

#include "core/log.h"
#include "platform/net.h"
#include "rtsp/rtp_h264.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/rtsp_server.h"
#include "rtsp/sdp.h"
#include "security/digest.h"

namespace lcx {
namespace {

constexpr size_t kRequestBufferBytes = 8191;
constexpr size_t kStreamingReadBytes = 2047;
// How long the streaming loop waits for a frame before it looks at the
// socket again (TEARDOWN while the stream is idle).
constexpr std::chrono::milliseconds kFramePollInterval{200};
// Kernel send buffer of a playing connection (Linux doubles the value). Left
// to autotuning it grows to megabytes, i.e. many seconds of video that a
// client on a slow or stalled link must drain before it sees the present;
// capped, the client falls behind the queue instead and skips forward to the
// newest key frame. About a second at 2 Mbit/s, and still 10 Mbit/s over a
// 200 ms round trip.
constexpr int kStreamingSendBufferBytes = 128 * 1024;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

StreamChannel& SelectedChannel(RtspServer& server, const RtspConnection& connection) {
  return connection.sub_selected ? server.video.sub_channel : server.video.main_channel;
}

RequestOutcome HandleRtspRequest(RtspConnection& connection, std::string_view request,
                                 const SendFunction& send) {
  RtspServer& server = *connection.server;
  const RtspSettings& settings = server.settings;
  const std::string_view method = RtspMethod(request);
  const int cseq = RtspCSeq(request);

  if (settings.auth_required && !connection.authenticated && method != "OPTIONS") {
    if (!CheckRtspAuth(request, method, kRtspRealm, connection.nonce, settings.user, settings.password)) {
      return send(BuildUnauthorizedResponse(cseq, kRtspRealm, connection.nonce)) ? RequestOutcome::kContinue
                                                                                 : RequestOutcome::kClose;
    }
    connection.authenticated = true;
  }

  if (server.video.sub_on && !settings.sub_name.empty() && Contains(request, settings.sub_name))
    connection.sub_selected = true;

  std::string response;
  RequestOutcome outcome = RequestOutcome::kContinue;
  if (method == "OPTIONS") {
    response = BuildOptionsResponse(cseq);
  } else if (method == "DESCRIBE") {
    response = BuildDescribeResponse(cseq, BuildSdp(SelectedChannel(server, connection)));
    LogLine("RTSP: DESCRIBE -> %s\n", connection.sub_selected ? "SUB (screensub)" : "MAIN (screenlive)");
  } else if (method == "SETUP") {
    if (WantsInterleavedTransport(request)) {
      response = BuildSetupResponse(cseq);
    } else {
      response = BuildUnsupportedTransportResponse(cseq);
      LogLine("RTSP: SETUP طلب UDP -> 461 (هيعيد بـTCP)\n");
    }
  } else if (method == "PLAY") {
    response = BuildPlayResponse(cseq);
    outcome = RequestOutcome::kPlay;
  } else if (method == "TEARDOWN") {
    send(BuildTeardownResponse(cseq));
    return RequestOutcome::kClose;
  } else {
    response = BuildPlainOkResponse(cseq);
  }
  return send(response) ? outcome : RequestOutcome::kClose;
}

void StreamToClient(RtspServer& server, StreamChannel& channel, int fd) {
  VideoEngine& video = server.video;
  {
    std::lock_guard lock(video.viewer_mutex);
    if (video.ViewerCount.fetch_add(1) == 0) video.KeyframeRequest.store(true);
  }
  video.wake_up.notify_all();

  RtpOut out([fd](std::string_view bytes) { return SendAll(fd, bytes); });
  uint16_t sequence = 0;
  std::optional<uint64_t> cursor;
  char incoming[kStreamingReadBytes];
  for (;;) {
    FrameEntry frame = WaitNextFrame(channel, cursor, kFramePollInterval);
    // No frame came (paused producer, failing grabs): a client that has
    // left would go unnoticed until the next send, so look for its close.
    if (!frame.access_unit && PeerHasClosed(fd)) break;
    if (frame.access_unit && !frame.access_unit->empty() &&
        !SendRtpFrame(out, frame.access_unit->data(), frame.access_unit->size(), sequence, frame.timestamp,
                      kRtpSsrc))
      break;
    frame = FrameEntry{};  // drop our reference before a possibly long wait

    // Clients send keep-alives and receiver reports while playing: read and
    // drop them, but stop at a TEARDOWN. RTCP data holds zero bytes, so the
    // whole read is searched, not just up to the first zero.
    if (BytesAvailable(fd) > 0) {
      ssize_t n = ReceiveSome(fd, incoming, sizeof incoming);
      if (n <= 0) break;
      std::string_view received(incoming, static_cast<size_t>(n));
      size_t teardown = received.find("TEARDOWN");
      if (teardown != std::string_view::npos) {
        // Answered (GStreamer reports an error when the connection just
        // closes under its TEARDOWN); the frame before it is complete.
        SendAll(fd, BuildTeardownResponse(RtspCSeq(received.substr(teardown))));
        break;
      }
    }
  }
  video.ViewerCount.fetch_sub(1);
}

void RtspSession(RtspServer& server, UniqueFd socket) {
  const int fd = socket.get();
  RtspConnection connection;
  connection.server = &server;
  connection.nonce = RandomHex(16);
  // Bound the requesting phase only: a playing client that stops reading
  // must block its own thread and nothing else, and resume when it reads.
  SetReceiveTimeoutMs(fd, server.request_idle_timeout_ms);
  SetSendTimeoutMs(fd, server.request_idle_timeout_ms);

  const SendFunction send = [fd](std::string_view bytes) { return SendAll(fd, bytes); };
  char buffer[kRequestBufferBytes];
  for (;;) {
    ssize_t n = ReceiveSome(fd, buffer, kRequestBufferBytes);
    if (n <= 0) return;
    RequestOutcome outcome = HandleRtspRequest(connection, std::string_view(buffer, static_cast<size_t>(n)), send);
    if (outcome == RequestOutcome::kClose) return;
    if (outcome == RequestOutcome::kPlay) break;
  }
  SetReceiveTimeoutMs(fd, 0);
  SetSendTimeoutMs(fd, 0);
  SetSendBufferBytes(fd, kStreamingSendBufferBytes);
  // Frames go out in whole-frame (or 64 KiB) writes, so there are no small
  // pieces for Nagle to merge; left on, it holds a frame's tail until the
  // client's (delayed, up to 40 ms) acknowledgement of the previous one.
  SetNoDelay(fd);
  StreamToClient(server, SelectedChannel(server, connection), fd);
}

}  // namespace lcx
