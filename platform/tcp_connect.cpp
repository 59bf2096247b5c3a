// Outgoing TCP with a bounded connect.
#include "platform/tcp_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/net.h"

namespace lcx {

UniqueFd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    *error = EHOSTUNREACH;
    return UniqueFd();
  }
  sockaddr_in addr = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
  ::freeaddrinfo(found);
  addr.sin_port = htons(port);
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) {
    *error = errno;
    return fd;
  }
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      *error = errno;
      return UniqueFd();
    }
    pollfd p{fd.get(), POLLOUT, 0};
    int ready;
    do {
      ready = ::poll(&p, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    int failure = 0;
    socklen_t length = sizeof failure;
    if (ready <= 0) failure = ready == 0 ? ETIMEDOUT : errno;
    else if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
    if (failure != 0) {
      *error = failure;
      return UniqueFd();
    }
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  SetReceiveTimeoutMs(fd.get(), timeout_ms);
  SetSendTimeoutMs(fd.get(), timeout_ms);
  return fd;
}

}  // namespace lcx
