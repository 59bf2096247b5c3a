// For tests: a private temporary folder (TestDir) removed with everything in it when
// the test ends, and a home made of one, which points the variables that
// locate the program's files into it and puts them back afterwards.
#pragma once

#include <ftw.h>
#include <signal.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lcx {

class TestDir {
 public:
  explicit TestDir(std::string_view prefix = "lcx-test") {
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + std::string(prefix) + "-XXXXXX";
    if (mkdtemp(tmpl.data())) path_ = tmpl;
  }
  ~TestDir() {
    // Depth first and without following links: a link planted by a test
    // must not make us delete what it points to.
    if (!path_.empty()) {
      nftw(path_.c_str(), [](const char* p, const struct stat*, int, FTW*) { return std::remove(p); }, 16,
           FTW_DEPTH | FTW_PHYS);
    }
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string Sub(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Sets or unsets environment variables for a scope; the old values come back
// in reverse order when it ends.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
      else unsetenv(it->first.c_str());
    }
  }
  void Set(const std::string& name, const std::string& value) {
    Save(name);
    setenv(name.c_str(), value.c_str(), 1);
  }
  void Unset(const std::string& name) {
    Save(name);
    unsetenv(name.c_str());
  }

 private:
  void Save(const std::string& name) {
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR inside one
// temporary folder, ProgramData unset, so the data folder is
// data_folder() and the protected-password flag lives under config_home().
class TempHome {
 public:
  explicit TempHome(std::string_view prefix = "lcx-home") : dir_(prefix) {
    env_.Set("HOME", dir_.path());
    env_.Set("XDG_CONFIG_HOME", dir_.Sub("config"));
    env_.Set("XDG_DATA_HOME", dir_.Sub("data"));
    env_.Set("XDG_RUNTIME_DIR", dir_.path());
    env_.Unset("ProgramData");
  }
  bool ok() const { return dir_.ok(); }
  const std::string& path() const { return dir_.path(); }
  std::string Sub(std::string_view name) const { return dir_.Sub(name); }
  std::string config_home() const { return dir_.Sub("config"); }
  std::string data_folder() const { return dir_.Sub("data") + "/Halvorix"; }
  ScopedEnv& env() { return env_; }

 private:
  TestDir dir_;
  ScopedEnv env_;
};

// Makes every write past `bytes` of a file fail (EFBIG, SIGXFSZ ignored)
// while it lives: a full disk that a test can make without following a link.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit small{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
};

}  // namespace lcx
