// The bytes of one connection as the HTTP framing reads and writes them: a
// plain socket, or a TLS session over one (platform/tls_channel.h), so one
// reader serves both. Each call waits at most the time it is given.
// Not shared between threads.
#pragma once

#include <cstddef>
#include <string_view>

namespace lcx {

class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // Up to `capacity` bytes within `wait_ms` (0: no limit of its own): > 0
  // bytes, 0 the peer closed, < 0 failed or the time ran out.
  virtual long Receive(void* buffer, size_t capacity, int wait_ms) = 0;
  // All of `bytes` within `wait_ms`; false when the peer stopped taking them.
  virtual bool Send(std::string_view bytes, int wait_ms) = 0;
  // Ends our side of the conversation (the peer then reads its end).
  virtual void ShutdownWrite() = 0;
};

// A connected socket as it is.
class SocketChannel final : public ByteChannel {
 public:
  explicit SocketChannel(int fd) : fd_(fd) {}
  long Receive(void* buffer, size_t capacity, int wait_ms) override;
  bool Send(std::string_view bytes, int wait_ms) override;
  void ShutdownWrite() override;

 private:
  int fd_;
};

}  // namespace lcx
