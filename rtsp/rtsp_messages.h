// RTSP request fields read from the parsed head (core/request_head.h) and
// response building from concatenated fixed fragments; no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/request_head.h"

namespace lcx {

inline constexpr std::string_view kRtspRealm = "Lumicast";

// The head of one whole request as the framer cut it; false when it has
// more header lines than a client sends (the head is filled up to there).
bool ParseRtspHead(std::string_view request, RequestHead& head);
// The CSeq field (any case) read the way atoi reads it; 0 when the field is
// missing or holds no digits.
int RtspCSeq(const RequestHead& head);
// SETUP asks for RTP on the RTSP connection: one of the Transport field's
// alternatives has TCP as its lower transport or names interleaved channels.
bool WantsInterleavedTransport(const RequestHead& head);
// One alternative asks for RTP/AVP (UDP) multicast.
bool WantsMulticastTransport(const RequestHead& head);
// The request URL's path has a segment that is exactly `stream_name` (the
// query and the host are not looked at): "rtsp://h/screensub/trackID=0".
bool NamesStream(const RequestHead& head, std::string_view stream_name);

std::string BuildOptionsResponse(int cseq);
std::string BuildDescribeResponse(int cseq, std::string_view sdp);
// `session` is the connection's own identifier.
std::string BuildSetupResponse(int cseq, std::string_view session);
// RTP over UDP from our ports `server_port`, +1 to the client's pair; the
// session's time-out tells the client how often to show it is alive.
std::string BuildUdpSetupResponse(int cseq, std::string_view session, uint16_t client_rtp, uint16_t client_rtcp,
                                  uint16_t server_port, int timeout_s);
// The group's address, ports and TTL: where the shared sender sends.
std::string BuildMulticastSetupResponse(int cseq, std::string_view session, std::string_view group, uint16_t port,
                                        int ttl, int timeout_s);
// PLAY of a multicast viewer: no RTP-Info, since the shared stream's next
// packet is not this connection's to name.
std::string BuildMulticastPlayResponse(int cseq, std::string_view session);
std::string BuildUnsupportedTransportResponse(int cseq);
// OK naming the session: the answer to a keep-alive while playing.
std::string BuildSessionOkResponse(int cseq, std::string_view session);
// With "RTP-Info: url=...;seq=...[;rtptime=...]" naming the first packet
// that follows; rtptime is left out when no frame was at hand.
std::string BuildPlayResponse(int cseq, std::string_view session, std::string_view url, uint16_t seq,
                              const uint32_t* rtptime);
std::string BuildTeardownResponse(int cseq, std::string_view session);
std::string BuildPlainOkResponse(int cseq);
std::string BuildBadRequestResponse(int cseq);
// 401 offering Digest (with a fresh nonce; stale=true when the client's was
// right but expired) and Basic.
std::string BuildUnauthorizedResponse(int cseq, std::string_view realm, std::string_view nonce,
                                      bool stale = false);

}  // namespace lcx
