// Accept loop and RTSP thread entry.
#include "rtsp/rtsp_server.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "core/log.h"
#include "platform/accept_loop.h"
#include "platform/net.h"
#include "platform/system.h"
#include "rtsp/rtsp_publisher.h"

namespace lcx {

RtspServer& GetRtspServer() {
  static RtspServer server;  // never destroyed: the process ends by _Exit (app/engine.cpp)
  return server;
}

bool InitRtspServer(RtspServer& server, const RtspSettings& settings, const VideoSettings& video) {
  server.settings = settings;
  return StartEngine(server.video, video);
}

bool JoinMulticast(RtspServer& server, bool sub) {
  MulticastSenders& m = server.multicast;
  const int i = sub ? 1 : 0;
  {
    std::lock_guard lock(m.mutex);
    if (m.running[i]) {
      ++m.viewers[i];
      // The newcomer needs parameter sets and a key frame to start from.
      server.video.KeyframeRequest.store(true);
      return true;
    }
  }
  const RtspSettings& settings = server.settings;
  const uint16_t port = MulticastPort(settings, sub);
  std::optional<UdpMedia> media = OpenMulticastMedia(settings.multicast_group, port, settings.multicast_ttl);
  if (!media) return false;
  std::lock_guard lock(m.mutex);
  ++m.viewers[i];
  if (m.running[i]) return true;  // another viewer started it meanwhile; ours closes
  m.running[i] = true;
  LogLine("RTSP: multicast sender of the %s stream started -> %s:%u\n", sub ? "sub" : "main",
          settings.multicast_group.c_str(), port);
  const bool started = m.threads.Start([&server, sub, i, media = std::move(*media)] {
    RtspSessionContext context = SessionContextOf(server);
    MulticastSenders& senders = server.multicast;
    StreamToGroup(context, sub ? context.sub_channel : context.main_channel, media, [&senders, i] {
      std::lock_guard inner(senders.mutex);
      if (senders.viewers[i] > 0) return true;
      senders.running[i] = false;  // decided under the lock: a newcomer starts a new sender
      return false;
    });
    LogLine("RTSP: multicast sender of the %s stream stopped\n", sub ? "sub" : "main");
  });
  if (!started) {
    m.running[i] = false;
    --m.viewers[i];
  }
  return started;
}

void LeaveMulticast(RtspServer& server, bool sub) {
  std::lock_guard lock(server.multicast.mutex);
  --server.multicast.viewers[sub ? 1 : 0];
}

bool HoldMulticast(RtspServer& server, bool sub, bool on) {
  MulticastSenders& m = server.multicast;
  const int i = sub ? 1 : 0;
  std::lock_guard hold(m.hold_mutex);
  if (m.held[i] == on) return true;
  if (on && !JoinMulticast(server, sub)) return false;
  if (!on) LeaveMulticast(server, sub);
  m.held[i] = on;
  LogLine("RTSP: multicast sender of the %s stream %s by ONVIF\n", sub ? "sub" : "main", on ? "held" : "released");
  return true;
}

RtspSessionContext SessionContextOf(RtspServer& server) {
  VideoEngine& video = server.video;
  RtspSessionContext context{server.settings, video.sub_on, video.main_channel, video.sub_channel,
                             {video.ViewerCount, video.KeyframeRequest, video.viewer_mutex, video.wake_up}};
  context.join_multicast = [&server](bool sub) { return JoinMulticast(server, sub); };
  context.leave_multicast = [&server](bool sub) { LeaveMulticast(server, sub); };
  return context;
}

void ServeRtsp(RtspServer& server, UniqueFd listener) {
  const RtspSettings& settings = server.settings;
  std::string suffix;
  if (server.video.sub_on) suffix = " (+sub: " + settings.sub_name + ")";
  LogLine("RTSP server ready (multi-client) -> rtsp://<ip>:%d/%s%s\n", LocalPort(listener.get()),
          settings.main_name.c_str(), suffix.c_str());

  std::thread([&server] { RunProducer(server.video); }).detach();
  if (!settings.push_url.empty()) {
    if (std::optional<PushTarget> target = ParsePushUrl(settings.push_url)) {
      // Like the producer, for the life of the process.
      std::thread([&server, target = *target] {
        RunPublisher(SessionContextOf(server), target, ConnectPublisher,
                     [](int seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); });
      }).detach();
    } else {
      LogLine("RTSP push: push_url is no rtsp://[user:pass@]host[:port]/path, not publishing\n");
    }
  }
  AcceptRtspConnections(server, listener.get());
}

void AcceptRtspConnections(RtspServer& server, int listen_fd) {
  AcceptUntilClosed(listen_fd, [&server](UniqueFd client, const std::string& peer) {
    LogLine("RTSP: connection from %s\n", peer.c_str());
    // Only this loop starts sessions: the count can only fall before the start below.
    if (server.sessions.Live() >= server.max_connections) {
      if (!std::exchange(server.limit_logged, true))
        LogLine("RTSP: connection limit of %d reached, refusing new connections\n", server.max_connections);
      return;  // closes the socket
    }
    // Admitted, so a session has ended since the last refusal (only this
    // loop adds connections): the next refusal starts a new episode.
    server.limit_logged = false;
    // Without a thread the socket closes with the unrun body.
    server.sessions.Start([&server, socket = std::move(client)]() mutable {
      RtspSession(SessionContextOf(server), std::move(socket), server.request_idle_timeout_ms, &server.tunnels);
    });
  });
}

void RunRtspThread(const RtspSettings& settings, const VideoSettings& video) {
  RtspServer& server = GetRtspServer();
  if (!InitRtspServer(server, settings, video)) {
    LogLine("RTSP init failed\n");
    return;
  }
  int error = 0;
  const char* call = "bind";
  UniqueFd listener = ListenTcp(settings.port, 8, &error, &call);
  if (!listener) {
    LogLine("RTSP: %s failed: %d (%s), port %d\n", call, error, std::strerror(error), settings.port);
    if (error == EACCES && settings.port < 1024)
      LogLine("RTSP: port %d is privileged: allow it with 'setcap cap_net_bind_service=+ep %s' "
              "or choose an rtsp_port above 1023\n",
              settings.port, ExecutablePath().c_str());
    return;
  }
  ServeRtsp(server, std::move(listener));
}

}  // namespace lcx
