#include "desktop/service.h"

#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>

#include "core/log.h"
#include "platform/stop_signal_fd.h"
#include "platform/system.h"

namespace lcx {
namespace {

constexpr char kUnitName[] = "lumicast.service";
constexpr int kPollMs = 3000;

// A systemd command-line word: quoted with C escapes, and "%" and "$"
// doubled so that neither specifiers nor variables are expanded.
std::string SystemdQuoted(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%' || c == '$') out += c;
    out += c;
  }
  return out + "\"";
}

int Systemctl(const std::vector<std::string>& words, std::string* output = nullptr) {
  std::vector<std::string> args{"--user"};
  args.insert(args.end(), words.begin(), words.end());
  return RunAndWait("systemctl", args, output);
}

std::string DisplayIn(const std::map<std::string, std::string>& env) {
  if (auto it = env.find("DISPLAY"); it != env.end() && !it->second.empty()) return it->second;
  if (auto it = env.find("WAYLAND_DISPLAY"); it != env.end() && !it->second.empty()) return it->second;
  return "";
}

// $'...' as systemctl prints values with special characters.
std::string UnescapeDollarQuoted(const std::string& v) {
  if (v.size() < 3 || v.compare(0, 2, "$'") != 0 || v.back() != '\'') return v;
  std::string out;
  for (size_t i = 2; i + 1 < v.size(); ++i) {
    if (v[i] != '\\' || i + 2 >= v.size()) {
      out += v[i];
      continue;
    }
    const char e = v[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'x':
        if (i + 2 < v.size()) {
          out += static_cast<char>(std::stoi(v.substr(i + 1, 2), nullptr, 16));
          i += 2;
        }
        break;
      default: out += e; break;  // \\ \' \"
    }
  }
  return out;
}

}  // namespace

std::string ServiceUnitPath() { return UserConfigDir() + "/systemd/user/" + kUnitName; }

std::string ServiceUnitText(const std::string& exe_path) {
  return "# Runs the Lumicast screen camera in the active user session.\n"
         "[Unit]\n"
         "Description=Lumicast Camera Service\n"
         // With the graphical session where the desktop starts one (GNOME,
         // KDE); elsewhere default.target starts it and the loop waits for
         // the session's DISPLAY or WAYLAND_DISPLAY in the manager's
         // environment, which it hands to the engine with the session bus.
         "After=graphical-session.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + SystemdQuoted(exe_path) + " --service\n"
         "KillMode=process\n"
         "Restart=on-failure\n"
         "RestartSec=3\n"
         "\n"
         "[Install]\n"
         "WantedBy=default.target\n"
         "WantedBy=graphical-session.target\n";
}

int InstallService() {
  const std::string path = ServiceUnitPath();
  // An existing unit is left as it is, whatever executable it names.
  if (!FileExists(path)) {
    MakeDirectories(UserConfigDir() + "/systemd/user");
    if (!WriteFileSynced(path, ServiceUnitText(ExecutablePath())))
      std::fprintf(stderr, "--install-service: could not write %s\n", path.c_str());
  }
  if (!FileExists(path)) return 1;
  if (Systemctl({"daemon-reload"}) != 0) std::fprintf(stderr, "--install-service: systemctl daemon-reload failed\n");
  if (Systemctl({"enable", "--now", kUnitName}) != 0)
    std::fprintf(stderr, "--install-service: systemctl enable --now %s failed\n", kUnitName);
  return 0;
}

int UninstallService() {
  const std::string path = ServiceUnitPath();
  if (!FileExists(path)) return 0;
  // Results not checked: a unit that is not loaded cannot be stopped, and
  // the file goes either way.
  Systemctl({"stop", kUnitName});
  Systemctl({"disable", kUnitName});
  RemoveFile(path);
  Systemctl({"daemon-reload"});
  return FileExists(path) ? 1 : 0;
}

std::map<std::string, std::string> ParseShowEnvironment(const std::string& output) {
  std::map<std::string, std::string> env;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq != std::string::npos && eq > 0) env[line.substr(0, eq)] = UnescapeDollarQuoted(line.substr(eq + 1));
    start = end + 1;
  }
  return env;
}

std::string SessionIdentity(const std::map<std::string, std::string>& env) {
  const std::string display = DisplayIn(env);
  if (display.empty()) return "";
  auto runtime = env.find("XDG_RUNTIME_DIR");
  return display + "\n" + (runtime == env.end() ? std::string() : runtime->second);
}

bool EngineRunsInSession(const std::vector<ProcessInfo>& processes, uid_t uid, pid_t self,
                         const std::string& session, const IdentityOfFn& identity_of) {
  for (const ProcessInfo& p : processes) {
    if (p.name != "lcx_onvif" || p.uid != uid || p.pid == self) continue;
    if (identity_of(p.pid) == session) return true;
  }
  return false;
}

int RunService() {
  if (GetEnv("INVOCATION_ID").value_or("").empty()) {
    std::fprintf(stderr, "--service: not started by systemd (install it with --install-service)\n");
    return 1;
  }
  UniqueFd signals = OpenStopSignalFd();
  if (!signals) return 1;
  sd_notify(0, "READY=1\nSTATUS=Watching the graphical session for the engine");
  LogLine("Service: watching for the engine every %d ms\n", kPollMs);

  const std::string exe = ExecutablePath();
  std::string last_state;
  for (;;) {
    ReapExitedChildren();
    std::string output;
    std::map<std::string, std::string> session_env;
    if (Systemctl({"show-environment"}, &output) == 0) session_env = ParseShowEnvironment(output);
    const std::string session = SessionIdentity(session_env);
    const std::string display = DisplayIn(session_env);
    std::string state;
    bool started = false;
    if (session.empty()) {
      state = "no graphical session";
    } else if (EngineRunsInSession(ListProcesses(), getuid(), getpid(), session, [](pid_t pid) {
                 std::optional<std::string> id;
                 if (auto env = ProcessEnvironment(pid)) id = SessionIdentity(*env);
                 return id;
               })) {
      state = "engine running on " + display;
    } else if (SpawnDetachedWithEnvironment(exe, {"--background"}, ExecutableDir(), session_env)) {
      state = "started the engine on " + display;
      started = true;  // every start is worth a line
    } else {
      state = "could not start the engine on " + display;
    }
    if (started || state != last_state) LogLine("Service: %s\n", state.c_str());
    last_state = state;
    std::fflush(stdout);

    if (WaitStopSignalFor(signals.get(), kPollMs)) break;
  }
  sd_notify(0, "STOPPING=1");
  LogLine("Service: stopping (the engine keeps running)\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace lcx
