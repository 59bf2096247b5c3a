// Request loop and streaming phase of one RTSP connection, over the
// connection's io. Runs on the connection's own thread; it takes the viewer
// mutex only to count itself in, and a channel's mutex only inside BuildSdp
// and WaitNextFrame.
#include "rtsp/rtsp_session.h"

#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "core/log.h"
#include "platform/system.h"
#include "platform/udp_socket.h"
#include "rtsp/rtcp.h"
#include "rtsp/rtp_h264.h"
#include "rtsp/rtp_udp.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/sdp.h"
#include "video/stream_channel.h"

namespace lcx {
namespace {

constexpr size_t kRequestReadBytes = 8191;
constexpr size_t kStreamingReadBytes = 2047;
// How long the streaming loop waits for a frame before it looks at the
// connection again (TEARDOWN while the stream is idle).
constexpr std::chrono::milliseconds kFramePollInterval{200};
// How long the PLAY answer waits for the first frame before it goes out
// without a time stamp (a producer that cannot grab).
constexpr int kFirstFramePolls = 15;
constexpr const char* kRtcpCname = "lumicast";

// Drops the whole requests the framer holds up to a TEARDOWN, which is
// answered (GStreamer reports an error when the connection just closes under
// its TEARDOWN); the frame before it went out whole. With `answer` every
// other request is answered too (a UDP viewer's keep-alives, which it waits
// for) and counted in *requests.
bool TeardownArrived(RtspFramer& framer, const ConnectionIo& io, const std::string& session_id, bool answer = false,
                     int* requests = nullptr) {
  std::string request;
  for (;;) {
    FramerStatus status = NextRtspRequest(framer, &request);
    if (status == FramerStatus::kNeedMore) return false;
    if (status == FramerStatus::kTooLarge) {
      // Nothing a player sends; dropped like the rest of its input.
      framer.pending.clear();
      return false;
    }
    RequestHead head;
    ParseRtspHead(request, head);
    if (head.method == "TEARDOWN") {
      io.send(BuildTeardownResponse(RtspCSeq(head), session_id));
      return true;
    }
    if (!answer) continue;
    if (requests) ++*requests;
    io.send(head.method == "OPTIONS" ? BuildOptionsResponse(RtspCSeq(head))
                                     : BuildSessionOkResponse(RtspCSeq(head), session_id));
  }
}

// Reads what a UDP viewer sent on our ports; false when it said BYE.
bool ReadUdpControl(const UdpMedia& udp, bool* heard) {
  udp.drain_media();
  char packet[1500];
  for (int i = 0; i < 64; ++i) {
    long n = udp.receive_control(packet, sizeof packet);
    if (n <= 0) break;
    *heard = true;
    if (RtcpHasBye(std::string_view(packet, static_cast<size_t>(n)))) return false;
  }
  return true;
}

void CountViewerIn(const RtspViewers& viewers) {
  {
    std::lock_guard lock(viewers.mutex);
    if (viewers.count.fetch_add(1) == 0) viewers.keyframe_request.store(true);
  }
  viewers.wake_up.notify_all();
}

// The last viewer out empties the queues at once: one who comes before the
// producer notices the idle spell would be sent the old picture first, then
// a jump in the time stamps when its own key frame empties the queue.
void CountViewerOut(const RtspSessionContext& context) {
  std::lock_guard lock(context.viewers.mutex);
  if (context.viewers.count.fetch_sub(1) == 1) {
    ClearFrames(context.main_channel);
    ClearFrames(context.sub_channel);
  }
}

}  // namespace

uint16_t MulticastPort(const RtspSettings& settings, bool sub) {
  return static_cast<uint16_t>(settings.multicast_port + (sub ? 2 : 0));
}

int64_t MonotonicSeconds() { return static_cast<int64_t>(BootTickMs() / 1000); }

int64_t WallClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

StreamChannel& SelectedChannel(const RtspSessionContext& context, const RtspConnection& connection) {
  return connection.sub_selected ? context.sub_channel : context.main_channel;
}

RequestOutcome HandleRtspRequest(RtspConnection& connection, std::string_view request,
                                 const SendFunction& send) {
  const RtspSessionContext& context = *connection.context;
  const RtspSettings& settings = context.settings;
  RequestHead head;
  const bool parsed = ParseRtspHead(request, head);
  const std::string& method = head.method;
  const int cseq = RtspCSeq(head);
  if (!parsed) {
    LogLine("RTSP: request with too many header lines, closing the connection\n");
    send(BuildBadRequestResponse(cseq));
    return RequestOutcome::kClose;
  }

  if (settings.auth_required && !connection.authenticated && method != "OPTIONS") {
    const DigestNonceKey nonces{connection.nonce_secret, connection.now_s()};
    HttpAuthResult result = CheckRtspAuth(head, kRtspRealm, nonces, settings.user, settings.password);
    if (result != HttpAuthResult::kAccepted) {
      const bool stale = result == HttpAuthResult::kStale;
      return send(BuildUnauthorizedResponse(cseq, kRtspRealm, MakeDigestNonce(nonces), stale))
                 ? RequestOutcome::kContinue
                 : RequestOutcome::kClose;
    }
    connection.authenticated = true;
  }

  if (context.sub_on && !settings.sub_name.empty() && NamesStream(head, settings.sub_name))
    connection.sub_selected = true;

  std::string response;
  RequestOutcome outcome = RequestOutcome::kContinue;
  if (method == "OPTIONS") {
    response = BuildOptionsResponse(cseq);
  } else if (method == "DESCRIBE") {
    std::string sdp = BuildSdp(SelectedChannel(context, connection));
    uint32_t group = 0;
    if (NamesStream(head, kMulticastPathSegment) && ParseMulticastGroup(settings.multicast_group, &group))
      sdp = MulticastSdp(sdp, settings.multicast_group, MulticastPort(settings, connection.sub_selected),
                         settings.multicast_ttl);
    response = BuildDescribeResponse(cseq, sdp);
    LogLine("RTSP: DESCRIBE -> %s\n", connection.sub_selected ? "SUB (screensub)" : "MAIN (screenlive)");
  } else if (method == "SETUP") {
    // Interleaved first when a client offers both: it passes every firewall
    // and is what the camera has always served.
    std::optional<UdpClientPorts> udp_ports;
    uint32_t group = 0;
    connection.multicast = false;
    if (WantsInterleavedTransport(head)) {
      connection.setup_url = head.target;
      connection.udp.reset();
      response = BuildSetupResponse(cseq, connection.session_id);
    } else if (WantsMulticastTransport(head)) {
      if (context.join_multicast && ParseMulticastGroup(settings.multicast_group, &group)) {
        connection.setup_url = head.target;
        connection.udp.reset();
        connection.multicast = true;
        const uint16_t port = MulticastPort(settings, connection.sub_selected);
        response = BuildMulticastSetupResponse(cseq, connection.session_id, settings.multicast_group, port,
                                               settings.multicast_ttl, kUdpSessionTimeoutS);
        LogLine("RTSP: SETUP multicast -> %s:%u\n", settings.multicast_group.c_str(), port);
      } else {
        response = BuildUnsupportedTransportResponse(cseq);
        LogLine("RTSP: SETUP multicast without a valid multicast_group -> 461\n");
      }
    } else if (connection.open_udp && (udp_ports = WantsUdpUnicast(head)) &&
               (connection.udp = connection.open_udp(*udp_ports))) {
      connection.setup_url = head.target;
      response = BuildUdpSetupResponse(cseq, connection.session_id, udp_ports->rtp, udp_ports->rtcp,
                                       connection.udp->server_port, kUdpSessionTimeoutS);
      LogLine("RTSP: SETUP UDP -> ports %u-%u to %u-%u\n", connection.udp->server_port,
              connection.udp->server_port + 1u, udp_ports->rtp, udp_ports->rtcp);
    } else {
      response = BuildUnsupportedTransportResponse(cseq);
      LogLine("RTSP: SETUP طلب UDP -> 461 (هيعيد بـTCP)\n");
    }
  } else if (method == "PLAY") {
    connection.play.cseq = cseq;
    connection.play.url = connection.setup_url.empty() ? head.target : connection.setup_url;
    return RequestOutcome::kPlay;
  } else if (method == "TEARDOWN") {
    send(BuildTeardownResponse(cseq, connection.session_id));
    return RequestOutcome::kClose;
  } else {
    response = BuildPlainOkResponse(cseq);
  }
  return send(response) ? outcome : RequestOutcome::kClose;
}

void StreamToClient(const RtspSessionContext& context, StreamChannel& channel, const ConnectionIo& io,
                    RtspFramer& framer, const std::string& session_id, const PlayAnswer& play,
                    const UdpMedia* udp, const SecondsClock& now_s) {
  CountViewerIn(context.viewers);

  RtpOut out(udp ? udp->send : io.send);
  int64_t last_heard_s = udp ? now_s() : 0;
  uint16_t sequence = 0;
  std::optional<uint64_t> cursor;
  char incoming[kStreamingReadBytes];
  // The producer starts on our count-in: wait a little for its first frame,
  // so the answer can tell its time stamp.
  FrameEntry frame = WaitNextFrame(channel, cursor, kFramePollInterval);
  for (int polls = 1; !frame.access_unit && polls < kFirstFramePolls && !io.peer_closed(); ++polls)
    frame = WaitNextFrame(channel, cursor, kFramePollInterval);
  const uint32_t first_timestamp = frame.timestamp;
  bool answered = io.send(BuildPlayResponse(play.cseq, session_id, play.url, sequence,
                                            frame.access_unit ? &first_timestamp : nullptr));
  RtpWallClock clock;
  int64_t last_report_ticks = 0;
  for (bool first = true; answered; first = false) {
    if (!first) frame = WaitNextFrame(channel, cursor, kFramePollInterval);
    // No frame came (paused producer, failing grabs): a client that has
    // left would go unnoticed until the next send, so look for its close.
    if (!frame.access_unit && io.peer_closed()) break;
    if (frame.access_unit && !frame.access_unit->empty()) {
      const bool had_frame = clock.started;
      const int64_t ticks = ObserveFrame(clock, frame.timestamp, context.wall_clock_ns());
      if (!had_frame || ticks - last_report_ticks >= kSenderReportIntervalTicks) {
        out.AppendControl(kRtcpChannel,
                          BuildSenderReport(kRtpSsrc, NtpFromUnixNs(WallNsAt(clock, ticks)), frame.timestamp,
                                            out.packets(), out.payload_octets(), kRtcpCname));
        CloseReportWindow(clock);
        last_report_ticks = ticks;
      }
      if (!SendRtpFrame(out, frame.access_unit->data(), frame.access_unit->size(), sequence, frame.timestamp,
                        kRtpSsrc))
        break;
    }
    frame = FrameEntry{};  // drop our reference before a possibly long wait

    // Clients send keep-alives and receiver reports while playing: read and
    // drop them, but stop at a TEARDOWN.
    if (io.has_input()) {
      long n = io.receive(incoming, sizeof incoming);
      if (n <= 0) break;
      FeedRtspFramer(framer, std::string_view(incoming, static_cast<size_t>(n)));
    }
    if (!udp) {
      if (TeardownArrived(framer, io, session_id)) break;
      continue;
    }
    // Over UDP nothing is written to the connection, so only these tell
    // that the viewer is still there.
    int requests = 0;
    bool heard = false;
    if (TeardownArrived(framer, io, session_id, true, &requests)) break;
    if (!ReadUdpControl(*udp, &heard)) {
      LogLine("RTSP: UDP viewer sent RTCP BYE, ending its session\n");
      break;
    }
    if (io.peer_closed()) break;
    const int64_t now = now_s();
    if (heard || requests > 0) last_heard_s = now;
    if (now - last_heard_s >= kUdpSessionTimeoutS) {
      LogLine("RTSP: UDP viewer silent for %d s, ending its session\n", kUdpSessionTimeoutS);
      break;
    }
  }
  CountViewerOut(context);
}

void WatchMulticast(const RtspSessionContext& context, bool sub, const ConnectionIo& io, RtspFramer& framer,
                    const std::string& session_id, const PlayAnswer& play, const SecondsClock& now_s) {
  if (!context.join_multicast(sub)) {
    io.send(BuildUnsupportedTransportResponse(play.cseq));
    return;
  }
  char incoming[kStreamingReadBytes];
  int64_t last_heard_s = now_s();
  for (bool answered = io.send(BuildMulticastPlayResponse(play.cseq, session_id)); answered;) {
    int requests = 0;
    if (TeardownArrived(framer, io, session_id, true, &requests)) break;
    if (io.has_input()) {
      long n = io.receive(incoming, sizeof incoming);
      if (n <= 0) break;
      FeedRtspFramer(framer, std::string_view(incoming, static_cast<size_t>(n)));
      continue;
    }
    if (io.peer_closed()) break;
    const int64_t now = now_s();
    if (requests > 0) last_heard_s = now;
    if (now - last_heard_s >= kUdpSessionTimeoutS) {
      LogLine("RTSP: multicast viewer silent for %d s, ending its session\n", kUdpSessionTimeoutS);
      break;
    }
    std::this_thread::sleep_for(kFramePollInterval);
  }
  context.leave_multicast(sub);
}

void StreamToGroup(const RtspSessionContext& context, StreamChannel& channel, const UdpMedia& media,
                   const std::function<bool()>& keep_going) {
  CountViewerIn(context.viewers);
  RtpOut out(media.send);
  uint16_t sequence = 0;
  std::optional<uint64_t> cursor;
  RtpWallClock clock;
  int64_t last_report_ticks = 0;
  while (keep_going()) {
    FrameEntry frame = WaitNextFrame(channel, cursor, kFramePollInterval);
    if (!frame.access_unit || frame.access_unit->empty()) continue;
    const bool had_frame = clock.started;
    const int64_t ticks = ObserveFrame(clock, frame.timestamp, context.wall_clock_ns());
    if (!had_frame || ticks - last_report_ticks >= kSenderReportIntervalTicks) {
      out.AppendControl(kRtcpChannel, BuildSenderReport(kRtpSsrc, NtpFromUnixNs(WallNsAt(clock, ticks)),
                                                        frame.timestamp, out.packets(), out.payload_octets(),
                                                        kRtcpCname));
      CloseReportWindow(clock);
      last_report_ticks = ticks;
    }
    // A lost datagram is lost for every viewer alike; the group goes on.
    SendRtpFrame(out, frame.access_unit->data(), frame.access_unit->size(), sequence, frame.timestamp, kRtpSsrc);
  }
  CountViewerOut(context);
}

void ServeRtspConnection(const RtspSessionContext& context, std::string nonce_secret, std::string session_id,
                         const ConnectionIo& io, const SecondsClock& now_s) {
  // A guessable secret would let nonces be forged and recorded Digest answers
  // be replayed on another connection.
  if (nonce_secret.empty()) {
    LogLine("RTSP: no random nonce for the connection, closing it\n");
    return;
  }
  RtspConnection connection;
  connection.context = &context;
  connection.nonce_secret = std::move(nonce_secret);
  connection.session_id = std::move(session_id);
  connection.now_s = now_s;
  connection.open_udp = io.open_udp;
  RtspFramer framer;
  std::string request;
  char buffer[kRequestReadBytes];
  for (bool playing = false; !playing;) {
    FramerStatus status = NextRtspRequest(framer, &request);
    if (status == FramerStatus::kTooLarge) {
      LogLine("RTSP: request over %zu bytes, closing the connection\n", kMaxRtspRequestBytes);
      return;
    }
    if (status == FramerStatus::kNeedMore) {
      long n = io.receive(buffer, sizeof buffer);
      if (n <= 0) return;
      FeedRtspFramer(framer, std::string_view(buffer, static_cast<size_t>(n)));
      continue;
    }
    RequestOutcome outcome = HandleRtspRequest(connection, request, io.send);
    if (outcome == RequestOutcome::kClose) return;
    playing = outcome == RequestOutcome::kPlay;
  }
  io.start_streaming();
  if (connection.multicast) {
    WatchMulticast(context, connection.sub_selected, io, framer, connection.session_id, connection.play, now_s);
    return;
  }
  StreamToClient(context, SelectedChannel(context, connection), io, framer, connection.session_id, connection.play,
                 connection.udp ? &*connection.udp : nullptr, now_s);
}

}  // namespace lcx
