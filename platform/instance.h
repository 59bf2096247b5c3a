// Single-instance guard of one user session and the "show-admin" socket by
// which a second start reaches the running instance.
#pragma once

#include <functional>
#include <string>

#include "platform/unique_fd.h"

namespace lcx {

std::string InstanceLockPath();     // $XDG_RUNTIME_DIR/...lock or /tmp/...-<uid>.lock
// RuntimeDir()/LCX_ShowAdmin_Halvorix.sock; "" when there is no runtime folder of ours.
std::string ShowAdminSocketPath();

enum class LockResult { kAcquired, kHeldElsewhere, kUnavailable };

// Non-blocking flock on the lock file. On kAcquired `lock` holds it until the
// descriptor is closed (normally at process exit).
LockResult TryAcquireInstanceLock(const std::string& path, UniqueFd& lock);

// Writes "show-admin" to a running instance's socket; false when none listens.
bool SendShowAdmin(const std::string& socket_path);

// Listening Unix-domain socket for "show-admin"; replaces a stale file. On
// failure errno tells why.
UniqueFd ListenShowAdmin(const std::string& socket_path);
// Serves one connection of the listener: true when it carried "show-admin".
bool AcceptShowAdmin(int listen_fd);

}  // namespace lcx
