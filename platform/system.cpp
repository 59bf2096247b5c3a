#include "platform/system.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/private_files.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace lcx {

uint64_t BootTickMs() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::optional<std::string> GetEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableDir() {
  std::string p = ExecutablePath();
  size_t cut = p.find_last_of('/');
  return cut == std::string::npos ? std::string(".") : p.substr(0, cut);
}

static std::string HomeDir() {
  if (auto h = GetEnv("HOME"); h && !h->empty()) return *h;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string TempDir() {
  auto t = GetEnv("TMPDIR");
  return t && !t->empty() ? *t : std::string("/tmp");
}

std::string UserConfigDir() {
  auto x = GetEnv("XDG_CONFIG_HOME");
  return x && !x->empty() ? *x : HomeDir() + "/.config";
}

std::string RuntimeDir() {
  if (auto x = GetEnv("XDG_RUNTIME_DIR"); x && !x->empty()) return *x;
  // The shared temporary folder: a name another account made first is not used.
  const std::string dir = TempDir() + "/lumicast-" + std::to_string(::getuid());
  return EnsurePrivateFolder(dir) ? dir : std::string();
}

void MakeDirectory(const std::string& path) { ::mkdir(path.c_str(), 0700); }

void MakeDirectories(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0700);
  }
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

namespace {

FileWriteResult WriteSynced(const std::string& path, std::string_view bytes, int fresh = 0) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | fresh, 0600));
  if (!fd) return FileWriteResult::kOpenFailed;
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::write(fd.get(), bytes.data() + off, bytes.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FileWriteResult::kWriteFailed;
    off += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) return FileWriteResult::kWriteFailed;
  return ::close(fd.release()) == 0 ? FileWriteResult::kWritten : FileWriteResult::kWriteFailed;
}

}  // namespace

bool WriteFileSynced(const std::string& path, std::string_view bytes) {
  return WriteSynced(path, bytes) == FileWriteResult::kWritten;
}

FileWriteResult ReplaceFileContents(const std::string& path, std::string_view bytes) {
  const std::string tmp = path + ".tmp";
  RemoveFile(tmp);
  FileWriteResult result = WriteSynced(tmp, bytes, O_EXCL);
  if (result == FileWriteResult::kWritten && !ReplaceFileDurably(tmp, path)) result = FileWriteResult::kMoveFailed;
  if (result != FileWriteResult::kWritten) RemoveFile(tmp);
  return result;
}


bool ReplaceFileDurably(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  size_t cut = to.find_last_of('/');
  std::string dir = cut == std::string::npos ? std::string(".") : (cut == 0 ? "/" : to.substr(0, cut));
  UniqueFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d) ::fsync(d.get());
  return true;
}

bool SpawnDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::string& cwd) {
  std::vector<std::string> words;
  words.push_back(path);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session, so the child survives the terminal or service that
  // started us; default signal dispositions since we ignore SIGPIPE, and an
  // empty mask since we block the stop signals (a browser started through
  // xdg-open would otherwise never see SIGTERM).
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

bool OpenUrl(const std::string& url) {
  return SpawnDetached("/usr/bin/xdg-open", {url}, "");
}

}  // namespace lcx
