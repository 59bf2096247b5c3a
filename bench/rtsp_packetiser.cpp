// Cost of turning one access unit into interleaved RTP on a socket: the
// packetiser alone, and the whole send over loopback TCP with the packets
// gathered into large writes versus one write per packet.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "rtsp/rtp_h264.h"

namespace lcx {
namespace {

std::vector<uint8_t> AccessUnit(size_t slice_bytes) {
  std::vector<uint8_t> au = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x28, 0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80, 0, 0, 0, 1, 0x65};
  for (size_t i = 1; i < slice_bytes; ++i) au.push_back(static_cast<uint8_t>((i * 31) | 1));
  return au;
}

void BM_RtpFramePacketise(benchmark::State& state) {
  const auto au = AccessUnit(static_cast<size_t>(state.range(0)));
  size_t sent = 0;
  RtpOut out([&](std::string_view b) {
    sent += b.size();
    return true;
  });
  uint16_t seq = 0;
  for (auto _ : state) {
    SendRtpFrame(out, au.data(), au.size(), seq, 0, kRtpSsrc);
    benchmark::DoNotOptimize(sent);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * au.size()));
}
BENCHMARK(BM_RtpFramePacketise)->Arg(25'000)->Arg(150'000);

// Whole send over loopback TCP, a thread draining the other end.
// Arg 0: slice bytes; arg 1: flush threshold (0 = one write per packet).
void BM_RtpFrameLoopback(benchmark::State& state) {
  int error = 0;
  UniqueFd listener = ListenTcp(0, 1, &error);
  const int port = LocalPort(listener.get());
  std::atomic<bool> done{false};
  std::thread reader([&] {
    UniqueFd c(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(c.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    std::vector<char> buf(1 << 18);
    while (::recv(c.get(), buf.data(), buf.size(), 0) > 0) {
    }
  });
  std::string peer;
  UniqueFd server = AcceptClient(listener.get(), &peer);
  const auto au = AccessUnit(static_cast<size_t>(state.range(0)));
  RtpOut out([&](std::string_view b) { return SendAll(server.get(), b); }, static_cast<size_t>(state.range(1)));
  uint16_t seq = 0;
  for (auto _ : state) {
    if (!SendRtpFrame(out, au.data(), au.size(), seq, 0, kRtpSsrc)) state.SkipWithError("send failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * au.size()));
  server.reset();
  reader.join();
}
BENCHMARK(BM_RtpFrameLoopback)->Args({25'000, 0})->Args({25'000, 64 * 1024})->Args({150'000, 0})->Args({150'000, 64 * 1024});

}  // namespace
}  // namespace lcx
