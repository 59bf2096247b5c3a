// One RTSP connection's request phase: bytes cut by the framer into
// HandleRtspRequest, with and without authentication, answers captured by
// the send function. Every answer must be an RTSP status line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "rtsp/rtsp_framer.h"
#include "rtsp/rtsp_session.h"
#include "rtsp/test_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  if (size == 0) return 0;
  // First byte: authentication, the sub-stream, and whether the bytes come
  // in one read or one byte at a time.
  const uint8_t flags = data[0];
  rtsp_test::SessionView view((flags & 1) != 0, (flags & 2) != 0);
  const std::vector<uint8_t> unit = rtsp_test::AccessUnit(true, 8);
  view.main_channel.sps = view.sub_channel.sps = {0x67, 0x42, 0xC0, 0x1F};
  view.main_channel.pps = view.sub_channel.pps = {0x68, 0xCE, 0x3C, 0x80};
  view.settings.multicast_group = "239.255.42.42";
  RtspSessionContext context = view.Context();
  // UDP and multicast SETUPs as the server serves them, without sockets.
  context.join_multicast = [](bool) { return true; };
  context.leave_multicast = [](bool) {};
  RtspConnection connection;
  connection.open_udp = [](const UdpClientPorts& client) -> std::optional<UdpMedia> {
    LCX_FUZZ_CHECK(client.rtp != 0 && client.rtcp != 0);
    UdpMedia media;
    media.server_port = 6970;
    media.client = client;
    return media;
  };
  connection.context = &context;
  connection.nonce_secret = "0123456789abcdef0123456789abcdef";
  connection.now_s = [] { return int64_t{1000}; };

  std::string answer;
  const SendFunction send = [&](std::string_view bytes) {
    answer.append(bytes);
    return true;
  };
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t step = (flags & 4) ? 1 : bytes.size();
  RtspFramer framer;
  for (size_t at = 0; at < bytes.size(); at += step) {
    FeedRtspFramer(framer, bytes.substr(at, step));
    std::string request;
    for (;;) {
      FramerStatus status = NextRtspRequest(framer, &request);
      if (status == FramerStatus::kTooLarge) return 0;
      if (status == FramerStatus::kNeedMore) break;
      answer.clear();
      RequestOutcome outcome = HandleRtspRequest(connection, request, send);
      // PLAY is answered by the streaming phase, once the first frame is at hand.
      if (outcome == RequestOutcome::kPlay) {
        LCX_FUZZ_CHECK(answer.empty());
      } else {
        LCX_FUZZ_CHECK(answer.rfind("RTSP/1.0 ", 0) == 0);
      }
      if (outcome == RequestOutcome::kClose) return 0;
    }
  }
  return 0;
}
