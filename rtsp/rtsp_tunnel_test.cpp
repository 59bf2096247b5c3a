// RTSP tunnelled in HTTP: which heads open which half, the POST body's
// Base64 in any pieces, and both halves over loopback as one RTSP connection.
#include "rtsp/rtsp_tunnel.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/net.h"
#include "rtsp/rtsp_connection.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/test_session.h"
#include "security/digest.h"

namespace lcx {
namespace {

using rtsp_test::Client;
using rtsp_test::Req;
using rtsp_test::SessionView;

TEST(TunnelHalfOf, GetAcceptingTheTunnelAndPostWithACookie) {
  struct Case {
    const char* name;
    std::string head;
    TunnelHalf half;
  } cases[] = {
      {"ffmpeg GET",
       "GET /screenlive HTTP/1.1\r\nAccept: application/x-rtsp-tunnelled\r\nx-sessioncookie: 5a1f\r\n"
       "Pragma: no-cache\r\n\r\n",
       TunnelHalf::kGet},
      {"GStreamer POST",
       "POST /screenlive HTTP/1.0\r\nx-sessioncookie: 5a1f\r\nContent-Type: application/x-rtsp-tunnelled\r\n"
       "Content-Length: 32767\r\n\r\n",
       TunnelHalf::kPost},
      {"GET without the Accept", "GET / HTTP/1.1\r\nx-sessioncookie: 5a1f\r\n\r\n", TunnelHalf::kNone},
      {"GET without a cookie", "GET / HTTP/1.1\r\nAccept: application/x-rtsp-tunnelled\r\n\r\n", TunnelHalf::kNone},
      {"RTSP request", "DESCRIBE rtsp://h/ RTSP/1.0\r\nx-sessioncookie: 5a1f\r\n\r\n", TunnelHalf::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestHead head;
    ASSERT_TRUE(ParseRtspHead(c.head, head));
    EXPECT_EQ(TunnelHalfOf(head), c.half);
  }
}

TEST(TunnelDecoder, RequestsEncodedEachOnTheirOwnInAnyPieces) {
  const std::string one = Req("OPTIONS", "rtsp://h/", 1), two = Req("DESCRIBE", "rtsp://h/", 22);
  const std::string body = Base64Encode(one) + "\r\n" + Base64Encode(two);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, body.size()}) {
    SCOPED_TRACE(piece);
    TunnelDecoder decoder;
    std::string out;
    for (size_t at = 0; at < body.size(); at += piece) out += decoder.Feed(body.substr(at, piece));
    EXPECT_EQ(out, one + two);
  }
}

TEST(RtspSession, TunnelledRequestsAnsweredOnTheGetHalf) {
  SessionView view(false, true);
  RtspSessionContext context = view.Context();
  RtspTunnels tunnels;
  int error = 0;
  UniqueFd listener = ListenTcp(0, 8, &error);
  const int port = LocalPort(listener.get());
  std::vector<std::thread> sessions;
  auto accept_one = [&] {
    std::string peer;
    UniqueFd fd = AcceptClient(listener.get(), &peer);
    sessions.emplace_back([&, fd = std::move(fd)]() mutable { RtspSession(context, std::move(fd), 5000, &tunnels); });
  };

  Client get(port), post(port), stray(port);
  accept_one();
  accept_one();
  accept_one();
  ASSERT_TRUE(get.Send("GET /screenlive HTTP/1.0\r\nx-sessioncookie: c00k1e\r\n"
                       "Accept: application/x-rtsp-tunnelled\r\n\r\n"));
  const std::string ok = BuildTunnelGetResponse();
  EXPECT_EQ(get.Read(ok.size()), ok);
  // A POST for a cookie nobody opened is refused.
  ASSERT_TRUE(stray.Send("POST /screenlive HTTP/1.0\r\nx-sessioncookie: other\r\n\r\n"));
  EXPECT_TRUE(stray.ReadsEndOfStream());
  // The body may come with the head or after it, and in pieces.
  const std::string options = Base64Encode(Req("OPTIONS", "rtsp://h/", 1));
  ASSERT_TRUE(post.Send("POST /screenlive HTTP/1.0\r\nx-sessioncookie: c00k1e\r\n"
                        "Content-Type: application/x-rtsp-tunnelled\r\nContent-Length: 32767\r\n\r\n" +
                        options.substr(0, 5)));
  ASSERT_TRUE(post.Send(options.substr(5)));
  EXPECT_EQ(get.ReadResponse(), BuildOptionsResponse(1));
  ASSERT_TRUE(post.Send(Base64Encode(Req("GET_PARAMETER", "rtsp://h/", 2))));
  EXPECT_EQ(get.ReadResponse(), BuildPlainOkResponse(2));
  ASSERT_TRUE(post.Send(Base64Encode(Req("TEARDOWN", "rtsp://h/", 3))));
  EXPECT_NE(get.ReadResponse().find("CSeq: 3"), std::string::npos);
  EXPECT_TRUE(get.ReadsEndOfStream());
  for (auto& t : sessions) t.join();
}

}  // namespace
}  // namespace lcx
