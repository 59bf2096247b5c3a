// The accept loops of the TCP servers: one loop that hands each accepted
// socket on and ends when its listener is shut down, and the admission of
// the ONVIF port and the web panel (a place in a ConnectionTable, then a
// thread of a ThreadGroup). Runs on the server's accept thread; the table and
// the group have their own locks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/connection_table.h"
#include "platform/thread_group.h"
#include "platform/unique_fd.h"

namespace lcx {

// Accepts until `listen_fd` stops being a listener (closed or shut down,
// which only tests do); a failing accept (out of descriptors) is retried
// after a pause instead of spinning.
void AcceptUntilClosed(int listen_fd, const std::function<void(UniqueFd client, const std::string& peer)>& admit);

// Each accepted socket waits for a place in `table` (accepted first, so the
// backlog keeps moving and a client behind a flood reaches the table that
// cuts the idle), then runs `serve(fd, entry id)` on a thread of `threads`.
// The entry leaves before the descriptor closes; what `serve` returns (if
// anything) runs after that, on the same thread. Without a thread the client
// is dropped and the others are still served. Returns with the listener;
// the connections still running are the group's: `table` and what `serve`
// refers to must outlive `threads` (declare the group after them).
void ServeThroughTable(int listen_fd, ConnectionTable& table, ThreadGroup& threads,
                       std::function<std::function<void()>(int fd, uint64_t id)> serve);

}  // namespace lcx
