#include "rtsp/rtsp_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lcx {
namespace {

// Everything cut from `reads` fed one after the other.
std::vector<std::string> Cut(const std::vector<std::string>& reads, FramerStatus* last = nullptr) {
  RtspFramer framer;
  std::vector<std::string> out;
  std::string request;
  FramerStatus status = FramerStatus::kNeedMore;
  for (const std::string& read : reads) {
    FeedRtspFramer(framer, read);
    while ((status = NextRtspRequest(framer, &request)) == FramerStatus::kRequest) out.push_back(request);
    if (status == FramerStatus::kTooLarge) break;
  }
  if (last) *last = status;
  return out;
}

std::string Interleaved(unsigned char channel, size_t length) {
  std::string frame = {'$', static_cast<char>(channel), static_cast<char>(length >> 8), static_cast<char>(length)};
  for (size_t i = 0; i < length; ++i) frame.push_back(static_cast<char>(i % 3 == 0 ? 0 : 0x80 + i % 50));
  return frame;
}

TEST(RtspFramer, SameRequestsHoweverTheBytesAreSplit) {
  const std::vector<std::string> requests = {
      "OPTIONS rtsp://h/screenlive RTSP/1.0\r\nCSeq: 1\r\n\r\n",
      // A body that holds a blank line, a request and a header of its own.
      "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 2\r\nContent-Length: 60\r\n\r\n"
      "x: 1\r\n\r\nTEARDOWN rtsp://h/ RTSP/1.0\r\nContent-Length: 500\r\n\r\n",
      "GET_PARAMETER rtsp://h/ RTSP/1.0\r\ncontent-length: 2\r\nCSeq: 3\r\n\r\nab",
      "TEARDOWN rtsp://h/ RTSP/1.0\r\nCSeq: 4\r\n\r\n",
  };
  ASSERT_EQ(requests[1].size() - requests[1].find("\r\n\r\n") - 4, 60u);
  // Receiver reports around the requests, and a stray CRLF after one.
  const std::string stream = requests[0] + Interleaved(1, 300) + requests[1] + "\r\n" + Interleaved(3, 8) +
                             requests[2] + Interleaved(1, 0) + requests[3];

  EXPECT_EQ(Cut({stream}), requests) << "all in one read";
  for (size_t at = 0; at <= stream.size(); ++at) {
    SCOPED_TRACE("split at " + std::to_string(at));
    ASSERT_EQ(Cut({stream.substr(0, at), stream.substr(at)}), requests);
  }
  std::vector<std::string> bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  EXPECT_EQ(Cut(bytes), requests) << "one byte per read";
}

TEST(RtspFramer, WaitsForTheWholeRequestWithinTheLimit) {
  const std::string head = "DESCRIBE rtsp://h/ RTSP/1.0\r\nCSeq: 2\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    size_t cut;
    FramerStatus last;
  } cases[] = {
      {"header not ended", head, 0, FramerStatus::kNeedMore},
      {"body not all here", head + "Content-Length: 10\r\n\r\n12345", 0, FramerStatus::kNeedMore},
      {"negative length counts as none", head + "Content-Length: -5\r\n\r\n", 1, FramerStatus::kNeedMore},
      {"header exactly at the limit", head + std::string(kMaxRtspRequestBytes - head.size() - 4, 'x') + "\r\n\r\n",
       1, FramerStatus::kNeedMore},
      {"header beyond the limit", head + std::string(kMaxRtspRequestBytes, 'x'), 0, FramerStatus::kTooLarge},
      {"announced body beyond the limit", head + "Content-Length: 9000\r\n\r\n", 0, FramerStatus::kTooLarge},
      {"a whole request, then one too large", head + "\r\n" + head + "Content-Length: 99999\r\n\r\n", 1,
       FramerStatus::kTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FramerStatus last;
    EXPECT_EQ(Cut({c.bytes}, &last).size(), c.cut);
    EXPECT_EQ(last, c.last);
  }
}

}  // namespace
}  // namespace lcx
