// RTSP request parsing and response building: plain substring search on the
// request text and concatenated fixed fragments, no I/O.
#pragma once

#include <string>
#include <string_view>

namespace lcx {

inline constexpr std::string_view kRtspRealm = "Lumicast";
// Recorders only need a stable value; every connection gets the same one.
inline constexpr std::string_view kRtspSessionId = "12345678";

// Text before the first space (the whole text when there is none).
std::string_view RtspMethod(std::string_view request);
// Number after "CSeq:" (or "Cseq:") read the way atoi reads it; 0 when the
// header is missing or holds no digits.
int RtspCSeq(std::string_view request);
// SETUP asks for RTP on the RTSP connection.
bool WantsInterleavedTransport(std::string_view request);

std::string BuildOptionsResponse(int cseq);
std::string BuildDescribeResponse(int cseq, std::string_view sdp);
std::string BuildSetupResponse(int cseq);
std::string BuildUnsupportedTransportResponse(int cseq);
std::string BuildPlayResponse(int cseq);
std::string BuildTeardownResponse(int cseq);
std::string BuildPlainOkResponse(int cseq);
// 401 offering Digest (with a fresh nonce; stale=true when the client's was
// right but expired) and Basic.
std::string BuildUnauthorizedResponse(int cseq, std::string_view realm, std::string_view nonce,
                                      bool stale = false);

}  // namespace lcx
