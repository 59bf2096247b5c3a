// Publisher: the push URL, client-side authentication, the record exchange
// and the reconnecting loop. One thread; no locks of its own (the viewer
// bookkeeping is StreamToGroup's).
#include "rtsp/rtsp_publisher.h"

#include <algorithm>
#include <utility>

#include "core/config.h"  // ParseLeadingInt
#include "core/log.h"
#include "core/setting_table.h"
#include "rtsp/rtsp_framer.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/sdp.h"
#include "security/digest.h"

namespace lcx {
namespace {

// A quoted or bare parameter of an authentication challenge.
std::string ChallengeParameter(std::string_view challenge, std::string_view name) {
  size_t at = 0;
  while ((at = challenge.find(name, at)) != std::string_view::npos) {
    const bool starts = at == 0 || challenge[at - 1] == ' ' || challenge[at - 1] == ',';
    const size_t eq = at + name.size();
    if (starts && eq < challenge.size() && challenge[eq] == '=') {
      std::string_view rest = challenge.substr(eq + 1);
      if (!rest.empty() && rest[0] == '"') {
        const size_t end = rest.find('"', 1);
        return std::string(rest.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
      }
      return std::string(rest.substr(0, rest.find(',')));
    }
    at = eq;
  }
  return "";
}

int StatusOf(std::string_view response) {
  const size_t space = response.find(' ');
  return space == std::string_view::npos ? 0 : ParseLeadingInt(response.substr(space + 1));
}

// Sends one request and reads its answer (dropping interleaved frames the
// server may send); 0 when the connection failed.
int Exchange(const ConnectionIo& io, RtspFramer& framer, const std::string& request, RequestHead* answer) {
  if (!io.send(request)) return 0;
  std::string response;
  char buffer[4096];
  for (;;) {
    FramerStatus status = NextRtspRequest(framer, &response);
    if (status == FramerStatus::kTooLarge) return 0;
    if (status == FramerStatus::kRequest) break;
    long n = io.receive(buffer, sizeof buffer);
    if (n <= 0) return 0;
    FeedRtspFramer(framer, std::string_view(buffer, static_cast<size_t>(n)));
  }
  ParseRtspHead(response, *answer);
  return StatusOf(response);
}

}  // namespace

std::optional<PushTarget> ParsePushUrl(std::string_view text) {
  // The editors' rule, so a URL they refuse is one the publisher refuses too.
  if (text.empty() || !ValidSettingName("push_url", text)) return std::nullopt;
  std::optional<RtspUrlParts> parts = SplitRtspUrl(text);
  if (!parts) return std::nullopt;
  return PushTarget{std::move(parts->user), std::move(parts->password), std::move(parts->host), parts->port,
                    std::move(parts->url)};
}

std::string PushAuthorization(const RequestHead& head, const PushTarget& target, std::string_view method,
                              std::string_view url, std::string_view cnonce) {
  bool basic = false;
  for (std::string_view challenge : head.FindAll("WWW-Authenticate")) {
    if (challenge.substr(0, 7) == "Digest ") {
      const std::string realm = ChallengeParameter(challenge, "realm");
      const std::string nonce = ChallengeParameter(challenge, "nonce");
      const std::string qop = ChallengeParameter(challenge, "qop");
      const std::string ha1 = Md5Hex(target.user + ":" + realm + ":" + target.password);
      const std::string ha2 = Md5Hex(std::string(method) + ":" + std::string(url));
      std::string value = "Digest username=\"" + target.user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
                          "\", uri=\"" + std::string(url) + "\", ";
      if (qop.find("auth") != std::string::npos) {
        value += "qop=auth, nc=00000001, cnonce=\"" + std::string(cnonce) + "\", response=\"" +
                 Md5Hex(ha1 + ":" + nonce + ":00000001:" + std::string(cnonce) + ":auth:" + ha2) + "\"";
      } else {
        value += "response=\"" + Md5Hex(ha1 + ":" + nonce + ":" + ha2) + "\"";
      }
      return value;
    }
    if (challenge.substr(0, 6) == "Basic ") basic = true;
  }
  return basic ? "Basic " + Base64Encode(target.user + ":" + target.password) : "";
}

int PushRetryDelayS(int failures) { return failures >= 7 ? 60 : std::min(60, 1 << std::max(0, failures - 1)); }

PushEnd PublishOnce(const RtspSessionContext& context, const PushTarget& target, const ConnectionIo& io,
                    std::string* detail) {
  RtspFramer framer;
  int cseq = 0;
  std::string authorization;
  std::string session;
  const std::string cnonce = RandomHex(8);
  // One request, answered again with credentials when the server asks.
  auto ask = [&](const std::string& method, const std::string& url, const std::string& fields,
                 const std::string& body, RequestHead* answer) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::string request = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq) +
                            "\r\nUser-Agent: Lumicast\r\n" + fields;
      if (!session.empty()) request += "Session: " + session + "\r\n";
      if (!authorization.empty()) request += "Authorization: " + authorization + "\r\n";
      if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
      request += "\r\n" + body;
      *answer = RequestHead{};
      const int status = Exchange(io, framer, request, answer);
      if (status != 401 || attempt == 1 || target.user.empty()) return status;
      authorization = PushAuthorization(*answer, target, method, url, cnonce);
      if (authorization.empty()) return status;
    }
    return 401;
  };
  RequestHead answer;
  const std::string sdp = BuildSdp(context.main_channel);
  int status = ask("ANNOUNCE", target.url, "Content-Type: application/sdp\r\n", sdp, &answer);
  if (status == 200) {
    status = ask("SETUP", target.url + "/trackID=0", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1;mode=record\r\n",
                 "", &answer);
    if (std::optional<std::string_view> named = answer.Find("Session"))
      session = std::string(named->substr(0, named->find(';')));
  }
  if (status == 200) status = ask("RECORD", target.url, "Range: npt=0.000-\r\n", "", &answer);
  if (status != 200) {
    *detail = status == 0 ? "the connection failed during the exchange"
              : status == 401 ? "the server refused the credentials (401)"
                              : "the server answered " + std::to_string(status);
    return status == 0 ? PushEnd::kUnreachable : PushEnd::kRefused;
  }
  LogLine("RTSP push: publishing to %s\n", target.url.c_str());
  io.start_streaming();
  bool failed = false;
  UdpMedia media;
  media.send = [&](std::string_view bytes) {
    if (!io.send(bytes)) failed = true;
    return !failed;
  };
  char incoming[2048];
  StreamToGroup(context, context.main_channel, media, [&] {
    // The server's receiver reports and answers are read and dropped.
    while (!failed && io.has_input()) {
      if (io.receive(incoming, sizeof incoming) <= 0) failed = true;
    }
    return !failed && !io.peer_closed();
  });
  *detail = "the server closed the connection";
  return PushEnd::kStreamed;
}

void RunPublisher(const RtspSessionContext& context, const PushTarget& target, const PushConnect& connect,
                  const std::function<void(int seconds)>& wait) {
  std::string last_state;
  auto state = [&](const std::string& line) {
    if (line != last_state) LogLine("RTSP push: %s\n", line.c_str());
    last_state = line;
  };
  for (int failures = 0;;) {
    std::string why;
    std::optional<ConnectionIo> io = connect(target, &why);
    if (io && PublishOnce(context, target, *io, &why) == PushEnd::kStreamed) {
      LogLine("RTSP push: %s stopped: %s\n", target.url.c_str(), why.c_str());
      last_state.clear();
      failures = 0;
    } else {
      // A wrong password or a server that is down: said once, retried later
      // and later, never in a tight loop.
      state(target.url + ": " + why + "; retrying with a growing delay");
    }
    wait(PushRetryDelayS(++failures));
  }
}

}  // namespace lcx
