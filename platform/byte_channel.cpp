#include "platform/byte_channel.h"

#include "platform/net.h"

namespace lcx {

long SocketChannel::Receive(void* buffer, size_t capacity, int wait_ms) {
  if (!SetReceiveTimeoutMs(fd_, wait_ms)) return -1;
  return ReceiveSome(fd_, buffer, capacity);
}

bool SocketChannel::Send(std::string_view bytes, int wait_ms) {
  return SetSendTimeoutMs(fd_, wait_ms) && SendAll(fd_, bytes);
}

void SocketChannel::ShutdownWrite() { lcx::ShutdownWrite(fd_); }

}  // namespace lcx
