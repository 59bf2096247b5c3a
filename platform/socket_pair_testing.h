// For tests: two connected stream sockets, one for the server side under
// test and one for the peer the test plays.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/unique_fd.h"

namespace lcx {

struct SocketPair {
  UniqueFd server, client;
};

inline SocketPair MakeSocketPair() {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

}  // namespace lcx
