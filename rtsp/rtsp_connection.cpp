// Socket side of an RTSP connection. Runs on the connection's own thread and
// touches only its own descriptor.
#include "rtsp/rtsp_connection.h"

#include <cstring>
#include <memory>
#include <thread>

#include "core/log.h"
#include "platform/net.h"
#include "platform/udp_socket.h"
#include "rtsp/rtp_udp.h"
#include "security/digest.h"

namespace lcx {
namespace {

// Kernel send buffer of a playing connection (Linux doubles the value). Left
// to autotuning it grows to megabytes, i.e. many seconds of video that a
// client on a slow or stalled link must drain before it sees the present;
// capped, the client falls behind the queue instead and skips forward to the
// newest key frame. About a second at 2 Mbit/s, and still 10 Mbit/s over a
// 200 ms round trip.
constexpr int kStreamingSendBufferBytes = 128 * 1024;

// A key frame goes out at most this much per interval (about 64 Mbit/s, eight
// times the highest bit rate): a receiver's default socket buffer holds it
// while its reader is a few milliseconds late.
constexpr size_t kPacedBurstBytes = 16 * 1024;
constexpr std::chrono::milliseconds kPacedBurstInterval{2};
// Large enough for a burst and the RTCP beside it.
constexpr int kUdpSendBufferBytes = 256 * 1024;

// RTP to the RTSP peer's own address only: a destination= naming another
// host would let anyone aim the stream at a third party.
std::optional<UdpMedia> OpenUdpToPeer(int fd, const UdpClientPorts& client) {
  const uint32_t peer = PeerIpv4(fd);
  if (peer == 0) {
    LogLine("RTSP: UDP asked on a connection without an IPv4 peer, answering 461\n");
    return std::nullopt;
  }
  auto pair = std::make_shared<UdpPortPair>();
  int error = 0;
  if (!OpenUdpPortPair(pair.get(), &error)) {
    LogLine("RTSP: no UDP port pair for a viewer: %s, answering 461\n", std::strerror(error));
    return std::nullopt;
  }
  if (!ConnectDatagram(pair->rtp.get(), peer, client.rtp) || !ConnectDatagram(pair->rtcp.get(), peer, client.rtcp)) {
    LogLine("RTSP: UDP to the viewer's ports failed: %s, answering 461\n", std::strerror(errno));
    return std::nullopt;
  }
  SetSendBufferBytes(pair->rtp.get(), kUdpSendBufferBytes);
  auto pacer = std::make_shared<DatagramPacer>(
      kPacedBurstBytes, kPacedBurstInterval, [] { return std::chrono::steady_clock::now(); },
      [](std::chrono::steady_clock::duration wait) { std::this_thread::sleep_for(wait); });
  UdpMedia media;
  media.server_port = pair->port;
  media.client = client;
  media.send = [pair, pacer](std::string_view bytes) {
    return SendAsDatagrams(bytes, *pacer, [&pair](uint8_t channel, const std::string_view* datagrams, size_t count) {
      // Only RTP and RTCP are ever buffered; anything else is not ours to send.
      if (channel > 1) return true;
      return SendDatagrams(channel == 0 ? pair->rtp.get() : pair->rtcp.get(), datagrams, count);
    });
  };
  media.receive_control = [pair](char* buffer, size_t capacity) {
    return ReceiveDatagramNow(pair->rtcp.get(), buffer, capacity, nullptr);
  };
  media.drain_media = [pair] {
    char scratch[2048];
    for (int i = 0; i < 64 && ReceiveDatagramNow(pair->rtp.get(), scratch, sizeof scratch, nullptr) > 0; ++i) {
    }
  };
  return media;
}

ConnectionIo SocketIo(int fd) {
  ConnectionIo io;
  io.send = [fd](std::string_view bytes) { return SendAll(fd, bytes); };
  io.receive = [fd](char* buffer, size_t capacity) { return ReceiveSome(fd, buffer, capacity); };
  io.has_input = [fd] { return BytesAvailable(fd) > 0; };
  io.peer_closed = [fd] { return PeerHasClosed(fd); };
  io.open_udp = [fd](const UdpClientPorts& client) { return OpenUdpToPeer(fd, client); };
  io.start_streaming = [fd] {
    // The time-outs bound the requesting phase only: a playing client that
    // stops reading must block its own thread and nothing else, and resume
    // when it reads.
    SetReceiveTimeoutMs(fd, 0);
    SetSendTimeoutMs(fd, 0);
    SetSendBufferBytes(fd, kStreamingSendBufferBytes);
    // Frames go out in whole-frame (or 64 KiB) writes, so there are no small
    // pieces for Nagle to merge; left on, it holds a frame's tail until the
    // client's (delayed, up to 40 ms) acknowledgement of the previous one.
    SetNoDelay(fd);
  };
  return io;
}

}  // namespace

void RtspSession(const RtspSessionContext& context, UniqueFd socket, int request_idle_timeout_ms) {
  const int fd = socket.get();
  SetReceiveTimeoutMs(fd, request_idle_timeout_ms);
  SetSendTimeoutMs(fd, request_idle_timeout_ms);
  // The session identifier only tells a client's sessions apart; random so
  // no two connections share one.
  ServeRtspConnection(context, RandomHex(16), RandomHex(8), SocketIo(fd));
}

}  // namespace lcx
