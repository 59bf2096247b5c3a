#include "web/web_admin_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/config.h"
#include "core/log.h"
#include "platform/net.h"
#include "platform/system.h"
#include "security/protect.h"
#include "security/recovery_code_testing.h"
#include "video/stream_producer.h"
#include "web/web_resources.h"
#include "web/web_routes.h"

namespace lcx {
namespace {

constexpr char kMachineId[] = "3f9a1c0d7e52b8a46c1de09f7b3a25e8c4d6f0a1b29e7c53d8f4a60b1c2e9d75";

std::optional<std::string> FixedKeySource() { return std::string("test machine|key"); }

const TestRecoveryKey& Key() {
  static const TestRecoveryKey key;
  return key;
}

// The form body the login page posts: the code through encodeURIComponent.
std::string CodeForm(const std::string& code) {
  std::string out = "code=";
  for (char c : code) {
    if (c == '+') out += "%2B";
    else if (c == '/') out += "%2F";
    else if (c == '=') out += "%3D";
    else out += c;
  }
  return out;
}

WebRequest Request(const std::string& method, const std::string& path, const std::string& body = "",
                   const std::string& token = "") {
  WebRequest r;
  r.head = method + " " + path + " HTTP/1.1\r\nHost: cam\r\n";
  if (!token.empty()) r.head += "Cookie: theme=dark; lcx_sess=" + token + "\r\n";
  r.head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  r.body = body;
  SplitRequestLine(r);
  return r;
}

std::string StatusLine(const WebReply& reply) { return reply.bytes.substr(0, reply.bytes.find("\r\n")); }
std::string Body(const WebReply& reply) { return reply.bytes.substr(reply.bytes.find("\r\n\r\n") + 4); }

class WebServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lcx-web-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", (dir_ + "/cfg").c_str(), 1);
    SetProtectionKeySourceForTesting(FixedKeySource);
    ASSERT_TRUE(SetPasswordProtectedFlag(false));
    StreamPaused.store(false);
    settings_.host_address = "192.168.1.40";
    settings_.machine_id = kMachineId;
    settings_.version = "1.1";
    settings_.admin_user = "admin";
    settings_.admin_password = "s3cret";
    settings_.web_port = 0;
    settings_.data_folder = dir_;
  }
  void TearDown() override {
    SetProtectionKeySourceForTesting(nullptr);
    StreamPaused.store(false);
  }

  WebHooks Hooks() {
    WebHooks h;
    h.clock = [this] { return now_.load(); };
    h.new_token = [this] {
      char buf[40];
      snprintf(buf, sizeof buf, "%032x", ++tokens_);
      return std::string(buf);
    };
    h.snapshot = [] { return std::vector<uint8_t>{0xff, 0xd8, 0xff, 0xd9}; };
    h.screen_size = [](int* width, int* height) {
      *width = 1920;
      *height = 1080;
      return true;
    };
    h.relaunch = [this] { ++relaunches_; };
    h.recovery_public_key = Key().PublicBlob();
    return h;
  }

  std::string LoginToken(WebAdminServer& server) {
    WebReply r = server.Answer(Request("POST", "/login", "user=admin&pass=s3cret"));
    size_t at = r.bytes.find("lcx_sess=");
    EXPECT_NE(at, std::string::npos) << r.bytes;
    return at == std::string::npos ? "" : r.bytes.substr(at + 9, 32);
  }

  std::string ReadConfig() {
    std::string s;
    ReadWholeFile(dir_ + "/lcx.cfg", s);
    return s;
  }

  std::string dir_;
  WebSettings settings_;
  std::atomic<uint64_t> now_{5000000};
  unsigned tokens_ = 0;
  std::atomic<int> relaunches_{0};
};

TEST_F(WebServer, WithoutASession) {
  WebAdminServer server(settings_, Hooks());
  struct Case {
    const char* name;
    const char* method;
    const char* path;
    const char* status;
  } cases[] = {
      {"panel goes to the login page", "GET", "/", "HTTP/1.1 302 Found"},
      {"settings: bare 401 the page turns into a login", "GET", "/config.json", "HTTP/1.1 401 Unauthorized"},
      {"save", "POST", "/save", "HTTP/1.1 401 Unauthorized"},
      {"preview", "GET", "/snapshot.jpg", "HTTP/1.1 401 Unauthorized"},
      {"lower-case get of the login page", "get", "/login", "HTTP/1.1 401 Unauthorized"},
      {"unknown path", "GET", "/admin.php", "HTTP/1.1 401 Unauthorized"},
      {"login page", "GET", "/login", "HTTP/1.1 200 OK"},
      {"background", "GET", "/login_bg.jpg", "HTTP/1.1 200 OK"},
      {"agreement", "GET", "/eula", "HTTP/1.1 200 OK"},
      {"logout with no cookie still redirects", "POST", "/logout", "HTTP/1.1 302 Found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StatusLine(server.Answer(Request(c.method, c.path))), c.status);
  }
  WebReply page = server.Answer(Request("GET", "/login"));
  EXPECT_NE(page.bytes.find(kMachineId), std::string::npos);
  EXPECT_NE(page.bytes.find("if(0)document"), std::string::npos);
  EXPECT_EQ(Body(server.Answer(Request("GET", "/login_bg.jpg"))), LoginBackgroundJpeg());
}

TEST_F(WebServer, LoginSessionAndLogout) {
  WebAdminServer server(settings_, Hooks());
  WebReply wrong = server.Answer(Request("POST", "/login", "user=admin&pass=nope"));
  EXPECT_EQ(StatusLine(wrong), "HTTP/1.1 401 Unauthorized");
  EXPECT_NE(wrong.bytes.find("if(1)document"), std::string::npos);
  EXPECT_NE(ReadLog().find("Web: failed login attempt (user=admin)\n"), std::string::npos);

  std::string token = LoginToken(server);
  ASSERT_EQ(token.size(), 32u);
  WebReply panel = server.Answer(Request("GET", "/", "", token));
  EXPECT_EQ(StatusLine(panel), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(panel), AdminPageHtml());
  EXPECT_EQ(Body(server.Answer(Request("POST", "/ping", "", token))), "{\"ok\":true}");
  EXPECT_EQ(StatusLine(server.Answer(Request("GET", "/logout", "", token))), "HTTP/1.1 404 Not Found");

  WebReply out = server.Answer(Request("POST", "/logout", "", token));
  EXPECT_EQ(out.bytes, LogoutRedirect());
  EXPECT_EQ(StatusLine(server.Answer(Request("POST", "/ping", "", token))), "HTTP/1.1 401 Unauthorized");
}

TEST_F(WebServer, LockoutIsSharedByLoginRestoreAndRecovery) {
  WebAdminServer server(settings_, Hooks());
  std::string token = LoginToken(server);
  for (int i = 0; i < 6; ++i) server.Answer(Request("POST", "/login", "user=admin&pass=x"));
  server.Answer(Request("POST", "/recover", "code=AAAA"));
  // The eighth failure comes from the restore and still answers 401.
  EXPECT_EQ(StatusLine(server.Answer(Request("POST", "/restore", "user=admin&pass=x", token))),
            "HTTP/1.1 401 Unauthorized");
  WebReply locked = server.Answer(Request("POST", "/login", "user=admin&pass=s3cret"));
  EXPECT_EQ(StatusLine(locked), "HTTP/1.1 429 Too Many Requests");
  EXPECT_NE(locked.bytes.find("if(1)document"), std::string::npos);
  EXPECT_EQ(server.Answer(Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId)))).bytes,
            BuildResponse("429 Too Many Requests", "{\"ok\":false}", kJsonType));
  EXPECT_EQ(server.Answer(Request("POST", "/restore", "user=admin&pass=s3cret", token)).bytes,
            BuildResponse("429 Too Many Requests", "{\"ok\":false}", kJsonType));
  now_ += kLoginLockMs;
  EXPECT_EQ(StatusLine(server.Answer(Request("POST", "/login", "user=admin&pass=s3cret"))), "HTTP/1.1 302 Found");
}

TEST_F(WebServer, NobodyLogsInWithoutAUsablePassword) {
  struct Case {
    const char* name;
    const char* stored;
    bool locked;
    const char* body;
  } cases[] = {
      {"empty password in force, empty typed", "", false, "user=admin&pass="},
      {"empty password in force, anything typed", "", false, "user=admin&pass=admin"},
      // The marker is 0x01 "LOCKED-" + the identifier the login page shows.
      {"locked: the marker typed through the form", "\x01LOCKED-3f9a", true, "user=admin&pass=%01LOCKED-3f9a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings_.admin_password = c.stored;
    settings_.password_locked = c.locked;
    WebAdminServer server(settings_, Hooks());
    EXPECT_EQ(StatusLine(server.Answer(Request("POST", "/login", c.body))), "HTTP/1.1 401 Unauthorized");
  }
}

TEST_F(WebServer, PreviewAloneDoesNotKeepTheSessionAlive) {
  WebAdminServer server(settings_, Hooks());
  std::string token = LoginToken(server);
  for (int i = 0; i < 250; ++i) {
    now_ += 1200;
    WebReply shot = server.Answer(Request("GET", "/snapshot.jpg?t=1", "", token));
    ASSERT_EQ(shot.bytes,
              "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-store\r\n"
              "X-Content-Type-Options: nosniff\r\nContent-Length: 4\r\nConnection: close\r\n\r\n\xff\xd8\xff\xd9");
  }
  now_ += 1200;  // 301.2 s since the login
  EXPECT_EQ(StatusLine(server.Answer(Request("GET", "/snapshot.jpg", "", token))), "HTTP/1.1 401 Unauthorized");
}

TEST_F(WebServer, SettingsJsonAndSave) {
  ASSERT_TRUE(WriteFileSynced(dir_ + "/lcx.cfg", "# Lumicast\r\nfps = 12\r\nstream = cam1\r\n"));
  WebAdminServer server(settings_, Hooks());
  now_ += 90061999;
  std::string token = LoginToken(server);
  WebReply json = server.Answer(Request("GET", "/config.json?x=1", "", token));
  EXPECT_TRUE(json.bytes.starts_with("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
                                     "Cache-Control: no-store\r\n"));
  EXPECT_TRUE(Body(json).starts_with("{\"ip\":\"192.168.1.40\",\"version\":\"1.1\",\"hwid\":\"" +
                                     std::string(kMachineId) +
                                     "\",\"resolution\":\"1920x1080\",\"uptime\":90061,"
                                     "\"rtsp_main\":\"rtsp://192.168.1.40:554/cam1\","))
      << Body(json);
  EXPECT_NE(Body(json).find("\"fps\":12,"), std::string::npos);

  // The admin page's own form post.
  WebReply saved = server.Answer(Request("POST", "/save",
                                         "rtsp_port=8554&web_admin=1&stream_auth=0&stream=screenlive&fps=25"
                                         "&admin_user=boss&device_name=Lab+2&admin_pass=n3w%21",
                                         token));
  EXPECT_EQ(StatusLine(saved), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(saved), "{\"ok\":true,\"needsRestart\":true}");
  ConfigMap file = LoadConfig(dir_ + "/lcx.cfg");
  EXPECT_EQ(file["fps"], "25");
  EXPECT_EQ(file["device_name"], "Lab 2");
  EXPECT_EQ(UnprotectString(file["admin_pass"]), "n3w!");
  EXPECT_TRUE(PasswordProtected());
  EXPECT_TRUE(ReadConfig().starts_with("# Lumicast\r\nfps = 25\r\nstream = screenlive\r\n"));

  WebReply bad = server.Answer(Request("POST", "/save", "stream=a.b&fps=3", token));
  EXPECT_EQ(StatusLine(bad), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(Body(bad), "{\"ok\":false,\"error\":\"قيمة غير صالحة: stream\"}");
  EXPECT_EQ(LoadConfig(dir_ + "/lcx.cfg")["fps"], "25");
  // The running server keeps its credentials until the restart.
  EXPECT_NE(LoginToken(server), "");
}

TEST_F(WebServer, PauseAndResume) {
  WebAdminServer server(settings_, Hooks());
  std::string token = LoginToken(server);
  WebReply paused = server.Answer(Request("POST", "/stream", "on=0", token));
  EXPECT_EQ(Body(paused), "{\"paused\":true}");
  EXPECT_TRUE(StreamPaused.load());
  EXPECT_NE(ReadLog().find("Web: stream STOPPED by admin\n"), std::string::npos);
  EXPECT_NE(Body(server.Answer(Request("GET", "/config.json", "", token))).find("\"paused\":1,"), std::string::npos);
  EXPECT_EQ(Body(server.Answer(Request("POST", "/stream", "x=1&on=1", token))), "{\"paused\":false}");
  EXPECT_FALSE(StreamPaused.load());
  EXPECT_NE(Body(server.Answer(Request("GET", "/log", "", token))).find("Web: stream RESUMED by admin\n"),
            std::string::npos);
}

TEST_F(WebServer, RestartRestoreAndRecoveryAskForARelaunch) {
  ASSERT_TRUE(WriteFileSynced(dir_ + "/lcx.cfg", "admin_user = admin\r\nadmin_pass = enc:xyz\r\nfps = 30\r\n"));
  WebAdminServer server(settings_, Hooks());
  std::string token = LoginToken(server);

  WebReply restart = server.Answer(Request("POST", "/restart", "", token));
  EXPECT_EQ(restart.bytes, BuildResponse("202 Accepted", "{\"restarting\":true}", kJsonType));
  EXPECT_EQ(restart.after, AfterReply::kSaveSessionsAndRelaunch);

  WebReply wrong = server.Answer(Request("POST", "/restore", "user=admin&pass=bad", token));
  EXPECT_EQ(wrong.bytes, BuildResponse("401 Unauthorized", "{\"ok\":false}", kJsonType));
  EXPECT_EQ(wrong.after, AfterReply::kNothing);
  EXPECT_EQ(ReadConfig(), "admin_user = admin\r\nadmin_pass = enc:xyz\r\nfps = 30\r\n");

  WebReply bad_code = server.Answer(Request("POST", "/recover", CodeForm(Key().CodeFor("another-machine"))));
  EXPECT_EQ(bad_code.bytes, BuildResponse("400 Bad Request", "{\"ok\":false}", kJsonType));

  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  WebReply recovered = server.Answer(Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId))));
  EXPECT_EQ(recovered.bytes, BuildResponse("200 OK", "{\"ok\":true}", kJsonType));
  EXPECT_EQ(recovered.after, AfterReply::kRelaunch);
  EXPECT_EQ(ReadConfig(), "admin_user = admin\r\nadmin_pass = admin\r\nfps = 30\r\n");
  EXPECT_FALSE(PasswordProtected());
  EXPECT_NE(ReadLog().find("Web: password recovered via vendor HWID code -> reset to admin/admin\n"),
            std::string::npos);

  WebReply restored = server.Answer(Request("POST", "/restore", "user=admin&pass=s3cret", token));
  EXPECT_EQ(restored.bytes, BuildResponse("202 Accepted", "{\"restarting\":true}", kJsonType));
  EXPECT_EQ(restored.after, AfterReply::kRelaunch);
  EXPECT_EQ(ReadConfig(), DefaultConfigText(ConfigTemplate::kWeb));
  EXPECT_EQ(relaunches_.load(), 0);  // Answer only asks; the connection relaunches
}

// A restore or recovery that cannot rewrite the file must not claim to have
// done it: no relaunch onto the old file, an error the page can show.
TEST_F(WebServer, RestoreAndRecoveryThatCannotWriteAnswerAnError) {
  const std::string before = "admin_user = admin\r\nadmin_pass = s3cret\r\nfps = 30\r\n";
  ASSERT_TRUE(WriteFileSynced(dir_ + "/lcx.cfg", before));
  ASSERT_EQ(mkdir((dir_ + "/lcx.cfg.tmp").c_str(), 0700), 0);  // root writes anywhere: block the temporary
  WebAdminServer server(settings_, Hooks());
  std::string token = LoginToken(server);
  auto recoveries = [] {
    const std::string log = ReadLog(), line = "Web: password recovered via vendor HWID code";
    size_t n = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  const size_t recovered_before = recoveries();
  const std::string failed = BuildResponse("500 Internal Server Error",
                                           "{\"ok\":false,\"error\":\"تعذّر حفظ الإعدادات\"}", kJsonType);

  WebReply restored = server.Answer(Request("POST", "/restore", "user=admin&pass=s3cret", token));
  EXPECT_EQ(restored.bytes, failed);
  EXPECT_EQ(restored.after, AfterReply::kNothing);
  WebReply recovered = server.Answer(Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId))));
  EXPECT_EQ(recovered.bytes, failed);
  EXPECT_EQ(recovered.after, AfterReply::kNothing);
  EXPECT_EQ(ReadConfig(), before);
  EXPECT_EQ(recoveries(), recovered_before);
  // Still serving, the session intact.
  EXPECT_EQ(StatusLine(server.Answer(Request("POST", "/ping", "", token))), "HTTP/1.1 200 OK");
}

TEST_F(WebServer, RunReturnsWhenThePortIsTaken) {
  int error = 0;
  UniqueFd taken = ListenTcp(0, 1, &error);
  ASSERT_TRUE(taken.valid()) << error;
  settings_.web_port = static_cast<uint16_t>(LocalPort(taken.get()));
  WebAdminServer server(settings_, Hooks());
  server.Run();
  EXPECT_NE(ReadLog().find("Web admin bind failed: 98\n"), std::string::npos);
}

// The whole server on a loopback port: what a browser sees on the wire.
class WebServerOnPort : public WebServer {
 protected:
  void Start(WebLimits limits = WebLimits()) {
    server_ = std::make_unique<WebAdminServer>(settings_, Hooks(), limits);
    int error = 0;
    listener_ = ListenTcp(0, 8, &error);
    ASSERT_TRUE(listener_.valid()) << error;
    port_ = LocalPort(listener_.get());
    serve_ = std::thread([this] { server_->Serve(listener_.get()); });
  }
  void TearDown() override {
    if (serve_.joinable()) {
      ShutdownRead(listener_.get());  // accept fails: the loop returns
      serve_.join();
      for (int i = 0; i < 500 && server_->ActiveConnections() > 0; ++i) SleepMs(10);
    }
    WebServer::TearDown();
  }
  UniqueFd Dial() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    SetReceiveTimeoutMs(fd.get(), 10000);
    return fd;
  }
  // Sends a request and reads the answer until the server closes.
  std::string Exchange(const std::string& request) {
    UniqueFd fd = Dial();
    SendAll(fd.get(), request);
    std::string answer;
    char buf[4096];
    for (long n; (n = ReceiveSome(fd.get(), buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
    return answer;
  }

  std::unique_ptr<WebAdminServer> server_;
  UniqueFd listener_;
  int port_ = 0;
  std::thread serve_;
};

TEST_F(WebServerOnPort, RestartAnswersSavesSessionsThenRelaunches) {
  Start();
  std::string token = LoginToken(*server_);
  std::string answer = Exchange("POST /restart HTTP/1.1\r\nCookie: lcx_sess=" + token +
                                "\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(answer, BuildResponse("202 Accepted", "{\"restarting\":true}", kJsonType));
  for (int i = 0; i < 200 && relaunches_.load() == 0; ++i) SleepMs(10);
  EXPECT_EQ(relaunches_.load(), 1);

  // The next copy of the program finds the browser's session.
  WebAdminServer next(settings_, Hooks());
  EXPECT_TRUE(next.sessions().CheckSession("GET / HTTP/1.1\r\nCookie: lcx_sess=" + token + "\r\n\r\n", true));
}

TEST_F(WebServerOnPort, FramingFailuresOnTheWire) {
  Start();
  EXPECT_EQ(Exchange("POST /login HTTP/1.1\r\nContent-Length: 65537\r\n\r\n"),
            BuildResponse("413 Payload Too Large", "too large", kTextType));
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\nX: " + std::string(17000, 'a')),
            BuildResponse("431 Request Header Fields Too Large", "too large", kTextType));
}

TEST_F(WebServerOnPort, IdlePeersCannotHoldEveryThread) {
  WebLimits limits;  // idle peers would each hold a thread for 6 s
  limits.max_connections = 2;
  Start(limits);
  UniqueFd idle1 = Dial(), idle2 = Dial();
  SleepMs(50);
  EXPECT_LE(server_->ActiveConnections(), 2);
  auto start = std::chrono::steady_clock::now();
  std::string answer = Exchange("GET /login HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer.substr(0, 80);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_LE(server_->ActiveConnections(), 2);
}

}  // namespace
}  // namespace lcx
