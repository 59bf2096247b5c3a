// Processes of the host: the /proc listing the service's supervisor looks
// through, and running a helper program (systemctl) to completion or
// starting one with an environment of the caller's choosing. Stateless.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lcx {

struct ProcessInfo {
  pid_t pid = 0;
  uid_t uid = 0;       // real user
  std::string name;    // /proc/<pid>/comm (at most 15 bytes)
};

// Every process whose entry could be read; a process that ends while we look
// is left out.
std::vector<ProcessInfo> ListProcesses();
// NAME=value environment of a process; nullopt when it cannot be read.
std::optional<std::map<std::string, std::string>> ProcessEnvironment(pid_t pid);

// Runs `program` (looked up on PATH) with `args` and waits for it. Returns
// its exit status, or -1 when it could not be started or did not exit
// normally. `output`, when given, receives its standard output.
int RunAndWait(const std::string& program, const std::vector<std::string>& args,
               std::string* output = nullptr);

// Starts `path` with `args` in `cwd` with exactly `environment` (not ours),
// in a session of its own with no signal blocked; not waited for.
bool SpawnDetachedWithEnvironment(const std::string& path, const std::vector<std::string>& args,
                                  const std::string& cwd,
                                  const std::map<std::string, std::string>& environment);

// Collects the exit status of every child that has ended, so a long-lived
// parent of detached children leaves no zombies. Never blocks.
void ReapExitedChildren();

}  // namespace lcx
