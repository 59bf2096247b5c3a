// Socket side of an RTSP connection: its socket, its UDP pair, the tunnel's
// two halves, the multicast sender's and the publisher's sockets. Runs on
// the thread that owns them; only RtspTunnels is shared (its own mutex).
#include "rtsp/rtsp_connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "core/log.h"
#include "platform/net.h"
#include "platform/tcp_connect.h"
#include "platform/udp_socket.h"
#include "rtsp/rtsp_publisher.h"
#include "rtsp/rtp_udp.h"
#include "rtsp/rtsp_framer.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/rtsp_tunnel.h"
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

void StartStreamingOn(int fd) {
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
}

// `first` holds what was read before the session began (to tell a tunnel
// from RTSP); the first receives return it.
ConnectionIo SocketIo(int fd, std::string first) {
  auto prefix = std::make_shared<std::string>(std::move(first));
  ConnectionIo io;
  io.send = [fd](std::string_view bytes) { return SendAll(fd, bytes); };
  io.receive = [fd, prefix](char* buffer, size_t capacity) -> long {
    if (prefix->empty()) return ReceiveSome(fd, buffer, capacity);
    const size_t n = std::min(capacity, prefix->size());
    std::memcpy(buffer, prefix->data(), n);
    prefix->erase(0, n);
    return static_cast<long>(n);
  };
  io.has_input = [fd, prefix] { return !prefix->empty() || BytesAvailable(fd) > 0; };
  io.peer_closed = [fd] { return PeerHasClosed(fd); };
  io.open_udp = [fd](const UdpClientPorts& client) { return OpenUdpToPeer(fd, client); };
  io.start_streaming = [fd] { StartStreamingOn(fd); };
  return io;
}

// The tunnel's two sockets as one connection: answers and RTP on the GET,
// requests decoded from the POST.
ConnectionIo TunnelIo(int get_fd, std::shared_ptr<TunnelPost> post) {
  struct Incoming {
    TunnelDecoder decoder;
    std::string decoded;
  };
  auto in = std::make_shared<Incoming>();
  in->decoded = in->decoder.Feed(post->body);
  const int post_fd = post->socket.get();
  ConnectionIo io;
  io.send = [get_fd](std::string_view bytes) { return SendAll(get_fd, bytes); };
  io.receive = [post, in, post_fd](char* buffer, size_t capacity) -> long {
    char text[4096];
    while (in->decoded.empty()) {
      long n = ReceiveSome(post_fd, text, sizeof text);
      if (n <= 0) return n;
      in->decoded += in->decoder.Feed(std::string_view(text, static_cast<size_t>(n)));
    }
    const size_t n = std::min(capacity, in->decoded.size());
    std::memcpy(buffer, in->decoded.data(), n);
    in->decoded.erase(0, n);
    return static_cast<long>(n);
  };
  io.has_input = [in, post_fd] { return !in->decoded.empty() || BytesAvailable(post_fd) > 0; };
  io.peer_closed = [get_fd, post_fd] { return PeerHasClosed(get_fd) || PeerHasClosed(post_fd); };
  io.start_streaming = [get_fd, post_fd] {
    StartStreamingOn(get_fd);
    SetReceiveTimeoutMs(post_fd, 0);
  };
  return io;  // no UDP through a tunnel: it is for clients that only get HTTP out
}

// Reads up to the end of an HTTP head (the POST's Base64 may follow it in the
// same read); false on close, time-out or a head beyond the RTSP bound.
bool ReadHttpHead(int fd, std::string* bytes) {
  char buffer[2048];
  while (bytes->find("\r\n\r\n") == std::string::npos) {
    if (bytes->size() > kMaxRtspRequestBytes) return false;
    long n = ReceiveSome(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool LooksLikeHttp(std::string_view bytes) {
  return bytes.rfind("GET ", 0) == 0 || bytes.rfind("POST ", 0) == 0;
}

void ServeTunnel(const RtspSessionContext& context, UniqueFd socket, std::string bytes, int timeout_ms,
                 RtspTunnels& tunnels) {
  const int fd = socket.get();
  RequestHead head;
  const size_t head_end = bytes.find("\r\n\r\n") + 4;
  ParseRtspHead(std::string_view(bytes).substr(0, head_end), head);
  const TunnelHalf half = TunnelHalfOf(head);
  const std::string cookie = TunnelCookie(head);
  if (half == TunnelHalf::kPost) {
    TunnelPost post{std::move(socket), bytes.substr(head_end)};
    if (!tunnels.Attach(cookie, post)) {
      LogLine("RTSP: tunnel POST without its GET, closing it\n");
      SendAll(fd, BuildTunnelRefusal());
    }
    return;  // the GET's thread owns the socket now
  }
  if (half != TunnelHalf::kGet || !tunnels.Open(cookie)) {
    LogLine("RTSP: HTTP request that opens no tunnel (or a cookie in use), closing it\n");
    SendAll(fd, BuildTunnelRefusal());
    return;
  }
  if (!SendAll(fd, BuildTunnelGetResponse())) {
    tunnels.WaitForPost(cookie, 0);
    return;
  }
  std::optional<TunnelPost> post = tunnels.WaitForPost(cookie, timeout_ms);
  if (!post) {
    LogLine("RTSP: tunnel GET without its POST, closing it\n");
    return;
  }
  SetReceiveTimeoutMs(post->socket.get(), timeout_ms);
  LogLine("RTSP: tunnelled in HTTP\n");
  ServeRtspConnection(context, RandomHex(16), RandomHex(8),
                      TunnelIo(fd, std::make_shared<TunnelPost>(std::move(*post))));
}

}  // namespace

std::optional<ConnectionIo> ConnectPublisher(const PushTarget& target, std::string* why) {
  constexpr int kPublisherTimeoutMs = 10'000;
  int error = 0;
  auto socket = std::make_shared<UniqueFd>(ConnectTcp(target.host, target.port, kPublisherTimeoutMs, &error));
  if (!*socket) {
    *why = "cannot connect: " + std::string(std::strerror(error));
    return std::nullopt;
  }
  ConnectionIo io = SocketIo(socket->get(), "");
  io.open_udp = nullptr;
  // The io's functions own the socket: it closes with the last of them.
  io.send = [socket, send = io.send](std::string_view bytes) { return send(bytes); };
  return io;
}

std::optional<UdpMedia> OpenMulticastMedia(const std::string& group, uint16_t port, int ttl) {
  uint32_t address = 0;
  if (!ParseMulticastGroup(group, &address)) {
    LogLine("RTSP: multicast_group %s is no IPv4 multicast address\n", group.c_str());
    return std::nullopt;
  }
  auto pair = std::make_shared<UdpPortPair>();
  int error = 0;
  if (!OpenUdpPortPair(pair.get(), &error) || !SetMulticastTtl(pair->rtp.get(), ttl) ||
      !SetMulticastTtl(pair->rtcp.get(), ttl) || !ConnectDatagram(pair->rtp.get(), address, port) ||
      !ConnectDatagram(pair->rtcp.get(), address, static_cast<uint16_t>(port + 1))) {
    LogLine("RTSP: multicast sender to %s:%u failed: %s\n", group.c_str(), port,
            std::strerror(error ? error : errno));
    return std::nullopt;
  }
  SetSendBufferBytes(pair->rtp.get(), kUdpSendBufferBytes);
  auto pacer = std::make_shared<DatagramPacer>(
      kPacedBurstBytes, kPacedBurstInterval, [] { return std::chrono::steady_clock::now(); },
      [](std::chrono::steady_clock::duration wait) { std::this_thread::sleep_for(wait); });
  UdpMedia media;
  media.server_port = pair->port;
  media.client = {port, static_cast<uint16_t>(port + 1)};
  media.send = [pair, pacer](std::string_view bytes) {
    return SendAsDatagrams(bytes, *pacer, [&pair](uint8_t channel, const std::string_view* datagrams, size_t count) {
      if (channel > 1) return true;
      return SendDatagrams(channel == 0 ? pair->rtp.get() : pair->rtcp.get(), datagrams, count);
    });
  };
  media.receive_control = [](char*, size_t) -> long { return 0; };
  media.drain_media = [] {};
  return media;
}

bool RtspTunnels::Open(const std::string& cookie) {
  std::lock_guard lock(mutex_);
  return waiting_.try_emplace(cookie).second;
}

std::optional<TunnelPost> RtspTunnels::WaitForPost(const std::string& cookie, int timeout_ms) {
  std::unique_lock lock(mutex_);
  attached_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    auto it = waiting_.find(cookie);
    return it == waiting_.end() || it->second.has_value();
  });
  std::optional<TunnelPost> post;
  auto it = waiting_.find(cookie);
  if (it != waiting_.end()) {
    post = std::move(it->second);
    waiting_.erase(it);
  }
  return post;
}

bool RtspTunnels::Attach(const std::string& cookie, TunnelPost& post) {
  {
    std::lock_guard lock(mutex_);
    auto it = waiting_.find(cookie);
    if (it == waiting_.end() || it->second) return false;
    it->second = std::move(post);
  }
  attached_.notify_all();
  return true;
}

void RtspSession(const RtspSessionContext& context, UniqueFd socket, int request_idle_timeout_ms,
                 RtspTunnels* tunnels) {
  const int fd = socket.get();
  SetReceiveTimeoutMs(fd, request_idle_timeout_ms);
  SetSendTimeoutMs(fd, request_idle_timeout_ms);
  std::string first;
  if (tunnels) {
    // RTSP requests never start like HTTP's GET or POST, so the first read
    // tells a tunnel's half; for RTSP it is handed on to the session.
    char buffer[2048];
    long n = ReceiveSome(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    first.assign(buffer, static_cast<size_t>(n));
    if (LooksLikeHttp(first)) {
      if (ReadHttpHead(fd, &first))
        ServeTunnel(context, std::move(socket), std::move(first), request_idle_timeout_ms, *tunnels);
      return;
    }
  }
  // The session identifier only tells a client's sessions apart; random so
  // no two connections share one.
  ServeRtspConnection(context, RandomHex(16), RandomHex(8), SocketIo(fd, std::move(first)));
}

}  // namespace lcx
