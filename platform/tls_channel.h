// TLS for a server socket with OpenSSL: the context of one certificate and
// key (TLS 1.2 and later), and a channel that shakes hands on an accepted
// connection and then reads and writes through it. The socket is switched
// to non-blocking and every wait is a poll() bounded by the caller's time,
// so a peer that stalls the handshake or a record is cut like a slow HTTP
// request. A context is shared read-only by the connection threads; a
// channel belongs to one.
#pragma once

#include <memory>
#include <string>

#include "platform/byte_channel.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace lcx {

class TlsContext {
 public:
  // Certificate chain and private key from PEM files; nullptr with `error`
  // set when they cannot be read or do not belong together.
  static std::unique_ptr<TlsContext> FromPemFiles(const std::string& cert_file, const std::string& key_file,
                                                  std::string* error);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;
  SSL_CTX* get() const { return ctx_; }

 private:
  explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}
  SSL_CTX* ctx_;
};

class TlsChannel final : public ByteChannel {
 public:
  // The server side of the handshake on `fd` within `wait_ms`; nullptr when
  // it failed, the peer went away or the time ran out (`error` says which).
  // The descriptor stays the caller's.
  static std::unique_ptr<TlsChannel> Accept(int fd, const TlsContext& context, int wait_ms, std::string* error);
  ~TlsChannel() override;
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  long Receive(void* buffer, size_t capacity, int wait_ms) override;
  bool Send(std::string_view bytes, int wait_ms) override;
  // close_notify, then the socket's writing side.
  void ShutdownWrite() override;

 private:
  TlsChannel(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  int fd_;
  SSL* ssl_;
  bool shut_ = false;
};

}  // namespace lcx
