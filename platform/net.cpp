#include "platform/net.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace lcx {
namespace {

std::set<std::string> InterfacesWithDefaultRoute() {
  // /proc/net/route: Iface Destination Gateway Flags ...; a default route has
  // destination 00000000 and the RTF_GATEWAY flag (0x2).
  std::set<std::string> out;
  std::ifstream f("/proc/net/route");
  std::string line;
  std::getline(f, line);  // header
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string iface, dest, gw, flags;
    if (!(in >> iface >> dest >> gw >> flags)) continue;
    unsigned long fl = std::strtoul(flags.c_str(), nullptr, 16);
    if (dest == "00000000" && (fl & 0x2) && gw != "00000000") out.insert(iface);
  }
  return out;
}

bool OperStateUp(const std::string& name, unsigned int flags) {
  std::ifstream f("/sys/class/net/" + name + "/operstate");
  std::string state;
  if (f >> state) {
    // "unknown" is what many drivers (and tun devices) report while running.
    if (state == "up") return true;
    if (state == "unknown") return (flags & IFF_UP) && (flags & IFF_RUNNING);
    return false;
  }
  return (flags & IFF_UP) && (flags & IFF_RUNNING);
}

bool IsVirtualDevice(const std::string& name) {
  struct stat st {};
  if (::stat(("/sys/devices/virtual/net/" + name).c_str(), &st) == 0) return true;
  return ::stat(("/sys/class/net/" + name + "/device").c_str(), &st) != 0;
}

}  // namespace

std::vector<AdapterRecord> ListAdapters() {
  std::vector<AdapterRecord> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  std::set<std::string> gateways = InterfacesWithDefaultRoute();
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_name) continue;
    std::string name = it->ifa_name;
    AdapterRecord* rec = nullptr;
    for (auto& r : out) {
      if (r.name == name) rec = &r;
    }
    if (!rec) {
      AdapterRecord r;
      r.name = r.description = r.friendly_name = name;
      r.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
      r.up = OperStateUp(name, it->ifa_flags);
      r.virtual_device = IsVirtualDevice(name);
      r.has_gateway = gateways.count(name) != 0;
      out.push_back(std::move(r));
      rec = &out.back();
    }
    if (it->ifa_addr && it->ifa_addr->sa_family == AF_INET) {
      char buf[INET_ADDRSTRLEN] = {};
      auto* sin = reinterpret_cast<sockaddr_in*>(it->ifa_addr);
      if (::inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf)) rec->ipv4.emplace_back(buf);
    }
  }
  ::freeifaddrs(list);
  return out;
}

std::vector<std::string> ListUpNonLoopbackIpv4() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* it = list; it && out.size() < 32; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    if (!(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK)) continue;
    char buf[INET_ADDRSTRLEN] = {};
    auto* sin = reinterpret_cast<sockaddr_in*>(it->ifa_addr);
    if (::inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf)) out.emplace_back(buf);
  }
  ::freeifaddrs(list);
  return out;
}

namespace {

// An IPv4 socket of `type` bound to all addresses at `port`, SO_REUSEADDR set.
UniqueFd BoundSocket(int type, uint16_t port, int* error, const char** failed_call = nullptr) {
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd) {
    if (error) *error = errno;
    if (failed_call) *failed_call = "socket";
    return {};
  }
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error) *error = errno;
    if (failed_call) *failed_call = "bind";
    return {};
  }
  return fd;
}

}  // namespace

UniqueFd ListenTcp(uint16_t port, int backlog, int* error, const char** failed_call) {
  UniqueFd fd = BoundSocket(SOCK_STREAM, port, error, failed_call);
  if (fd && ::listen(fd.get(), backlog) != 0) {
    if (error) *error = errno;
    if (failed_call) *failed_call = "listen";
    return {};
  }
  return fd;
}

int LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
  return ntohs(addr.sin_port);
}

namespace {
std::string AddressText(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
  }
  return text;
}
}  // namespace

std::string PeerAddress(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return AddressText(addr);
}

std::string SocketAddress(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return AddressText(addr);
}

UniqueFd AcceptClient(int listen_fd, std::string* peer_ip) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int fd;
  do {
    fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 && peer_ip) {
    char buf[64] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof buf);
    *peer_ip = buf;
  }
  return UniqueFd(fd);
}

bool SendAll(int fd, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

int BytesAvailable(int fd) {
  int count = 0;
  if (::ioctl(fd, FIONREAD, &count) != 0) return -1;
  return count;
}

static bool SetTimeout(int fd, int opt, int timeout_ms) {
  timeval tv{};
  tv.tv_sec = timeout_ms / 1000;
  tv.tv_usec = (timeout_ms % 1000) * 1000;
  return ::setsockopt(fd, SOL_SOCKET, opt, &tv, sizeof tv) == 0;
}

bool SetReceiveTimeoutMs(int fd, int timeout_ms) { return SetTimeout(fd, SO_RCVTIMEO, timeout_ms); }
bool SetSendTimeoutMs(int fd, int timeout_ms) { return SetTimeout(fd, SO_SNDTIMEO, timeout_ms); }

int LastSocketError() { return errno; }

long ReceiveSome(int fd, void* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool PeerHasClosed(int fd) {
  char byte;
  ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

bool SetSendBufferBytes(int fd, int bytes) {
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

bool SetNoDelay(int fd) {
  const int one = 1;
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}

void ShutdownRead(int fd) { ::shutdown(fd, SHUT_RD); }
void ShutdownWrite(int fd) { ::shutdown(fd, SHUT_WR); }

UniqueFd OpenUdpSocket(uint16_t port, int* error) { return BoundSocket(SOCK_DGRAM, port, error); }

bool JoinMulticastGroup(int fd, const char* group, const char* interface_ip) {
  ip_mreq mreq{};
  if (::inet_pton(AF_INET, group, &mreq.imr_multiaddr) != 1) return false;
  if (::inet_pton(AF_INET, interface_ip, &mreq.imr_interface) != 1) return false;
  return ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) == 0;
}

long ReceiveDatagram(int fd, void* buffer, size_t capacity, DatagramPeer* from) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ssize_t n;
  do {
    // MSG_TRUNC: the result is the datagram's real size.
    n = ::recvfrom(fd, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&addr), &len);
  } while (n < 0 && errno == EINTR);
  if (from) {
    from->address = addr.sin_addr.s_addr;
    from->port = addr.sin_port;
  }
  return n;
}

bool SendDatagram(int fd, std::string_view bytes, const DatagramPeer& to) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = to.address;
  addr.sin_port = to.port;
  return ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), sizeof addr) ==
         static_cast<ssize_t>(bytes.size());
}

bool ListenerGone(int error) { return error == EBADF || error == EINVAL || error == ENOTSOCK; }

}  // namespace lcx
