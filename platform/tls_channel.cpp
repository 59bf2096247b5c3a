#include "platform/tls_channel.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/system.h"

namespace lcx {
namespace {

// The error queue's first reason, or `fallback`; the queue is left empty so
// the next connection on this thread does not report this one's error.
std::string TakeError(const char* fallback) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// Deadline of a call that may wait `wait_ms` (0: no limit).
uint64_t DeadlineOf(int wait_ms) { return wait_ms > 0 ? BootTickMs() + static_cast<uint64_t>(wait_ms) : 0; }

// Waits for the socket as OpenSSL asked; false when the time ran out or the
// wait itself failed.
bool WaitFor(int fd, int ssl_error, uint64_t deadline) {
  pollfd p{fd, static_cast<short>(ssl_error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
  for (;;) {
    int timeout = -1;
    if (deadline != 0) {
      uint64_t now = BootTickMs();
      if (now >= deadline) return false;
      timeout = static_cast<int>(std::min<uint64_t>(deadline - now, 1u << 30));
    }
    int n = ::poll(&p, 1, timeout);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::FromPemFiles(const std::string& cert_file, const std::string& key_file,
                                                     std::string* error) {
  // OpenSSL writes with write(), not send(MSG_NOSIGNAL): a peer that went
  // away must fail the write, not end the process (the program ignores it too).
  ::signal(SIGPIPE, SIG_IGN);
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) {
    *error = TakeError("no TLS context");
    return nullptr;
  }
  std::unique_ptr<TlsContext> owned(new TlsContext(ctx));
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // One request per connection: a session cache would only hold memory.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    *error = TakeError("certificate or key unusable");
    return nullptr;
  }
  return owned;
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

std::unique_ptr<TlsChannel> TlsChannel::Accept(int fd, const TlsContext& context, int wait_ms, std::string* error) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  SSL* ssl = SSL_new(context.get());
  if (!ssl) {
    *error = TakeError("no TLS session");
    return nullptr;
  }
  std::unique_ptr<TlsChannel> channel(new TlsChannel(fd, ssl));
  channel->shut_ = true;  // no close_notify for a handshake that never finished
  if (SSL_set_fd(ssl, fd) != 1) {
    *error = TakeError("no TLS session");
    return nullptr;
  }
  const uint64_t deadline = DeadlineOf(wait_ms);
  for (;;) {
    int rc = SSL_accept(ssl);
    if (rc == 1) break;
    int e = SSL_get_error(ssl, rc);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && WaitFor(fd, e, deadline)) continue;
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) *error = "handshake took too long";
    else if (e == SSL_ERROR_SYSCALL || e == SSL_ERROR_ZERO_RETURN) *error = TakeError("peer went away");
    else *error = TakeError("handshake failed");
    return nullptr;
  }
  channel->shut_ = false;
  return channel;
}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

long TlsChannel::Receive(void* buffer, size_t capacity, int wait_ms) {
  const uint64_t deadline = DeadlineOf(wait_ms);
  const int want = static_cast<int>(std::min<size_t>(capacity, 1u << 30));
  for (;;) {
    int n = SSL_read(ssl_, buffer, want);
    if (n > 0) return n;
    int e = SSL_get_error(ssl_, n);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && WaitFor(fd_, e, deadline)) continue;
    ERR_clear_error();
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    return -1;
  }
}

bool TlsChannel::Send(std::string_view bytes, int wait_ms) {
  const uint64_t deadline = DeadlineOf(wait_ms);
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 1u << 20));
    int n = SSL_write(ssl_, bytes.data(), chunk);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    // A write that must wait is retried with the same bytes, as OpenSSL asks.
    int e = SSL_get_error(ssl_, n);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && WaitFor(fd_, e, deadline)) continue;
    ERR_clear_error();
    return false;
  }
  return true;
}

void TlsChannel::ShutdownWrite() {
  if (!shut_) {
    shut_ = true;
    // One attempt: close_notify is courtesy, the answer has been sent already.
    SSL_shutdown(ssl_);
    ERR_clear_error();
  }
  ::shutdown(fd_, SHUT_WR);
}

}  // namespace lcx
