// Accept loop and RTSP thread entry.
#include "rtsp/rtsp_server.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "core/log.h"
#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

// A failing accept (out of descriptors, say) would otherwise spin a core.
constexpr int kAcceptRetryDelayMs = 20;

void RunCountedSession(RtspServer& server, UniqueFd socket) {
  RtspSession(SessionContextOf(server), std::move(socket), server.request_idle_timeout_ms);
  server.connections.fetch_sub(1);  // the last touch of `server`: it may go away once this reaches 0
}

}  // namespace

RtspServer& GetRtspServer() {
  static RtspServer server;  // never destroyed: the process ends by _Exit (app/engine.cpp)
  return server;
}

bool InitRtspServer(RtspServer& server, const RtspSettings& settings, const VideoSettings& video) {
  server.settings = settings;
  return StartEngine(server.video, video);
}

RtspSessionContext SessionContextOf(RtspServer& server) {
  VideoEngine& video = server.video;
  return {server.settings, video.sub_on, video.main_channel, video.sub_channel,
          {video.ViewerCount, video.KeyframeRequest, video.viewer_mutex, video.wake_up}};
}

void ServeRtsp(RtspServer& server, UniqueFd listener) {
  const RtspSettings& settings = server.settings;
  std::string suffix;
  if (server.video.sub_on) suffix = " (+sub: " + settings.sub_name + ")";
  LogLine("RTSP server ready (multi-client) -> rtsp://<ip>:%d/%s%s\n", LocalPort(listener.get()),
          settings.main_name.c_str(), suffix.c_str());

  std::thread([&server] { RunProducer(server.video); }).detach();
  AcceptRtspConnections(server, listener.get());
}

void AcceptRtspConnections(RtspServer& server, int listen_fd) {
  for (;;) {
    std::string peer;
    UniqueFd client = AcceptClient(listen_fd, &peer);
    if (!client) {
      if (ListenerGone(errno)) return;
      SleepMs(kAcceptRetryDelayMs);
      continue;
    }
    LogLine("RTSP: connection from %s\n", peer.c_str());
    if (server.connections.fetch_add(1) >= server.max_connections) {
      server.connections.fetch_sub(1);
      if (!std::exchange(server.limit_logged, true))
        LogLine("RTSP: connection limit of %d reached, refusing new connections\n", server.max_connections);
      continue;  // closes the socket
    }
    // Admitted, so a session has ended since the last refusal (only this
    // loop adds connections): the next refusal starts a new episode.
    server.limit_logged = false;
    try {
      std::thread(RunCountedSession, std::ref(server), std::move(client)).detach();
    } catch (const std::system_error&) {
      // No thread for it: the socket (moved into the failed thread's
      // arguments) is closed as they unwind.
      server.connections.fetch_sub(1);
    }
  }
}

void RunRtspThread(const RtspSettings& settings, const VideoSettings& video) {
  RtspServer& server = GetRtspServer();
  if (!InitRtspServer(server, settings, video)) {
    LogLine("RTSP init failed\n");
    return;
  }
  int error = 0;
  UniqueFd listener = ListenTcp(settings.port, 8, &error);
  if (!listener) {
    LogLine("bind failed: %d\n", error);
    if (error == EACCES && settings.port < 1024)
      LogLine("RTSP: port %d is privileged: allow it with 'setcap cap_net_bind_service=+ep %s' "
              "or choose an rtsp_port above 1023\n",
              settings.port, ExecutablePath().c_str());
    return;
  }
  ServeRtsp(server, std::move(listener));
}

}  // namespace lcx
