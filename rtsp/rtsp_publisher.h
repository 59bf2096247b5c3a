// Publishing: the camera as a client of a media server (push_url): ANNOUNCE
// with the main stream's SDP, SETUP for TCP interleaved in record mode,
// RECORD, then the main stream as one viewer; reconnects with a growing
// delay. Runs on its own thread for the life of the process; its state is
// its own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/request_head.h"
#include "rtsp/rtsp_session.h"

namespace lcx {

struct PushTarget {
  std::string user, password;  // empty: none given
  std::string host;
  uint16_t port = 554;
  std::string url;  // without the credentials: what the requests name
};

// rtsp://[user[:pass]@]host[:port]/path; nothing for another scheme, an
// empty host or a port outside 1..65535.
std::optional<PushTarget> ParsePushUrl(std::string_view text);

// The Authorization value answering the challenge of a 401 (`head`): Digest
// when offered (with qop=auth when the server asks for it), else Basic;
// empty when neither is offered.
std::string PushAuthorization(const RequestHead& head, const PushTarget& target, std::string_view method,
                              std::string_view url, std::string_view cnonce);

// The delay before the next try after `failures` failures in a row:
// 1, 2, 4 ... seconds, at most 60.
int PushRetryDelayS(int failures);

// How one publishing connection ended.
enum class PushEnd {
  kUnreachable,  // no connection
  kRefused,      // the server refused a request (also the credentials)
  kStreamed,     // RECORD was accepted; the stream ran until the server went
};

// One connection's exchange and stream over `io`; `detail` says why it ended.
PushEnd PublishOnce(const RtspSessionContext& context, const PushTarget& target, const ConnectionIo& io,
                    std::string* detail);

// The thread body: connects, publishes, waits, again, for ever. `connect`
// returns the io of a new connection or nothing (with the reason).
using PushConnect = std::function<std::optional<ConnectionIo>(const PushTarget&, std::string* why)>;
void RunPublisher(const RtspSessionContext& context, const PushTarget& target, const PushConnect& connect,
                  const std::function<void(int seconds)>& wait);

}  // namespace lcx
