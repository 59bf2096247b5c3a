#include "onvif/onvif_server.h"

#include <cstring>

#include "core/log.h"
#include "onvif/onvif_answers.h"
#include "platform/accept_loop.h"
#include "platform/connection_table.h"
#include "platform/net.h"
#include "platform/thread_group.h"
#include "video/snapshot.h"

namespace lcx {
namespace {

// Reads one request and answers it; the caller closes the socket.
void ServeOneRequest(const OnvifService& service, OnvifAuthState& auth, int fd, ConnectionTable* table,
                     uint64_t id) {
  const HttpLimits limits = OnvifHttpLimits(service.limits);
  HttpRequest request;
  const HttpRead read = ReadHttpRequest(fd, limits, request);
  if (table) table->DoneReading(id);
  switch (read) {
    case HttpRead::kClosed:
      return;
    case HttpRead::kHeaderTooLarge:
      LogLine("ONVIF: request header over %zu bytes or %zu lines refused\n", limits.max_head_bytes,
              limits.max_fields);
      return RefuseAndDrain(fd, limits, OnvifRefusal(read));
    case HttpRead::kBodyTooLarge:
      LogLine("ONVIF: request over %zu bytes refused\n", limits.max_request_bytes);
      return RefuseAndDrain(fd, limits, OnvifRefusal(read));
    case HttpRead::kBadLength:
    case HttpRead::kIncompleteBody:
      LogLine("ONVIF: request with an unreadable Content-Length refused\n");
      return RefuseAndDrain(fd, limits, OnvifRefusal(read));
    case HttpRead::kComplete:
      break;
  }
  SendHttpAnswer(fd, limits, AnswerOnvifRequest(service, auth, request.head, request.Body(), EncodeScreenJpeg));
}

}  // namespace

HttpLimits OnvifHttpLimits(const OnvifLimits& limits) {
  HttpLimits http;
  http.max_head_bytes = http.max_body_bytes = http.max_request_bytes = limits.max_request_bytes;
  http.receive_timeout_ms = 0;
  http.request_deadline_ms = limits.receive_timeout_ms;
  http.send_timeout_ms = limits.send_timeout_ms;
  http.refuse_short_body = false;
  http.keep_bytes_beyond_length = true;
  return http;
}

void HandleOnvifConnection(const OnvifService& service, OnvifAuthState& auth, UniqueFd socket) {
  ServeOneRequest(service, auth, socket.get(), nullptr, 0);
}

void ServeOnvifConnections(const OnvifService& service, int listen_fd) {
  ConnectionTable table(service.limits.max_connections, service.limits.min_idle_before_evict_ms);
  OnvifAuthState auth;
  ThreadGroup threads;  // last: waits for the connections before the table and auth go
  ServeThroughTable(listen_fd, table, threads, [&service, &auth, &table](int fd, uint64_t id) {
    ServeOneRequest(service, auth, fd, &table, id);
    return std::function<void()>();
  });
}

void RunOnvifHttp(const OnvifService& service) {
  int error = 0;
  const char* call = "bind";
  UniqueFd listener = ListenTcp(static_cast<uint16_t>(service.onvif_port), 8, &error, &call);
  if (!listener) {
    LogLine("ONVIF: %s failed: %d (%s), port %d\n", call, error, std::strerror(error), service.onvif_port);
    return;
  }
  LogLine("ONVIF HTTP ready -> http://%s:%d/onvif/device_service\n", service.ip.c_str(), service.onvif_port);
  ServeOnvifConnections(service, listener.get());
}

}  // namespace lcx
