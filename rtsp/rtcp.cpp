#include "rtsp/rtcp.h"

#include <algorithm>
#include <limits>

namespace lcx {
namespace {

constexpr uint64_t kNtpUnixOffsetS = 2'208'988'800ULL;

void Put32(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

int64_t TicksToNs(int64_t ticks) { return ticks * 100'000 / 9; }  // 1e9 / 90000 = 100000 / 9

}  // namespace

uint64_t NtpFromUnixNs(int64_t unix_ns) {
  const uint64_t seconds = static_cast<uint64_t>(unix_ns / 1'000'000'000) + kNtpUnixOffsetS;
  const uint64_t ns = static_cast<uint64_t>(unix_ns % 1'000'000'000);
  return (seconds << 32) | ((ns << 32) / 1'000'000'000);
}

std::string BuildSenderReport(uint32_t ssrc, uint64_t ntp, uint32_t rtp_timestamp, uint32_t packets,
                              uint32_t octets, std::string_view cname) {
  std::string out;
  // Sender report: V=2, no padding, no report blocks; 7 words, length 6.
  out += '\x80';
  out += static_cast<char>(200);
  out += '\x00';
  out += '\x06';
  Put32(out, ssrc);
  Put32(out, static_cast<uint32_t>(ntp >> 32));
  Put32(out, static_cast<uint32_t>(ntp));
  Put32(out, rtp_timestamp);
  Put32(out, packets);
  Put32(out, octets);
  // SDES with one chunk: SSRC, CNAME item, end item, padded to a word.
  const size_t name_length = std::min<size_t>(cname.size(), 255);
  const size_t chunk = 4 + 2 + name_length + 1;
  const size_t padded = (chunk + 3) / 4 * 4;
  out += '\x81';
  out += static_cast<char>(202);
  const uint16_t words = static_cast<uint16_t>(padded / 4);  // length: words after the first
  out += static_cast<char>(words >> 8);
  out += static_cast<char>(words);
  Put32(out, ssrc);
  out += '\x01';
  out += static_cast<char>(name_length);
  out.append(cname.substr(0, name_length));
  out.append(padded - (4 + 2 + name_length), '\0');
  return out;
}

int64_t ObserveFrame(RtpWallClock& clock, uint32_t timestamp, int64_t wall_ns) {
  if (!clock.started) {
    clock.started = true;
    clock.ticks = 0;
    clock.last_timestamp = timestamp;
    clock.offset_ns = wall_ns;
    clock.window_min_ns = wall_ns;
    return 0;
  }
  // Time stamps wrap after 13 hours; steps are far smaller than half of that.
  clock.ticks += static_cast<int32_t>(timestamp - clock.last_timestamp);
  clock.last_timestamp = timestamp;
  const int64_t offset = wall_ns - TicksToNs(clock.ticks);
  clock.offset_ns = std::min(clock.offset_ns, offset);
  clock.window_min_ns = std::min(clock.window_min_ns, offset);
  return clock.ticks;
}

int64_t WallNsAt(const RtpWallClock& clock, int64_t ticks) { return clock.offset_ns + TicksToNs(ticks); }

void CloseReportWindow(RtpWallClock& clock, int64_t slack_ns) {
  if (clock.window_min_ns - clock.offset_ns > slack_ns) clock.offset_ns = clock.window_min_ns;
  clock.window_min_ns = std::numeric_limits<int64_t>::max();
}

}  // namespace lcx
