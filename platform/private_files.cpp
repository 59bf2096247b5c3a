#include "platform/private_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system.h"
#include "platform/unique_fd.h"

namespace lcx {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool RandomBytes(std::string& out, size_t size) {
  out.assign(size, '\0');
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::getrandom(out.data() + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> ReadSecret(const std::string& path, size_t size) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) return std::nullopt;
  // A secret others could read is no secret; it is ours, so close it again.
  if ((st.st_mode & 077) != 0) ::fchmod(fd.get(), 0600);
  std::string out(size + 1, '\0');
  size_t got = 0;
  for (;;) {
    ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (got == out.size()) return std::nullopt;
  }
  if (got != size) return std::nullopt;
  out.resize(size);
  return out;
}

}  // namespace

bool EnsurePrivateFolder(const std::string& path) {
  ::mkdir(path.c_str(), 0700);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::getuid()) return false;
  if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), st.st_mode & 0700) != 0) return false;
  return true;
}

std::string WriteUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                            std::string_view bytes) {
  if (dir.empty()) return {};
  std::string name = dir + "/" + prefix + "XXXXXX" + suffix;
  UniqueFd fd(::mkstemps(name.data(), static_cast<int>(suffix.size())));
  if (!fd) return {};
  if (!WriteAll(fd.get(), bytes) || ::close(fd.release()) != 0) {
    ::unlink(name.c_str());
    return {};
  }
  return name;
}

std::optional<std::string> ReadOrCreateSecret(const std::string& path, size_t size) {
  if (auto existing = ReadSecret(path, size)) return existing;
  if (FileExists(path)) return std::nullopt;  // damaged or not ours: never replaced silently
  std::string bytes;
  if (!RandomBytes(bytes, size)) return std::nullopt;
  size_t cut = path.find_last_of('/');
  const std::string dir = cut == std::string::npos ? std::string(".") : path.substr(0, cut);
  std::string made = WriteUniqueFile(dir, ".key-", "", bytes);
  if (made.empty()) return std::nullopt;
  UniqueFd sync(::open(made.c_str(), O_RDONLY | O_CLOEXEC));
  if (sync) ::fsync(sync.get());
  // link() never replaces: whoever came first wins and both read its bytes.
  const bool linked = ::link(made.c_str(), path.c_str()) == 0 || errno == EEXIST;
  ::unlink(made.c_str());
  return linked ? ReadSecret(path, size) : std::nullopt;
}

}  // namespace lcx
