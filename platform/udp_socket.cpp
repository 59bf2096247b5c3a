// UDP port pairs and batched datagram I/O for RTP viewers.
#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace lcx {
namespace {

constexpr int kPairAttempts = 32;

UniqueFd BindUdp(uint16_t port, int* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    *error = errno;
    return fd;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = errno;
    fd.reset();
  }
  return fd;
}

}  // namespace

bool OpenUdpPortPair(UdpPortPair* pair, int* error) {
  int scratch = 0;
  if (!error) error = &scratch;
  // The kernel picks a free port; half of them are odd and some have a
  // taken neighbour, so a few tries find a pair.
  for (int attempt = 0; attempt < kPairAttempts; ++attempt) {
    UniqueFd rtp = BindUdp(0, error);
    if (!rtp) return false;
    const int port = LocalPort(rtp.get());
    if (port <= 0 || port % 2 != 0 || port >= 65535) continue;
    UniqueFd rtcp = BindUdp(static_cast<uint16_t>(port + 1), error);
    if (!rtcp) continue;
    pair->rtp = std::move(rtp);
    pair->rtcp = std::move(rtcp);
    pair->port = static_cast<uint16_t>(port);
    return true;
  }
  if (*error == 0) *error = EADDRINUSE;
  return false;
}

uint32_t PeerIpv4(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) return 0;
  return addr.sin_addr.s_addr;
}

bool ConnectDatagram(int fd, uint32_t address, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = address;
  return ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

bool SendDatagrams(int fd, const std::string_view* datagrams, size_t count) {
  constexpr size_t kBatch = 64;
  mmsghdr messages[kBatch];
  iovec parts[kBatch];
  for (size_t done = 0; done < count;) {
    const size_t batch = std::min(kBatch, count - done);
    for (size_t i = 0; i < batch; ++i) {
      parts[i].iov_base = const_cast<char*>(datagrams[done + i].data());
      parts[i].iov_len = datagrams[done + i].size();
      messages[i] = mmsghdr{};
      messages[i].msg_hdr.msg_iov = &parts[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    int sent = ::sendmmsg(fd, messages, static_cast<unsigned>(batch), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      // A closed port at the viewer (ICMP) or a full queue: those datagrams
      // are lost as on any network; the session's time-out notices a viewer
      // that has gone.
      if (errno == ECONNREFUSED || errno == EAGAIN || errno == ENOBUFS) {
        ++done;
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(sent);
  }
  return true;
}

bool ParseMulticastGroup(const std::string& text, uint32_t* address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  if ((ntohl(parsed.s_addr) >> 28) != 0xE) return false;
  *address = parsed.s_addr;
  return true;
}

bool SetMulticastTtl(int fd, int ttl) {
  const unsigned char value = static_cast<unsigned char>(ttl);
  return ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value) == 0;
}

long ReceiveDatagramNow(int fd, void* buffer, size_t capacity, DatagramPeer* from) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ssize_t n;
  do {
    n = ::recvfrom(fd, buffer, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr), &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // A closed port at the viewer reported by ICMP is not a failure of ours.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) return 0;
    return -1;
  }
  if (from) {
    from->address = addr.sin_addr.s_addr;
    from->port = addr.sin_port;
  }
  // An empty datagram reads as "none waiting"; nothing is lost by it.
  return n;
}

}  // namespace lcx
