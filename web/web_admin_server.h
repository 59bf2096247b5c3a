// The web administration server: the process-wide object (settings copy,
// sessions, lockout), its listener with a bounded number of connection
// threads (one request each), and the handlers behind every route.
// Locks: the sessions' guard (web_sessions.h) and the connection table's
// mutex (web_connections.h); neither is held while the other is taken, nor
// while a socket is read or written. Settings and hooks are written only by the constructor.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/subsystem_settings.h"
#include "platform/unique_fd.h"
#include "web/web_connections.h"
#include "web/web_http.h"
#include "web/web_request.h"
#include "web/web_sessions.h"

namespace lcx {

// What start-up hands the web panel.
// Everything the handlers take from the rest of the program, replaceable
// so tests see a relaunch without being replaced, and drive the clock.
struct WebHooks {
  std::function<uint64_t()> clock;                  // ms since boot
  std::function<std::string()> new_token;           // 32 hex digits, "" on failure
  std::function<std::vector<uint8_t>()> snapshot;   // the web preview JPEG
  std::function<bool(int*, int*)> screen_size;      // primary screen
  std::function<void()> relaunch;                   // the program: RelaunchSelf(true)
  std::string recovery_public_key;                  // key blob for recovery codes
};
WebHooks DefaultWebHooks();


enum class AfterReply { kNothing, kRelaunch, kSaveSessionsAndRelaunch };
struct WebReply {
  std::string bytes;  // the whole answer, head and body
  AfterReply after = AfterReply::kNothing;
};

class WebAdminServer {
 public:
  explicit WebAdminServer(const WebSettings& settings, WebHooks hooks = DefaultWebHooks(),
                          WebLimits limits = WebLimits());
  WebAdminServer(const WebAdminServer&) = delete;
  WebAdminServer& operator=(const WebAdminServer&) = delete;

  // Thread body: binds web_port and serves for ever; returns only when the
  // port cannot be bound.
  void Run();
  // Accept loop; returns when the socket stops being a listener (tests).
  void Serve(int listen_fd);
  // One connection: read one request, answer it, close; relaunches after
  // the routes that end the program. `connection_id` is its entry in the
  // connection table, 0 for none.
  void HandleConnection(UniqueFd socket, uint64_t connection_id = 0);

  // The answer to one request, with the side effects of its route.
  WebReply Answer(const WebRequest& request);

  WebSessions& sessions() { return sessions_; }
  const std::string& config_path() const { return config_path_; }
  std::string sessions_path() const { return data_folder_ + "/sessions.dat"; }
  int ActiveConnections();

 private:
  std::string LoginPage(bool error) const;
  WebReply Login(const WebRequest& request);
  WebReply Recover(const WebRequest& request);
  WebReply Restore(const WebRequest& request);
  WebReply ConfigJson();
  WebReply Stream(const WebRequest& request);

  const std::string host_address_, machine_id_, version_;
  std::string admin_user_, admin_password_;
  const uint16_t web_port_;
  const std::string data_folder_, config_path_;
  const SettingDefaults defaults_;
  const WebHooks hooks_;
  const WebLimits limits_;
  const uint64_t start_tick_;  // after hooks_: read from its clock
  WebSessions sessions_;

  WebConnections connections_;
};

}  // namespace lcx
