// UDP port pairs and batched datagram I/O for RTP viewers.
#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

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

namespace {

// Segmentation offload: a run of equal datagrams (the last may be shorter)
// goes down the stack as one, which is most of a viewer's cost. Off for good
// once the kernel refuses it.
std::atomic<bool> segmentation_works{true};
constexpr size_t kMaxSegments = 32;  // far below the kernel's limit; 45 KB of RTP

// Datagrams [at, end) that go as one segmented send: same size as the first,
// the last no larger.
size_t RunEnd(const std::string_view* datagrams, size_t at, size_t count) {
  if (!segmentation_works.load(std::memory_order_relaxed)) return at + 1;
  const size_t size = datagrams[at].size();
  size_t end = at + 1;
  while (end < count && end - at < kMaxSegments && datagrams[end].size() <= size) {
    const bool shorter = datagrams[end].size() < size;
    ++end;
    if (shorter) break;
  }
  return end;
}

}  // namespace

bool SendDatagrams(int fd, const std::string_view* datagrams, size_t count) {
  constexpr size_t kBatch = 64;
  mmsghdr messages[kBatch];
  iovec parts[kBatch * kMaxSegments];
  alignas(cmsghdr) char controls[kBatch][CMSG_SPACE(sizeof(uint16_t))];
  size_t first_of[kBatch + 1];
  for (size_t done = 0; done < count;) {
    size_t batch = 0, next = done, part = 0;
    while (batch < kBatch && next < count) {
      const size_t end = RunEnd(datagrams, next, count);
      messages[batch] = mmsghdr{};
      msghdr& m = messages[batch].msg_hdr;
      m.msg_iov = &parts[part];
      for (size_t i = next; i < end; ++i, ++part) {
        parts[part].iov_base = const_cast<char*>(datagrams[i].data());
        parts[part].iov_len = datagrams[i].size();
      }
      m.msg_iovlen = end - next;
      if (end - next > 1) {
        m.msg_control = controls[batch];
        m.msg_controllen = sizeof controls[batch];
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = SOL_UDP;
        c->cmsg_type = UDP_SEGMENT;
        c->cmsg_len = CMSG_LEN(sizeof(uint16_t));
        const auto segment = static_cast<uint16_t>(datagrams[next].size());
        std::memcpy(CMSG_DATA(c), &segment, sizeof segment);
      }
      first_of[batch++] = next;
      next = end;
    }
    first_of[batch] = next;
    int sent = ::sendmmsg(fd, messages, static_cast<unsigned>(batch), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if ((errno == EIO || errno == EINVAL || errno == ENOPROTOOPT) && messages[0].msg_hdr.msg_iovlen > 1 &&
          segmentation_works.exchange(false)) {
        continue;  // again, one datagram per message
      }
      // A closed port at the viewer (ICMP) or a full queue: those datagrams
      // are lost as on any network; the session's time-out notices a viewer
      // that has gone.
      if (errno == ECONNREFUSED || errno == EAGAIN || errno == ENOBUFS) {
        done = first_of[1];
        continue;
      }
      return false;
    }
    done = first_of[sent];
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
