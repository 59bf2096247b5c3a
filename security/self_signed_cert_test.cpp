// The generated certificate as a TLS client sees it: a real handshake over a
// socket pair through the server's channel, verified by OpenSSL against the
// certificate itself for each name a browser or curl would ask for.
#include "security/self_signed_cert.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <thread>

#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "platform/tls_channel.h"
#include "platform/unique_fd.h"

namespace lcx {
namespace {

struct Handshake {
  bool client_ok = false;
  long verify = -1;
  std::string server_got;
};

// The client verifies the chain and the name `host`, sends "ping" and
// reads what the server echoes.
Handshake Connect(const TlsContext& server_ctx, const std::string& cert_file, const std::string& host,
                  const std::string& ip = "") {
  int pair[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  UniqueFd server_fd(pair[0]), client_fd(pair[1]);
  Handshake result;
  std::thread server([&] {
    std::string why;
    auto channel = TlsChannel::Accept(server_fd.get(), server_ctx, 5000, &why);
    if (!channel) return;
    char buf[16];
    long n = channel->Receive(buf, sizeof buf, 5000);
    if (n > 0) {
      result.server_got.assign(buf, static_cast<size_t>(n));
      channel->Send(result.server_got, 5000);
    }
    channel->ShutdownWrite();
  });
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(ctx, cert_file.c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL* ssl = SSL_new(ctx);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  if (!ip.empty()) X509_VERIFY_PARAM_set1_ip_asc(param, ip.c_str());
  else X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  SSL_set_fd(ssl, client_fd.get());
  if (SSL_connect(ssl) == 1) {
    result.client_ok = SSL_write(ssl, "ping", 4) == 4;
    char buf[16];
    result.client_ok = result.client_ok && SSL_read(ssl, buf, sizeof buf) == 4;
  }
  result.verify = SSL_get_verify_result(ssl);
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  ERR_clear_error();
  ::shutdown(client_fd.get(), SHUT_RDWR);
  server.join();
  return result;
}

TEST(SelfSignedCertificate, VerifiesForTheMachinesNamesOnly) {
  TestDir dir("lcx-cert");
  auto pair = MakeSelfSignedCertificate({"camhost", "camhost.local", "localhost", "evil,DNS:bank.example"},
                                        {"127.0.0.1", "::1", "192.0.2.7", "not-an-address"}, 3650);
  ASSERT_TRUE(pair);
  ASSERT_TRUE(WriteFileSynced(dir.Sub("cert.pem"), pair->cert_pem));
  ASSERT_TRUE(WriteFileSynced(dir.Sub("key.pem"), pair->key_pem));
  std::string error;
  auto ctx = TlsContext::FromPemFiles(dir.Sub("cert.pem"), dir.Sub("key.pem"), &error);
  ASSERT_TRUE(ctx) << error;

  struct Case {
    const char* host;
    const char* ip;
    bool trusted;
  } cases[] = {
      {"camhost", "", true},        {"camhost.local", "", true}, {"localhost", "", true},
      {"", "127.0.0.1", true},      {"", "::1", true},           {"", "192.0.2.7", true},
      {"other.local", "", false},   {"bank.example", "", false}, {"", "192.0.2.8", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + c.ip);
    Handshake h = Connect(*ctx, dir.Sub("cert.pem"), c.host, c.ip);
    EXPECT_EQ(h.client_ok, c.trusted);
    EXPECT_EQ(h.verify == X509_V_OK, c.trusted);
    EXPECT_EQ(h.server_got, c.trusted ? "ping" : "");
  }
}

TEST(SelfSignedCertificate, MismatchedKeyAndNothingToNameAreRefused) {
  TestDir dir("lcx-cert");
  EXPECT_FALSE(MakeSelfSignedCertificate({"bad name", ""}, {"x"}, 10));
  auto a = MakeSelfSignedCertificate({"a"}, {}, 10);
  auto b = MakeSelfSignedCertificate({"b"}, {}, 10);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(WriteFileSynced(dir.Sub("cert.pem"), a->cert_pem));
  ASSERT_TRUE(WriteFileSynced(dir.Sub("key.pem"), b->key_pem));
  std::string error;
  EXPECT_FALSE(TlsContext::FromPemFiles(dir.Sub("cert.pem"), dir.Sub("key.pem"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(TlsContext::FromPemFiles(dir.Sub("missing.pem"), dir.Sub("key.pem"), &error));
}

// A peer that opens the connection and sends nothing holds the handshake
// only for the time it was given.
TEST(TlsChannel, AStalledHandshakeEndsWithinItsTime) {
  TestDir dir("lcx-cert");
  auto pair = MakeSelfSignedCertificate({"localhost"}, {}, 10);
  ASSERT_TRUE(pair);
  ASSERT_TRUE(WriteFileSynced(dir.Sub("cert.pem"), pair->cert_pem));
  ASSERT_TRUE(WriteFileSynced(dir.Sub("key.pem"), pair->key_pem));
  std::string error;
  auto ctx = TlsContext::FromPemFiles(dir.Sub("cert.pem"), dir.Sub("key.pem"), &error);
  ASSERT_TRUE(ctx);
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  UniqueFd server(fds[0]), client(fds[1]);
  ASSERT_EQ(::send(client.get(), "\x16\x03\x01", 3, 0), 3) << "the start of a record, then silence";
  EXPECT_EQ(TlsChannel::Accept(server.get(), *ctx, 200, &error), nullptr);
  EXPECT_EQ(error, "handshake took too long");
  ::shutdown(client.get(), SHUT_RDWR);
  EXPECT_EQ(TlsChannel::Accept(server.get(), *ctx, 5000, &error), nullptr) << "a peer gone ends it at once";
}

}  // namespace
}  // namespace lcx
