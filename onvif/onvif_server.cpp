#include "onvif/onvif_server.h"

#include <cerrno>
#include <memory>
#include <system_error>
#include <thread>

#include "core/log.h"
#include "onvif/onvif_answers.h"
#include "onvif/onvif_connections.h"
#include "onvif/onvif_http.h"
#include "platform/net.h"
#include "platform/system.h"
#include "video/snapshot.h"

namespace lcx {
namespace {

// Reads one request and answers it; the caller closes the socket.
void ServeOneRequest(const OnvifService& service, OnvifAuthState& auth, int fd, OnvifConnectionTable* table,
                     uint64_t id) {
  OnvifRequest request;
  RequestRead read = ReadOnvifRequest(fd, service.limits, request);
  if (table) table->DoneReading(id);
  switch (read) {
    case RequestRead::kNoHeader:
      return;
    case RequestRead::kHeaderTooLarge:
      LogLine("ONVIF: request header over %zu bytes refused\n", service.limits.max_request_bytes);
      RefuseAndDrain(fd, service.limits, RefusalAnswer(read));
      return;
    case RequestRead::kBodyTooLarge:
      LogLine("ONVIF: request over %zu bytes refused\n", service.limits.max_request_bytes);
      RefuseAndDrain(fd, service.limits, RefusalAnswer(read));
      return;
    case RequestRead::kComplete:
      break;
  }
  WriteOnvifAnswer(fd, service.limits, AnswerOnvifRequest(service, auth, request.text, request.Body(), EncodeScreenJpeg));
}

}  // namespace

void HandleOnvifConnection(const OnvifService& service, OnvifAuthState& auth, UniqueFd socket) {
  ServeOneRequest(service, auth, socket.get(), nullptr, 0);
}

void ServeOnvifConnections(const OnvifService& service, int listen_fd) {
  auto table = std::make_shared<OnvifConnectionTable>(service.limits.max_connections,
                                                      service.limits.min_idle_before_evict_ms);
  auto auth = std::make_shared<OnvifAuthState>();
  for (;;) {
    UniqueFd client = AcceptClient(listen_fd, nullptr);
    if (!client) {
      int error = errno;
      if (ListenerGone(error)) return;
      SleepMs(10);  // out of descriptors and the like: do not spin
      continue;
    }
    uint64_t id = table->Enter(client.get());
    try {
      std::thread([&service, table, auth, id, socket = std::move(client)]() mutable {
        ServeOneRequest(service, *auth, socket.get(), table.get(), id);
        table->Leave(id);  // before the descriptor closes, see the table's note
        socket.reset();
      }).detach();
    } catch (const std::system_error&) {
      // No thread to be had: the socket has already closed with the lambda.
      // Only this thread cuts connections (in Enter), so nothing can reach
      // the closed descriptor before its entry goes.
      table->Leave(id);
    }
  }
}

void RunOnvifHttp(OnvifService& service) {
  int error = 0;
  UniqueFd listener = ListenTcp(static_cast<uint16_t>(service.onvif_port), 8, &error);
  if (!listener) {
    LogLine("ONVIF bind failed: %d\n", error);
    return;
  }
  LogLine("ONVIF HTTP ready -> http://%s:%d/onvif/device_service\n", service.ip.c_str(), service.onvif_port);
  ServeOnvifConnections(service, listener.get());
}

}  // namespace lcx
