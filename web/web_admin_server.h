// The web administration server: the process-wide object (the panel's state
// of web_answers.h), its listener with a bounded number of connections (one
// request each, over plain HTTP or, with web_tls, over TLS whose handshake
// counts as reading the request) and the thread group that owns their threads.
// The TLS context is made once by the constructor and only read afterwards.
// Locks: the sessions' guard (web_sessions.h), the connection table's mutex
// (platform/connection_table.h) and the thread group's
// (platform/thread_group.h); none is held while another is taken, nor while
// a socket is read or written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/http_request.h"
#include "core/subsystem_settings.h"
#include "platform/connection_table.h"
#include "platform/tls_channel.h"
#include "platform/thread_group.h"
#include "web/web_answers.h"

namespace lcx {

// The program's hooks: the real clock, tokens, screen and relaunch.
WebHooks DefaultWebHooks();

struct WebLimits {
  size_t max_header_bytes = 16384;  // checked after each 4096-byte receive
  size_t max_body_bytes = 65536;
  int receive_timeout_ms = 6000;    // each receive
  int send_timeout_ms = 6000;       // each send
  // Whole-request and whole-answer budgets: without them a peer sending or
  // reading one byte every few seconds would hold its thread for hours.
  int request_deadline_ms = 20000;
  int answer_deadline_ms = 30000;
  int max_connections = 32;         // connection threads at once
  // When all are taken, a peer that has sent no whole request for this long
  // is cut to make room; a real browser's request arrives in one segment.
  int min_reading_before_cut_ms = 250;
};
// The shared framing's options on the panel's port: the head and the body
// bounded apart, a body cut short refused.
HttpLimits WebHttpLimits(const WebLimits& limits);

// The PEM files the panel serves HTTPS with: web_cert and web_key when both
// are set, else web_cert.pem and web_key.pem in the data folder, made
// (0600, self-signed for the host name, <host name>.local, localhost and
// every address of the machine) when either is missing. Empty paths when
// they cannot be made (the reason is logged).
struct TlsFiles {
  std::string cert, key;
};
TlsFiles PrepareTlsFiles(const WebSettings& settings);

class WebAdminServer {
 public:
  explicit WebAdminServer(const WebSettings& settings, WebHooks hooks = DefaultWebHooks(),
                          WebLimits limits = WebLimits());
  WebAdminServer(const WebAdminServer&) = delete;
  WebAdminServer& operator=(const WebAdminServer&) = delete;
  // Waits for the connections still running (the thread group goes first).
  ~WebAdminServer() = default;

  // Thread body: binds web_port and serves for ever; returns only when the
  // port cannot be bound.
  void Run();
  // Accept loop; returns when the socket stops being a listener (tests). The
  // connections it started may still run: WaitForConnections.
  void Serve(int listen_fd);
  void WaitForConnections() { threads_.WaitIdle(); }

  // The answer to one request, with the side effects of its route.
  WebReply Answer(const WebRequest& request) { return AnswerWebRequest(panel_, request); }

  WebSessions& sessions() { return panel_.sessions; }
  const std::string& config_path() const { return panel_.config_path; }
  std::string sessions_path() const { return panel_.sessions_path(); }
  int ActiveConnections() { return connections_.Active(); }
  bool ServesTls() const { return tls_ != nullptr; }

 private:
  // One connection: read one request and answer it; returns what to do once
  // the socket is closed (a relaunch after the routes that end the program).
  std::function<void()> HandleConnection(int fd, uint64_t connection_id);

  WebPanel panel_;
  const uint16_t web_port_;
  const bool tls_wanted_;
  std::unique_ptr<TlsContext> tls_;  // set when web_tls is on and its files load
  const WebLimits limits_;
  ConnectionTable connections_;
  ThreadGroup threads_;  // last: destroyed first, it waits for the connections using the rest
};

}  // namespace lcx
