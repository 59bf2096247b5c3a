// Request loop and streaming phase of one RTSP connection, over the
// connection's io. Runs on the connection's own thread; it takes the viewer
// mutex only to count itself in, and a channel's mutex only inside BuildSdp
// and WaitNextFrame.
#include "rtsp/rtsp_session.h"

#include <chrono>
#include <optional>
#include <utility>

#include "core/log.h"
#include "rtsp/rtp_h264.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/sdp.h"
#include "video/stream_channel.h"

namespace lcx {
namespace {

constexpr size_t kRequestBufferBytes = 8191;
constexpr size_t kStreamingReadBytes = 2047;
// How long the streaming loop waits for a frame before it looks at the
// connection again (TEARDOWN while the stream is idle).
constexpr std::chrono::milliseconds kFramePollInterval{200};

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

void CountViewerIn(const RtspViewers& viewers) {
  {
    std::lock_guard lock(viewers.mutex);
    if (viewers.count.fetch_add(1) == 0) viewers.keyframe_request.store(true);
  }
  viewers.wake_up.notify_all();
}

}  // namespace

StreamChannel& SelectedChannel(const RtspSessionContext& context, const RtspConnection& connection) {
  return connection.sub_selected ? context.sub_channel : context.main_channel;
}

RequestOutcome HandleRtspRequest(RtspConnection& connection, std::string_view request,
                                 const SendFunction& send) {
  const RtspSessionContext& context = *connection.context;
  const RtspSettings& settings = context.settings;
  const std::string_view method = RtspMethod(request);
  const int cseq = RtspCSeq(request);

  if (settings.auth_required && !connection.authenticated && method != "OPTIONS") {
    if (!CheckRtspAuth(request, method, kRtspRealm, connection.nonce, settings.user, settings.password)) {
      return send(BuildUnauthorizedResponse(cseq, kRtspRealm, connection.nonce)) ? RequestOutcome::kContinue
                                                                                 : RequestOutcome::kClose;
    }
    connection.authenticated = true;
  }

  if (context.sub_on && !settings.sub_name.empty() && Contains(request, settings.sub_name))
    connection.sub_selected = true;

  std::string response;
  RequestOutcome outcome = RequestOutcome::kContinue;
  if (method == "OPTIONS") {
    response = BuildOptionsResponse(cseq);
  } else if (method == "DESCRIBE") {
    response = BuildDescribeResponse(cseq, BuildSdp(SelectedChannel(context, connection)));
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

void StreamToClient(const RtspSessionContext& context, StreamChannel& channel, const ConnectionIo& io) {
  CountViewerIn(context.viewers);

  RtpOut out(io.send);
  uint16_t sequence = 0;
  std::optional<uint64_t> cursor;
  char incoming[kStreamingReadBytes];
  for (;;) {
    FrameEntry frame = WaitNextFrame(channel, cursor, kFramePollInterval);
    // No frame came (paused producer, failing grabs): a client that has
    // left would go unnoticed until the next send, so look for its close.
    if (!frame.access_unit && io.peer_closed()) break;
    if (frame.access_unit && !frame.access_unit->empty() &&
        !SendRtpFrame(out, frame.access_unit->data(), frame.access_unit->size(), sequence, frame.timestamp,
                      kRtpSsrc))
      break;
    frame = FrameEntry{};  // drop our reference before a possibly long wait

    // Clients send keep-alives and receiver reports while playing: read and
    // drop them, but stop at a TEARDOWN. RTCP data holds zero bytes, so the
    // whole read is searched, not just up to the first zero.
    if (io.has_input()) {
      long n = io.receive(incoming, sizeof incoming);
      if (n <= 0) break;
      std::string_view received(incoming, static_cast<size_t>(n));
      size_t teardown = received.find("TEARDOWN");
      if (teardown != std::string_view::npos) {
        // Answered (GStreamer reports an error when the connection just
        // closes under its TEARDOWN); the frame before it is complete.
        io.send(BuildTeardownResponse(RtspCSeq(received.substr(teardown))));
        break;
      }
    }
  }
  context.viewers.count.fetch_sub(1);
}

void ServeRtspConnection(const RtspSessionContext& context, std::string nonce, const ConnectionIo& io) {
  // A guessable nonce would let a recorded Digest answer be replayed.
  if (nonce.empty()) {
    LogLine("RTSP: no random nonce for the connection, closing it\n");
    return;
  }
  RtspConnection connection;
  connection.context = &context;
  connection.nonce = std::move(nonce);
  char buffer[kRequestBufferBytes];
  for (;;) {
    long n = io.receive(buffer, sizeof buffer);
    if (n <= 0) return;
    RequestOutcome outcome = HandleRtspRequest(connection, std::string_view(buffer, static_cast<size_t>(n)), io.send);
    if (outcome == RequestOutcome::kClose) return;
    if (outcome == RequestOutcome::kPlay) break;
  }
  io.start_streaming();
  StreamToClient(context, SelectedChannel(context, connection), io);
}

}  // namespace lcx
