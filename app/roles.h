// The program's roles and the pieces of start-up that are not joining of
// servers: choosing the role, "--check-pass" and the single-instance guard.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace lcx {

enum class Role {
  kEngine,
  kService,
  kInstallService,
  kUninstallService,
  kDumpScreens,
  kCheckPass,
  kAgreementText,    // prints the license agreement
  kAcceptAgreement,  // records it as accepted, for a start with no terminal to ask on
};

struct Invocation {
  Role role = Role::kEngine;
  std::string argument;  // the directory of --dump-screens, the password of --check-pass
  bool relaunch = false;
  bool background = false;
  // The agreement is asked on standard input rather than in a window (the
  // run command's private screen, which nobody sees).
  bool terminal_agreement = false;
};

// Three passes over the words after the program name: a service or
// agreement word wins at once, then the first --dump-screens with a
// following word, then the first --check-pass with one. A trailing option
// without its word is ignored.
Invocation SelectRole(const std::vector<std::string>& args);

// The password "--check-pass" is given: the word itself, or for "-" one line
// of `in` without its line end (so the password stays out of the process
// list); nullopt when `in` holds no line at all.
std::optional<std::string> CheckPassPassword(const std::string& word, std::istream& in);
// "--check-pass": 0 when the password (see CheckPassPassword, standard input
// for "-") equals the stored administrator password made plain (no lock
// rule), 1 otherwise.
int CheckPassRole(const std::string& word);

enum class InstanceOutcome {
  kProceed,         // we hold the guard (or could not create it): go on
  kDeferredToPeer,  // another instance runs: exit 0
};

// Hooks for the guard, so tests can watch what a second start does.
struct InstanceHooks {
  std::function<bool()> send_show_admin;               // true when a running copy took it
  std::function<void(const std::string&)> open_url;    // the browser fallback
  std::function<void(int)> sleep_ms;
};
InstanceHooks DefaultInstanceHooks();

// The single-instance guard. `lock` keeps the guard held until it is closed.
// An interactive second start asks the running copy to show its admin window
// (or opens the web panel); a background one just yields; a relaunch waits
// up to 60 x 100 ms for the old copy to exit and then proceeds regardless.
InstanceOutcome GuardSingleInstance(const std::string& lock_path, bool relaunch, bool background,
                                    int web_port, UniqueFd& lock, const InstanceHooks& hooks);

}  // namespace lcx
