// The RTSP server: the process-wide RtspServer (settings copy plus the video
// engine it feeds from), the accept loop and the RTSP thread entry.
// Threads: the RTSP thread accepts; the producer thread, the publisher (with
// push_url), one thread per connection owned by `sessions` and a multicast
// sender per stream owned by `multicast.threads` run beside it. Settings
// never change after InitRtspServer; `sessions`, `tunnels` and `multicast`
// have their own mutexes; `limit_logged` belongs to the accept thread alone;
// the engine's own locks are described in video/stream_producer.h.
#pragma once

#include <mutex>

#include "core/subsystem_settings.h"
#include "platform/thread_group.h"
#include "platform/unique_fd.h"
#include "rtsp/rtsp_connection.h"
#include "rtsp/rtsp_session.h"
#include "video/stream_producer.h"

namespace lcx {

// Connections served at once; one more is accepted and closed at once. Far
// above what a handful of recorders and players need, low enough that a
// flood of idle sockets cannot exhaust threads or descriptors.
inline constexpr int kMaxRtspConnections = 128;

// The streams' shared multicast senders: each runs on a thread of its own,
// as one viewer, while at least one multicast viewer of its stream watches.
// `mutex` guards the counts; nothing else is taken while it is held.
struct MulticastSenders {
  std::mutex mutex;
  int viewers[2] = {0, 0};  // main, sub
  bool running[2] = {false, false};
  // ONVIF's StartMulticastStreaming holds a stream's sender like one more
  // viewer until StopMulticastStreaming; hold_mutex keeps Start and Stop of
  // two recorders from counting twice.
  std::mutex hold_mutex;
  bool held[2] = {false, false};
  ThreadGroup threads;  // last: waits for the senders, which use the rest
};

struct RtspServer {
  RtspSettings settings;
  VideoEngine video;

  int max_connections = kMaxRtspConnections;
  int request_idle_timeout_ms = kRequestIdleTimeoutMs;
  bool limit_logged = false;  // the limit line was logged for this episode
  RtspTunnels tunnels;        // HTTP tunnels whose GET waits for its POST
  MulticastSenders multicast;
  // The sessions running now. Last, so that it is destroyed first: its
  // destructor waits for every session, which uses the fields above.
  ThreadGroup sessions;
};

// The process-wide server, created on first use.
RtspServer& GetRtspServer();

// Copies the settings and starts the video engine; false when the engine
// cannot start.
bool InitRtspServer(RtspServer& server, const RtspSettings& settings, const VideoSettings& video);

// A multicast viewer of the main or sub-stream comes or goes; the first
// starts the stream's shared sender, the last one out stops it. Join is
// false when the group's sockets cannot be opened.
bool JoinMulticast(RtspServer& server, bool sub);
void LeaveMulticast(RtspServer& server, bool sub);
// ONVIF Start/StopMulticastStreaming: the sender runs while held, with or
// without multicast viewers; repeating either call changes nothing.
bool HoldMulticast(RtspServer& server, bool sub, bool on);

// The part of `server` a session sees (valid while the server lives).
RtspSessionContext SessionContextOf(RtspServer& server);

// Logs the ready line, starts the producer thread and accepts connections on
// `listener`, one thread per connection. Returns only when the
// listener is shut down, which the program never does.
void ServeRtsp(RtspServer& server, UniqueFd listener);

// The accept loop alone: each connection gets a thread of server.sessions
// running RtspSession while fewer than server.max_connections run; beyond
// that it is closed at once (logged once until a session ends). Returns when
// `listen_fd` is shut down or closed; sessions still running keep using
// `server` until server.sessions is idle.
void AcceptRtspConnections(RtspServer& server, int listen_fd);

// The RTSP thread body: engine start, bind, then ServeRtsp. Returns only when
// the engine cannot start ("RTSP init failed") or the port cannot be bound.
void RunRtspThread(const RtspSettings& settings, const VideoSettings& video);

}  // namespace lcx
