// RTCP sender reports for the interleaved channel 1: what recorders use to
// map a stream's RTP time stamps to wall-clock time (and players to start
// their clocks), with the packet and octet counts sent so far. The mapping
// is kept per connection from the frames it sends. Pure: times come in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lcx {

// RTCP goes on the odd channel of interleaved=0-1.
inline constexpr uint8_t kRtcpChannel = 1;
// A report before the first frame, then one at least this often (in the
// stream's own time), RFC 3550's minimum interval.
inline constexpr int64_t kSenderReportIntervalTicks = 5 * 90000;

// 64-bit NTP time (seconds since 1900 in the high word, fraction in the
// low) of a time in nanoseconds since 1970.
uint64_t NtpFromUnixNs(int64_t unix_ns);

// One compound RTCP packet: a sender report (no report blocks) and an SDES
// chunk with the CNAME, which every compound packet must carry.
std::string BuildSenderReport(uint32_t ssrc, uint64_t ntp, uint32_t rtp_timestamp, uint32_t packets,
                              uint32_t octets, std::string_view cname);

// Maps the 90 kHz time stamps of the frames a connection sends to the wall
// clock. A frame leaves no earlier than it was captured, and a connection
// that starts from a queued key frame sends a few late, so the earliest
// (wall time - stream time) seen is the best estimate of capture time; it
// is moved on only when the stream has stayed later than that for a whole
// report interval (a picture that takes longer than its time stamps say).
struct RtpWallClock {
  bool started = false;
  uint32_t last_timestamp = 0;
  int64_t ticks = 0;          // last_timestamp unwrapped
  int64_t offset_ns = 0;      // wall time of tick 0
  int64_t window_min_ns = 0;  // smallest offset since the last report
};
// Records a frame with time stamp `timestamp` sent at `wall_ns`; returns its
// unwrapped ticks.
int64_t ObserveFrame(RtpWallClock& clock, uint32_t timestamp, int64_t wall_ns);
// Wall time (ns since 1970) the mapping gives for `ticks`.
int64_t WallNsAt(const RtpWallClock& clock, int64_t ticks);
// Called as a report goes out: starts the next window, moving the mapping
// later when the whole last window was more than `slack_ns` behind it.
void CloseReportWindow(RtpWallClock& clock, int64_t slack_ns = 500'000'000);

}  // namespace lcx
