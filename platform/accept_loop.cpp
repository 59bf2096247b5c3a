#include "platform/accept_loop.h"

#include <cerrno>

#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

constexpr int kAcceptRetryDelayMs = 20;

}  // namespace

void AcceptUntilClosed(int listen_fd, const std::function<void(UniqueFd client, const std::string& peer)>& admit) {
  for (;;) {
    std::string peer;
    UniqueFd client = AcceptClient(listen_fd, &peer);
    if (!client) {
      if (ListenerGone(errno)) return;
      SleepMs(kAcceptRetryDelayMs);
      continue;
    }
    admit(std::move(client), peer);
  }
}

void ServeThroughTable(int listen_fd, ConnectionTable& table, ThreadGroup& threads,
                       std::function<std::function<void()>(int fd, uint64_t id)> serve) {
  AcceptUntilClosed(listen_fd, [&](UniqueFd client, const std::string&) {
    const uint64_t id = table.Enter(client.get());
    const bool started = threads.Start([&table, serve, id, socket = std::move(client)]() mutable {
      std::function<void()> after_close = serve(socket.get(), id);
      table.Leave(id);  // before the descriptor closes, see connection_table.h
      socket.reset();
      if (after_close) after_close();
    });
    // The socket closed with the unrun body; only this thread cuts (in
    // Enter), so nothing reached the closed descriptor before its entry goes.
    if (!started) table.Leave(id);
  });
}

}  // namespace lcx
