// What the new transports read from peers: a tunnel's first head and its
// POST body in any pieces, RTCP from a UDP viewer, the Transport field's
// alternatives, a media server's challenge and the push URL. None may
// crash; decoding in pieces must equal decoding at once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "rtsp/rtp_udp.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/rtsp_publisher.h"
#include "rtsp/rtsp_tunnel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  if (size == 0) return 0;
  const size_t step = data[0] % 7 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  TunnelDecoder whole, pieces;
  std::string at_once = whole.Feed(bytes), piecewise;
  for (size_t at = 0; at < bytes.size(); at += step) piecewise += pieces.Feed(bytes.substr(at, step));
  LCX_FUZZ_CHECK(at_once == piecewise);

  RequestHead head;
  ParseRtspHead(bytes, head);
  TunnelHalfOf(head);
  if (std::optional<UdpClientPorts> ports = WantsUdpUnicast(head)) LCX_FUZZ_CHECK(ports->rtp != 0 && ports->rtcp != 0);
  WantsMulticastTransport(head);
  RtcpHasBye(bytes);
  ForEachInterleavedPacket(bytes, [&](uint8_t, std::string_view packet) {
    LCX_FUZZ_CHECK(packet.data() >= bytes.data() && packet.data() + packet.size() <= bytes.data() + bytes.size());
  });
  if (std::optional<PushTarget> target = ParsePushUrl(bytes)) {
    LCX_FUZZ_CHECK(!target->host.empty() && target->port != 0);
    LCX_FUZZ_CHECK(target->url.rfind("rtsp://", 0) == 0);
    PushAuthorization(head, *target, "ANNOUNCE", target->url, "c0ffee");
  }
  return 0;
}
