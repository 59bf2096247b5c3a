// Helpers shared by the fuzz targets: a property check that aborts (so
// libFuzzer keeps the input as a crash) and a socketpair that hands a reader
// the fuzzer's bytes as a peer that sent them and closed.
#pragma once

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/net.h"
#include "platform/unique_fd.h"

#define LCX_FUZZ_CHECK(condition)                                                        \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace lcx::fuzz {

// The read end of a stream socket whose peer has sent `bytes` and shut down
// its side; invalid when the pair cannot be made. The inputs stay below the
// socket buffer (run.sh caps them), so the write never blocks.
inline UniqueFd PeerThatSent(std::string_view bytes) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return UniqueFd();
  UniqueFd reader(fds[0]), writer(fds[1]);
  int buffer = 1 << 20;
  ::setsockopt(writer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  ::setsockopt(reader.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  if (!bytes.empty() && !SendAll(writer.get(), bytes)) return UniqueFd();
  ShutdownWrite(writer.get());
  return reader;
}

}  // namespace lcx::fuzz
