#include "platform/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/system.h"

namespace lcx {

std::string InstanceLockPath() {
  if (auto x = GetEnv("XDG_RUNTIME_DIR"); x && !x->empty())
    return *x + "/Halvorix.Lumicast.SingleInstance.lock";
  return "/tmp/Halvorix.Lumicast.SingleInstance-" + std::to_string(getuid()) + ".lock";
}

std::string ShowAdminSocketPath() {
  // Empty without a folder of ours: a socket elsewhere could be another account's.
  const std::string dir = RuntimeDir();
  return dir.empty() ? std::string() : dir + "/LCX_ShowAdmin_Halvorix.sock";
}

LockResult TryAcquireInstanceLock(const std::string& path, UniqueFd& lock) {
  // The fallback name is in the shared /tmp: never through a link, and only a file of ours.
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    return LockResult::kUnavailable;
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? LockResult::kHeldElsewhere : LockResult::kUnavailable;
  }
  lock = std::move(fd);
  return LockResult::kAcquired;
}

static bool FillAddress(const std::string& path, sockaddr_un& addr) {
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  addr = {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool SendShowAdmin(const std::string& socket_path) {
  sockaddr_un addr;
  if (!FillAddress(socket_path, addr)) return false;
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
  static const char kMessage[] = "show-admin";
  return ::send(fd.get(), kMessage, sizeof kMessage - 1, MSG_NOSIGNAL) == sizeof kMessage - 1;
}

UniqueFd ListenShowAdmin(const std::string& socket_path) {
  sockaddr_un addr;
  if (!FillAddress(socket_path, addr)) {
    errno = socket_path.empty() ? EACCES : ENAMETOOLONG;  // the caller logs errno
    return {};
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return {};
  // We hold the instance lock, so a file left here belongs to a dead copy.
  ::unlink(socket_path.c_str());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  if (::listen(fd.get(), 4) != 0) return {};
  return fd;
}

bool AcceptShowAdmin(int listen_fd) {
  UniqueFd client(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
  if (!client) return false;
  timeval tv{1, 0};
  ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char buf[32] = {};
  ssize_t n = ::recv(client.get(), buf, sizeof buf - 1, 0);
  return n >= 10 && std::strncmp(buf, "show-admin", 10) == 0;
}

}  // namespace lcx
