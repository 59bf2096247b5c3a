// RTSP request fields and the fixed response texts.
#include "rtsp/rtsp_messages.h"

#include "core/config.h"  // ParseLeadingInt: atoi without its overflow
#include "rtsp/rtsp_framer.h"

namespace lcx {
namespace {

std::string OkHead(int cseq) { return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n"; }

}  // namespace

bool ParseRtspHead(std::string_view request, RequestHead& head) {
  HeadLimits limits;
  limits.max_line_bytes = kMaxRtspRequestBytes;
  return ParseRequestHead(request, head, limits) == HeadStatus::kOk;
}

int RtspCSeq(const RequestHead& head) {
  std::optional<std::string_view> value = head.Find("CSeq");
  return value ? ParseLeadingInt(*value) : 0;
}

bool WantsInterleavedTransport(const RequestHead& head) {
  for (std::string_view value : head.FindAll("Transport")) {
    for (const TransportChoice& choice : ParseTransport(value)) {
      if (choice.Interleaved()) return true;
    }
  }
  return false;
}

bool WantsMulticastTransport(const RequestHead& head) {
  for (std::string_view value : head.FindAll("Transport")) {
    for (const TransportChoice& choice : ParseTransport(value)) {
      if (choice.Interleaved()) continue;
      for (const auto& parameter : choice.parameters) {
        if (EqualsIgnoreCase(parameter.first, "multicast")) return true;
      }
    }
  }
  return false;
}

bool NamesStream(const RequestHead& head, std::string_view stream_name) {
  for (std::string_view segment : PathSegments(TargetPath(head.target))) {
    if (segment == stream_name) return true;
  }
  return false;
}

std::string BuildOptionsResponse(int cseq) {
  return OkHead(cseq) + "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n";
}

std::string BuildDescribeResponse(int cseq, std::string_view sdp) {
  std::string out = OkHead(cseq) + "Content-Type: application/sdp\r\nContent-Length: " +
                    std::to_string(sdp.size()) + "\r\n\r\n";
  out += sdp;
  return out;
}

std::string BuildSetupResponse(int cseq, std::string_view session) {
  return OkHead(cseq) + "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: " + std::string(session) +
         "\r\n\r\n";
}

std::string BuildUdpSetupResponse(int cseq, std::string_view session, uint16_t client_rtp, uint16_t client_rtcp,
                                  uint16_t server_port, int timeout_s) {
  return OkHead(cseq) + "Transport: RTP/AVP;unicast;client_port=" + std::to_string(client_rtp) + "-" +
         std::to_string(client_rtcp) + ";server_port=" + std::to_string(server_port) + "-" +
         std::to_string(server_port + 1) + "\r\nSession: " + std::string(session) +
         ";timeout=" + std::to_string(timeout_s) + "\r\n\r\n";
}

std::string BuildMulticastSetupResponse(int cseq, std::string_view session, std::string_view group, uint16_t port,
                                        int ttl, int timeout_s) {
  return OkHead(cseq) + "Transport: RTP/AVP;multicast;destination=" + std::string(group) +
         ";port=" + std::to_string(port) + "-" + std::to_string(port + 1) + ";ttl=" + std::to_string(ttl) +
         "\r\nSession: " + std::string(session) + ";timeout=" + std::to_string(timeout_s) + "\r\n\r\n";
}

std::string BuildMulticastPlayResponse(int cseq, std::string_view session) {
  return OkHead(cseq) + "Session: " + std::string(session) + "\r\nRange: npt=0.000-\r\n\r\n";
}

std::string BuildSessionOkResponse(int cseq, std::string_view session) {
  return OkHead(cseq) + "Session: " + std::string(session) + "\r\n\r\n";
}

std::string BuildUnsupportedTransportResponse(int cseq) {
  return "RTSP/1.0 461 Unsupported Transport\r\nCSeq: " + std::to_string(cseq) + "\r\n\r\n";
}

std::string BuildPlayResponse(int cseq, std::string_view session, std::string_view url, uint16_t seq,
                              const uint32_t* rtptime) {
  std::string out = OkHead(cseq) + "Session: " + std::string(session) + "\r\nRange: npt=0.000-\r\nRTP-Info: url=" +
                    std::string(url) + ";seq=" + std::to_string(seq);
  if (rtptime) out += ";rtptime=" + std::to_string(*rtptime);
  return out + "\r\n\r\n";
}

std::string BuildTeardownResponse(int cseq, std::string_view session) {
  return OkHead(cseq) + "Session: " + std::string(session) + "\r\n\r\n";
}

std::string BuildPlainOkResponse(int cseq) { return OkHead(cseq) + "\r\n"; }

std::string BuildBadRequestResponse(int cseq) {
  return "RTSP/1.0 400 Bad Request\r\nCSeq: " + std::to_string(cseq) + "\r\n\r\n";
}

std::string BuildUnauthorizedResponse(int cseq, std::string_view realm, std::string_view nonce, bool stale) {
  std::string out = "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) + "\r\n";
  out += "WWW-Authenticate: Digest realm=\"";
  out += realm;
  out += "\", nonce=\"";
  out += nonce;
  out += stale ? "\", stale=true\r\n" : "\"\r\n";
  out += "WWW-Authenticate: Basic realm=\"";
  out += realm;
  out += "\"\r\n\r\n";
  return out;
}

}  // namespace lcx
