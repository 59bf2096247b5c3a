// RTSP tunnelled in HTTP, the pure part: the GET that becomes the
// connection's output (answers and interleaved RTP) and the POST, matched by
// its x-sessioncookie, whose body carries the requests in Base64. No I/O.
#pragma once

#include <string>
#include <string_view>

#include "core/request_head.h"

namespace lcx {

enum class TunnelHalf {
  kNone,  // an RTSP request, or HTTP that is no tunnel
  kGet,   // the server-to-client half
  kPost,  // the client-to-server half
};

// Which half of a tunnel the first request of a connection opens: an HTTP
// GET or POST with an x-sessioncookie; the GET must accept
// application/x-rtsp-tunnelled (what ffmpeg, GStreamer and recorders send).
TunnelHalf TunnelHalfOf(const RequestHead& head);
// The cookie that pairs the halves ("" without one).
std::string TunnelCookie(const RequestHead& head);

// The GET's answer: after it the connection carries RTSP answers and the stream.
std::string BuildTunnelGetResponse();
// A tunnel request we do not serve (an unknown or reused cookie).
std::string BuildTunnelRefusal();

// Decodes the POST body: Base64 that may arrive in any pieces, each request
// encoded on its own (so padding may sit inside the stream); blanks and line
// breaks are skipped.
class TunnelDecoder {
 public:
  // The bytes the whole groups of four received so far decode to.
  std::string Feed(std::string_view text);

 private:
  std::string group_;
};

}  // namespace lcx
