// RTSP request parsing and response building: plain substring search on the
// request text and concatenated fixed fragments, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lcx {

inline constexpr std::string_view kRtspRealm = "Lumicast";

// Text before the first space (the whole text when there is none).
std::string_view RtspMethod(std::string_view request);
// Number after "CSeq:" (or "Cseq:") read the way atoi reads it; 0 when the
// header is missing or holds no digits.
int RtspCSeq(std::string_view request);
// The request URL (the text between the method and the version).
std::string_view RtspRequestUrl(std::string_view request);
// SETUP asks for RTP on the RTSP connection.
bool WantsInterleavedTransport(std::string_view request);

std::string BuildOptionsResponse(int cseq);
std::string BuildDescribeResponse(int cseq, std::string_view sdp);
// `session` is the connection's own identifier.
std::string BuildSetupResponse(int cseq, std::string_view session);
std::string BuildUnsupportedTransportResponse(int cseq);
// With "RTP-Info: url=...;seq=...[;rtptime=...]" naming the first packet
// that follows; rtptime is left out when no frame was at hand.
std::string BuildPlayResponse(int cseq, std::string_view session, std::string_view url, uint16_t seq,
                              const uint32_t* rtptime);
std::string BuildTeardownResponse(int cseq, std::string_view session);
std::string BuildPlainOkResponse(int cseq);
// 401 offering Digest (with a fresh nonce; stale=true when the client's was
// right but expired) and Basic.
std::string BuildUnauthorizedResponse(int cseq, std::string_view realm, std::string_view nonce,
                                      bool stale = false);

}  // namespace lcx
