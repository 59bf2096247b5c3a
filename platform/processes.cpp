#include "platform/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/system.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace lcx {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// Real uid from the "Uid:" line of /proc/<pid>/status.
std::optional<uid_t> RealUid(const std::string& status) {
  const size_t at = status.find("\nUid:");
  if (at == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const unsigned long uid = std::strtoul(status.c_str() + at + 5, &end, 10);
  if (end == status.c_str() + at + 5) return std::nullopt;
  return static_cast<uid_t>(uid);
}

// Attributes shared by every child we start: default dispositions and an
// empty mask, since the engine blocks the stop signals in all its threads
// and ignores SIGPIPE; a child must not inherit either.
struct SpawnAttributes {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  explicit SpawnAttributes(bool new_session) {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (new_session) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
  }
  ~SpawnAttributes() {
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

std::vector<char*> ArgvOf(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

std::vector<ProcessInfo> ListProcesses() {
  std::vector<ProcessInfo> out;
  std::unique_ptr<DIR, DirCloser> dir(opendir("/proc"));
  if (!dir) return out;
  while (dirent* e = readdir(dir.get())) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string base = std::string("/proc/") + e->d_name;
    std::string comm, status;
    if (!ReadWholeFile(base + "/comm", comm) || !ReadWholeFile(base + "/status", status)) continue;
    const std::optional<uid_t> uid = RealUid(status);
    if (!uid) continue;
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    out.push_back({static_cast<pid_t>(pid), *uid, comm});
  }
  return out;
}

std::optional<std::map<std::string, std::string>> ProcessEnvironment(pid_t pid) {
  std::string raw;
  if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/environ", raw)) return std::nullopt;
  std::map<std::string, std::string> env;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    const std::string entry = raw.substr(start, end - start);
    const size_t eq = entry.find('=');
    if (eq != std::string::npos && eq > 0) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    start = end + 1;
  }
  return env;
}

int RunAndWait(const std::string& program, const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = ArgvOf(words);

  SpawnAttributes spawn(false);
  UniqueFd read_end, write_end;
  if (output) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    posix_spawn_file_actions_adddup2(&spawn.actions, write_end.get(), STDOUT_FILENO);
  }
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), &spawn.actions, &spawn.attr, argv.data(), environ) != 0)
    return -1;
  write_end.reset();
  if (output) {
    output->clear();
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(read_end.get(), buf, sizeof buf);
      if (n > 0) {
        output->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SpawnDetachedWithEnvironment(const std::string& path, const std::vector<std::string>& args,
                                  const std::string& cwd,
                                  const std::map<std::string, std::string>& environment) {
  std::vector<std::string> words{path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = ArgvOf(words);
  std::vector<std::string> env_words;
  for (const auto& [k, v] : environment) env_words.push_back(k + "=" + v);
  std::vector<char*> envp = ArgvOf(env_words);

  SpawnAttributes spawn(true);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&spawn.actions, cwd.c_str());
  pid_t pid = 0;
  return posix_spawn(&pid, path.c_str(), &spawn.actions, &spawn.attr, argv.data(), envp.data()) == 0;
}

void ReapExitedChildren() {
  int status = 0;
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
}

}  // namespace lcx
