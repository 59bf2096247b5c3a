#include "rtsp/rtcp.h"

#include <gtest/gtest.h>

#include <string>

namespace lcx {
namespace {

TEST(BuildSenderReport, ExactBytes) {
  const std::string expected(
      "\x80\xC8\x00\x06"                  // V=2, SR, 7 words
      "\x13\x57\x24\x68"                  // SSRC
      "\xED\x07\x9B\x80\x80\x00\x00\x00"  // NTP 3976698752.5
      "\x00\x01\x5F\x90"                  // RTP time 90000
      "\x00\x00\x00\x2A"                  // packets
      "\x00\x01\x00\x00"                  // octets
      "\x81\xCA\x00\x04"                  // SDES, one chunk, 5 words
      "\x13\x57\x24\x68"
      "\x01\x08lumicast\x00\x00",         // CNAME, end, padding to the word
      48);
  EXPECT_EQ(BuildSenderReport(0x13572468, (uint64_t{3976698752} << 32) | 0x80000000u, 90000, 42, 65536, "lumicast"),
            expected);
  // A name that fills its words exactly still gets its end item (and a word of padding).
  EXPECT_EQ(BuildSenderReport(1, 0, 0, 0, 0, "abcdef").size(), 28u + 4u + 16u);
}

TEST(NtpFromUnixNs, SecondsSince1900AndFraction) {
  EXPECT_EQ(NtpFromUnixNs(0), uint64_t{2208988800} << 32);
  EXPECT_EQ(NtpFromUnixNs(1'500'000'000), ((uint64_t{2208988801}) << 32) | 0x80000000u);
  EXPECT_EQ(NtpFromUnixNs(250'000'000) & 0xFFFFFFFFu, 0x40000000u);
}

TEST(RtpWallClock, EarliestTieAndTheWrap) {
  RtpWallClock clock;
  const int64_t t0 = 1'000'000'000'000;
  // A queued key frame sent 300 ms after its time, then the live frames on time.
  EXPECT_EQ(ObserveFrame(clock, 4294967295u - 8999, t0 + 300'000'000), 0);
  EXPECT_EQ(ObserveFrame(clock, 0, t0 + 100'000'000), 9000) << "counts on across the wrap";
  EXPECT_EQ(ObserveFrame(clock, 9000, t0 + 200'000'000), 18000);
  EXPECT_EQ(WallNsAt(clock, 0), t0);
  EXPECT_EQ(WallNsAt(clock, 90000), t0 + 1'000'000'000);
  CloseReportWindow(clock);

  // A stream that fell behind its time stamps for a whole window (pictures
  // slower than they say) moves the tie on; a short hiccup does not.
  ObserveFrame(clock, 18000, t0 + 300'000'000 + 900'000'000);
  CloseReportWindow(clock);
  EXPECT_EQ(WallNsAt(clock, 0), t0 + 900'000'000);
  ObserveFrame(clock, 27000, t0 + 400'000'000 + 1'000'000'000);
  CloseReportWindow(clock);
  EXPECT_EQ(WallNsAt(clock, 0), t0 + 900'000'000);
}

}  // namespace
}  // namespace lcx
