// For the web panel's tests: the requests a browser sends, built from
// strings, and a fixture with a private data folder (removed afterwards), a
// clock the test moves and hooks that count relaunches instead of replacing
// the program.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/subsystem_settings.h"
#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/protect.h"
#include "security/recovery_code_testing.h"
#include "video/stream_producer.h"
#include "web/web_answers.h"

namespace lcx {
namespace web_test {

inline constexpr char kMachineId[] = "3f9a1c0d7e52b8a46c1de09f7b3a25e8c4d6f0a1b29e7c53d8f4a60b1c2e9d75";

inline std::optional<std::string> FixedKeySource() { return std::string("test machine|key"); }

inline const TestRecoveryKey& Key() {
  static const TestRecoveryKey key;
  return key;
}

// The form body the login page posts: the code through encodeURIComponent.
inline std::string CodeForm(const std::string& code) {
  std::string out = "code=";
  for (char c : code) {
    if (c == '+') out += "%2B";
    else if (c == '/') out += "%2F";
    else if (c == '=') out += "%3D";
    else out += c;
  }
  return out;
}

// A request as the framing hands it over; `cookie`, when given, is the whole
// Cookie line's value.
inline WebRequest RequestWithCookie(const std::string& method, const std::string& path, const std::string& body,
                                    const std::string& cookie) {
  WebRequest r;
  r.head = method + " " + path + " HTTP/1.1\r\nHost: cam\r\n";
  if (!cookie.empty()) r.head += "Cookie: " + cookie + "\r\n";
  r.head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  r.body = body;
  ParseWebHead(r);
  return r;
}

inline WebRequest Request(const std::string& method, const std::string& path, const std::string& body = "",
                          const std::string& token = "") {
  return RequestWithCookie(method, path, body, token.empty() ? "" : "theme=dark; lcx_sess=" + token);
}

inline std::string StatusLine(const WebReply& reply) { return reply.bytes.substr(0, reply.bytes.find("\r\n")); }
inline std::string Body(const WebReply& reply) { return reply.bytes.substr(reply.bytes.find("\r\n\r\n") + 4); }

class WebPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    env_.Set("XDG_CONFIG_HOME", dir_.Sub("cfg"));
    SetProtectionKeySourceForTesting(FixedKeySource);
    ASSERT_TRUE(SetPasswordProtectedFlag(false));
    StreamPaused.store(false);
    settings_.host_address = "192.168.1.40";
    settings_.machine_id = kMachineId;
    settings_.version = "1.1";
    settings_.admin_user = "admin";
    settings_.admin_password = "s3cret";
    settings_.web_port = 0;
    settings_.web_hosts = "cam";  // the Host of Request()
    settings_.data_folder = dir_.path();
  }
  void TearDown() override {
    SetProtectionKeySourceForTesting(nullptr);
    StreamPaused.store(false);
  }

  WebHooks Hooks() {
    WebHooks hooks;
    hooks.clock = [this] { return now_.load(); };
    hooks.new_token = [this] {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%032x", ++tokens_);
      return std::string(buf);
    };
    hooks.snapshot = [] { return std::vector<uint8_t>{0xff, 0xd8, 0xff, 0xd9}; };
    hooks.screen_size = [](int* w, int* h) {
      *w = 1920;
      *h = 1080;
      return true;
    };
    hooks.relaunch = [this] { ++relaunches_; };
    hooks.recovery_public_key = Key().PublicBlob();
    return hooks;
  }

  // Logs in through the answer layer; the token, "" when the login failed.
  std::string LoginToken(WebPanel& panel) {
    WebReply r = AnswerWebRequest(panel, Request("POST", "/login", "user=admin&pass=s3cret"));
    size_t at = r.bytes.find("lcx_sess=");
    EXPECT_NE(at, std::string::npos) << r.bytes;
    return at == std::string::npos ? "" : r.bytes.substr(at + 9, 32);
  }

  std::string ReadConfig() {
    std::string s;
    ReadWholeFile(dir_.Sub("lcx.cfg"), s);
    return s;
  }

  TestDir dir_{"lcx-web"};
  ScopedEnv env_;
  WebSettings settings_;
  std::atomic<uint64_t> now_{5000000};
  unsigned tokens_ = 0;
  std::atomic<int> relaunches_{0};
};

}  // namespace web_test
}  // namespace lcx
