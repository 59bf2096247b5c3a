// The panel's answers, request in and bytes out, as Chromium's pages and a
// hostile client send them; the routes' side effects seen in the data folder.
#include "web/web_answers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "core/config.h"
#include "core/log.h"
#include "security/protect.h"
#include "video/stream_producer.h"
#include "web/web_panel_testing.h"
#include "web/web_resources.h"
#include "web/web_routes.h"

namespace lcx {
namespace {

using namespace web_test;

class WebAnswers : public WebPanelTest {};

WebReply Answer(WebPanel& panel, const WebRequest& request) { return AnswerWebRequest(panel, request); }

TEST_F(WebAnswers, WithoutASession) {
  WebPanel server(settings_, Hooks());
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
    EXPECT_EQ(StatusLine(Answer(server, Request(c.method, c.path))), c.status);
  }
  WebReply page = Answer(server, Request("GET", "/login"));
  EXPECT_NE(page.bytes.find(kMachineId), std::string::npos);
  EXPECT_NE(page.bytes.find("if(0)document"), std::string::npos);
  EXPECT_EQ(Body(Answer(server, Request("GET", "/login_bg.jpg"))), LoginBackgroundJpeg());
}

TEST_F(WebAnswers, LoginSessionAndLogout) {
  WebPanel server(settings_, Hooks());
  WebReply wrong = Answer(server, Request("POST", "/login", "user=admin&pass=nope"));
  EXPECT_EQ(StatusLine(wrong), "HTTP/1.1 401 Unauthorized");
  EXPECT_NE(wrong.bytes.find("if(1)document"), std::string::npos);
  EXPECT_NE(ReadLog().find("Web: failed login attempt (user=admin) from \n"), std::string::npos);

  std::string token = LoginToken(server);
  ASSERT_EQ(token.size(), 32u);
  WebReply panel = Answer(server, Request("GET", "/", "", token));
  EXPECT_EQ(StatusLine(panel), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(panel), AdminPageHtml());
  EXPECT_EQ(Body(Answer(server, Request("POST", "/ping", "", token))), "{\"ok\":true}");
  EXPECT_EQ(StatusLine(Answer(server, Request("GET", "/logout", "", token))), "HTTP/1.1 404 Not Found");

  WebReply out = Answer(server, Request("POST", "/logout", "", token));
  EXPECT_EQ(out.bytes, LogoutRedirect());
  EXPECT_EQ(StatusLine(Answer(server, Request("POST", "/ping", "", token))), "HTTP/1.1 401 Unauthorized");
}

TEST_F(WebAnswers, LockoutIsSharedByLoginRestoreAndRecovery) {
  WebPanel server(settings_, Hooks());
  std::string token = LoginToken(server);
  for (int i = 0; i < 6; ++i) Answer(server, Request("POST", "/login", "user=admin&pass=x"));
  Answer(server, Request("POST", "/recover", "code=AAAA"));
  // The eighth failure comes from the restore and still answers 401.
  EXPECT_EQ(StatusLine(Answer(server, Request("POST", "/restore", "user=admin&pass=x", token))),
            "HTTP/1.1 401 Unauthorized");
  WebReply locked = Answer(server, Request("POST", "/login", "user=admin&pass=s3cret"));
  EXPECT_EQ(StatusLine(locked), "HTTP/1.1 429 Too Many Requests");
  EXPECT_NE(locked.bytes.find("if(1)document"), std::string::npos);
  EXPECT_EQ(Answer(server, Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId)))).bytes,
            BuildResponse("429 Too Many Requests", "{\"ok\":false}", kJsonType));
  EXPECT_EQ(Answer(server, Request("POST", "/restore", "user=admin&pass=s3cret", token)).bytes,
            BuildResponse("429 Too Many Requests", "{\"ok\":false}", kJsonType));
  now_ += kLoginLockMs;
  EXPECT_EQ(StatusLine(Answer(server, Request("POST", "/login", "user=admin&pass=s3cret"))), "HTTP/1.1 302 Found");
}

TEST_F(WebAnswers, NobodyLogsInWithoutAUsablePassword) {
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
    WebPanel server(settings_, Hooks());
    EXPECT_EQ(StatusLine(Answer(server, Request("POST", "/login", c.body))), "HTTP/1.1 401 Unauthorized");
  }
}

TEST_F(WebAnswers, PreviewAloneDoesNotKeepTheSessionAlive) {
  WebPanel server(settings_, Hooks());
  std::string token = LoginToken(server);
  for (int i = 0; i < 250; ++i) {
    now_ += 1200;
    WebReply shot = Answer(server, Request("GET", "/snapshot.jpg?t=1", "", token));
    ASSERT_EQ(shot.bytes, SnapshotReply("\xff\xd8\xff\xd9"));
  }
  now_ += 1200;  // 301.2 s since the login
  EXPECT_EQ(StatusLine(Answer(server, Request("GET", "/snapshot.jpg", "", token))), "HTTP/1.1 401 Unauthorized");
}

TEST_F(WebAnswers, SettingsJsonAndSave) {
  ASSERT_TRUE(WriteFileSynced(dir_.Sub("lcx.cfg"), "# Lumicast\r\nfps = 12\r\nstream = cam1\r\n"));
  WebSettings settings = settings_;
  settings.defaults.rtsp_port = 9554;  // the engine's port from the command line, shown for the absent key
  WebPanel server(settings, Hooks());
  now_ += 90061999;
  std::string token = LoginToken(server);
  WebReply json = Answer(server, Request("GET", "/config.json?x=1", "", token));
  EXPECT_TRUE(json.bytes.starts_with("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
                                     "Cache-Control: no-store\r\n"));
  EXPECT_TRUE(Body(json).starts_with("{\"ip\":\"192.168.1.40\",\"version\":\"1.1\",\"hwid\":\"" +
                                     std::string(kMachineId) +
                                     "\",\"resolution\":\"1920x1080\",\"uptime\":90061,"
                                     "\"rtsp_main\":\"rtsp://192.168.1.40:9554/cam1\","))
      << Body(json);
  EXPECT_NE(Body(json).find("\"fps\":12,"), std::string::npos);

  // The admin page's own form post.
  WebReply saved = Answer(server, Request("POST", "/save",
                                         "rtsp_port=8554&web_admin=1&stream_auth=0&stream=screenlive&fps=25"
                                         "&admin_user=boss&device_name=Lab+2&admin_pass=n3w%21",
                                         token));
  EXPECT_EQ(StatusLine(saved), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(saved), "{\"ok\":true,\"needsRestart\":true}");
  ConfigMap file = LoadConfig(dir_.Sub("lcx.cfg"));
  EXPECT_EQ(file["fps"], "25");
  EXPECT_EQ(file["device_name"], "Lab 2");
  EXPECT_EQ(UnprotectString(file["admin_pass"]), "n3w!");
  EXPECT_TRUE(PasswordProtected());
  EXPECT_TRUE(ReadConfig().starts_with("# Lumicast\r\nfps = 25\r\nstream = screenlive\r\n"));

  WebReply bad = Answer(server, Request("POST", "/save", "stream=a.b&fps=3", token));
  EXPECT_EQ(StatusLine(bad), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(Body(bad), "{\"ok\":false,\"error\":\"قيمة غير صالحة: stream\"}");
  EXPECT_EQ(LoadConfig(dir_.Sub("lcx.cfg"))["fps"], "25");
  // The running server keeps its credentials until the restart.
  EXPECT_NE(LoginToken(server), "");
}

TEST_F(WebAnswers, PauseAndResume) {
  WebPanel server(settings_, Hooks());
  std::string token = LoginToken(server);
  WebReply paused = Answer(server, Request("POST", "/stream", "on=0", token));
  EXPECT_EQ(Body(paused), "{\"paused\":true}");
  EXPECT_TRUE(StreamPaused.load());
  EXPECT_NE(ReadLog().find("Web: stream STOPPED by admin\n"), std::string::npos);
  EXPECT_NE(Body(Answer(server, Request("GET", "/config.json", "", token))).find("\"paused\":1,"), std::string::npos);
  EXPECT_EQ(Body(Answer(server, Request("POST", "/stream", "x=1&on=1", token))), "{\"paused\":false}");
  EXPECT_FALSE(StreamPaused.load());
  EXPECT_NE(Body(Answer(server, Request("GET", "/log", "", token))).find("Web: stream RESUMED by admin\n"),
            std::string::npos);
}

TEST_F(WebAnswers, RestartRestoreAndRecoveryAskForARelaunch) {
  ASSERT_TRUE(WriteFileSynced(dir_.Sub("lcx.cfg"), "admin_user = admin\r\nadmin_pass = enc:xyz\r\nfps = 30\r\n"));
  WebPanel server(settings_, Hooks());
  std::string token = LoginToken(server);

  WebReply restart = Answer(server, Request("POST", "/restart", "", token));
  EXPECT_EQ(restart.bytes, BuildResponse("202 Accepted", "{\"restarting\":true}", kJsonType));
  EXPECT_EQ(restart.after, AfterReply::kSaveSessionsAndRelaunch);

  WebReply wrong = Answer(server, Request("POST", "/restore", "user=admin&pass=bad", token));
  EXPECT_EQ(wrong.bytes, BuildResponse("401 Unauthorized", "{\"ok\":false}", kJsonType));
  EXPECT_EQ(wrong.after, AfterReply::kNothing);
  EXPECT_EQ(ReadConfig(), "admin_user = admin\r\nadmin_pass = enc:xyz\r\nfps = 30\r\n");

  WebReply bad_code = Answer(server, Request("POST", "/recover", CodeForm(Key().CodeFor("another-machine"))));
  EXPECT_EQ(bad_code.bytes, BuildResponse("400 Bad Request", "{\"ok\":false}", kJsonType));

  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  WebReply recovered = Answer(server, Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId))));
  EXPECT_EQ(recovered.bytes, BuildResponse("200 OK", "{\"ok\":true}", kJsonType));
  EXPECT_EQ(recovered.after, AfterReply::kRelaunch);
  EXPECT_EQ(ReadConfig(), "admin_user = admin\r\nadmin_pass = admin\r\nfps = 30\r\n");
  EXPECT_FALSE(PasswordProtected());
  EXPECT_NE(ReadLog().find("Web: password recovered via vendor HWID code -> reset to admin/admin\n"),
            std::string::npos);

  WebReply restored = Answer(server, Request("POST", "/restore", "user=admin&pass=s3cret", token));
  EXPECT_EQ(restored.bytes, BuildResponse("202 Accepted", "{\"restarting\":true}", kJsonType));
  EXPECT_EQ(restored.after, AfterReply::kRelaunch);
  EXPECT_EQ(ReadConfig(), DefaultConfigText(ConfigTemplate::kWeb));
  EXPECT_EQ(relaunches_.load(), 0);  // Answer only asks; the connection relaunches
}

// A restore or recovery that cannot rewrite the file must not claim to have
// done it: no relaunch onto the old file, an error the page can show.
TEST_F(WebAnswers, RestoreAndRecoveryThatCannotWriteAnswerAnError) {
  const std::string before = "admin_user = admin\r\nadmin_pass = s3cret\r\nfps = 30\r\n";
  ASSERT_TRUE(WriteFileSynced(dir_.Sub("lcx.cfg"), before));
  ASSERT_EQ(mkdir(dir_.Sub("lcx.cfg.tmp").c_str(), 0700), 0);  // root writes anywhere: block the temporary
  WebPanel server(settings_, Hooks());
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

  WebReply restored = Answer(server, Request("POST", "/restore", "user=admin&pass=s3cret", token));
  EXPECT_EQ(restored.bytes, failed);
  EXPECT_EQ(restored.after, AfterReply::kNothing);
  WebReply recovered = Answer(server, Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId))));
  EXPECT_EQ(recovered.bytes, failed);
  EXPECT_EQ(recovered.after, AfterReply::kNothing);
  EXPECT_EQ(ReadConfig(), before);
  EXPECT_EQ(recoveries(), recovered_before);
  // Still serving, the session intact.
  EXPECT_EQ(StatusLine(Answer(server, Request("POST", "/ping", "", token))), "HTTP/1.1 200 OK");
}

TEST_F(WebAnswers, SessionCookieAsBrowsersAndHostileClientsSendIt) {
  WebPanel server(settings_, Hooks());
  const std::string token = LoginToken(server);
  auto ping = [&](const std::string& head_fields) {
    WebRequest r;
    r.head = "POST /ping HTTP/1.1\r\nHost: cam\r\n" + head_fields + "Content-Length: 0\r\n\r\n";
    ParseWebHead(r);
    return StatusLine(Answer(server, r));
  };
  struct Case {
    const char* name;
    std::string fields;
    bool accepted;
  } cases[] = {
      {"the only cookie", "Cookie: lcx_sess=" + token + "\r\n", true},
      {"a longer name ending in ours first", "Cookie: other_lcx_sess=zz; lcx_sess=" + token + "\r\n", true},
      {"the session on a second Cookie line", "Cookie: theme=dark\r\nCookie: lcx_sess=" + token + "\r\n", true},
      {"a stale token of another path first", "Cookie: lcx_sess=0123; lcx_sess=" + token + "\r\n", true},
      {"field name in capitals", "COOKIE: lcx_sess=" + token + "\r\n", true},
      {"only the longer name", "Cookie: other_lcx_sess=" + token + "\r\n", false},
      {"in another field", "X-Cookie: lcx_sess=" + token + "\r\n", false},
      {"name in capitals is another cookie", "Cookie: LCX_SESS=" + token + "\r\n", false},
      {"no session cookie", "Cookie: theme=dark\r\n", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ping(c.fields), c.accepted ? "HTTP/1.1 200 OK" : "HTTP/1.1 401 Unauthorized") << c.name;
  }
  // Logging out ends every session the request names.
  WebRequest out = RequestWithCookie("POST", "/logout", "", "lcx_sess=0123; lcx_sess=" + token);
  EXPECT_EQ(Answer(server, out).bytes, LogoutRedirect());
  EXPECT_EQ(ping("Cookie: lcx_sess=" + token + "\r\n"), "HTTP/1.1 401 Unauthorized");
}

TEST_F(WebAnswers, StreamSwitchReadsTheFormField) {
  WebPanel server(settings_, Hooks());
  const std::string token = LoginToken(server);
  struct Case {
    const char* body;
    bool paused;
  } cases[] = {
      {"on=1", false}, {"on=0", true}, {"x=1&on=1", false}, {"on=10", true},
      {"xon=1", true}, {"note=on%3D1", true}, {"", true},
  };
  for (const Case& c : cases) {
    StreamPaused.store(!c.paused);
    EXPECT_EQ(Body(Answer(server, Request("POST", "/stream", c.body, token))),
              c.paused ? "{\"paused\":true}" : "{\"paused\":false}")
        << c.body;
    EXPECT_EQ(StreamPaused.load(), c.paused) << c.body;
  }
}

TEST(ReadFailureReply, OnlyForRequestsThatCouldNotBeRead) {
  EXPECT_EQ(ReadFailureReply(HttpRead::kHeaderTooLarge),
            BuildResponse("431 Request Header Fields Too Large", "too large", kTextType));
  EXPECT_TRUE(ReadFailureReply(HttpRead::kBodyTooLarge).starts_with("HTTP/1.1 413 Payload Too Large\r\n"));
  EXPECT_TRUE(ReadFailureReply(HttpRead::kIncompleteBody).ends_with("\r\n\r\nincomplete body"));
  EXPECT_TRUE(ReadFailureReply(HttpRead::kBadLength).starts_with("HTTP/1.1 400 Bad Request\r\n"));
  EXPECT_EQ(ReadFailureReply(HttpRead::kClosed), "");
  EXPECT_EQ(ReadFailureReply(HttpRead::kComplete), "");
}

}  // namespace
}  // namespace lcx

namespace lcx {
namespace {

using namespace web_test;

class WebAnswersOnALan : public WebPanelTest {
 protected:
  // A request as Chromium sends it to Host `host` with Origin `origin` ("" for none).
  static WebRequest From(const std::string& method, const std::string& path, const std::string& body,
                         const std::string& token, const std::string& host, const std::string& origin,
                         const std::string& peer = "192.168.1.77") {
    WebRequest r;
    r.head = method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    if (!origin.empty()) r.head += "Origin: " + origin + "\r\n";
    if (!token.empty()) r.head += "Cookie: lcx_sess=" + token + "\r\n";
    r.head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    r.body = body;
    r.peer = peer;
    r.local = "192.168.1.40";
    ParseWebHead(r);
    return r;
  }
};

TEST_F(WebAnswersOnALan, ForeignHostIsMisdirectedBeforeAnyRoute) {
  WebPanel server(settings_, Hooks());
  for (const char* path : {"/login", "/", "/snapshot.jpg", "/nothing"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(AnswerWebRequest(server, From("GET", path, "", "", "evil.example:8080", "")).bytes, MisdirectedReply());
  }
  // DNS rebinding: right password, wrong name: no session made.
  WebReply login = AnswerWebRequest(
      server, From("POST", "/login", "user=admin&pass=s3cret", "", "evil.example", "http://evil.example"));
  EXPECT_EQ(login.bytes, MisdirectedReply());
  EXPECT_EQ(server.sessions.SessionCount(), 0u);
  WebReply own = AnswerWebRequest(
      server, From("POST", "/login", "user=admin&pass=s3cret", "", "192.168.1.40:8080", "http://192.168.1.40:8080"));
  EXPECT_EQ(StatusLine(own), "HTTP/1.1 302 Found");
  EXPECT_NE(own.bytes.find("X-Frame-Options: DENY\r\n"), std::string::npos);
}

TEST_F(WebAnswersOnALan, CrossOriginStateChangesAreRefusedAndChangeNothing) {
  WebPanel server(settings_, Hooks());
  const std::string token = LoginToken(server);
  const std::string host = "192.168.1.40:8080";
  const std::string before = ReadConfig();
  struct Case {
    const char* path;
    const char* body;
  } cases[] = {{"/save", "fps=30"}, {"/restart", ""}, {"/restore", "user=admin&pass=s3cret"},
               {"/stream", "on=0"}, {"/logout", ""}, {"/login", "user=admin&pass=s3cret"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const char* origin : {"http://evil.example", "http://192.168.1.40:8000", "null"}) {
      WebReply r = AnswerWebRequest(server, From("POST", c.path, c.body, token, host, origin));
      EXPECT_EQ(StatusLine(r), "HTTP/1.1 403 Forbidden") << origin;
      EXPECT_EQ(r.after, AfterReply::kNothing);
    }
  }
  EXPECT_EQ(ReadConfig(), before);
  EXPECT_FALSE(StreamPaused.load());
  EXPECT_EQ(server.sessions.SessionCount(), 1u);
  EXPECT_EQ(StatusLine(AnswerWebRequest(server, From("POST", "/save", "fps=30", token, host, "http://" + host))),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(LoadConfig(dir_.Sub("lcx.cfg"))["fps"], "30");
}

TEST_F(WebAnswersOnALan, EightFailuresFromOnePeerDoNotStopAnother) {
  WebPanel server(settings_, Hooks());
  const std::string host = "192.168.1.40:8080";
  for (int i = 0; i < 8; ++i) AnswerWebRequest(server, From("POST", "/login", "user=admin&pass=x", "", host, "", "10.0.0.66"));
  EXPECT_EQ(StatusLine(AnswerWebRequest(server, From("POST", "/login", "user=admin&pass=s3cret", "", host, "", "10.0.0.66"))),
            "HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(StatusLine(AnswerWebRequest(server, From("POST", "/login", "user=admin&pass=s3cret", "", host, "", "10.0.0.9"))),
            "HTTP/1.1 302 Found");
  EXPECT_NE(ReadLog().find("locked 60s"), std::string::npos);
  EXPECT_NE(ReadLog().find("from 10.0.0.66 -> locked"), std::string::npos);
}

TEST_F(WebAnswersOnALan, FactoryPasswordOpensOnlyItsChange) {
  settings_.admin_password = "admin";
  WebPanel server(settings_, Hooks());
  const std::string host = "192.168.1.40:8080", origin = "http://192.168.1.40:8080";
  WebReply login = AnswerWebRequest(server, From("POST", "/login", "user=admin&pass=admin", "", host, origin));
  ASSERT_TRUE(login.bytes.starts_with("HTTP/1.1 302 Found\r\nLocation: /password\r\n")) << login.bytes;
  const std::string token = login.bytes.substr(login.bytes.find("lcx_sess=") + 9, 32);
  const std::string other = AnswerWebRequest(server, From("POST", "/login", "user=admin&pass=admin", "", host, origin))
                                .bytes.substr(login.bytes.find("lcx_sess=") + 9, 32);
  ASSERT_NE(token, other);

  EXPECT_EQ(AnswerWebRequest(server, From("GET", "/", "", token, host, "")).bytes, PasswordRedirect());
  const std::string before = ReadConfig();
  struct Case {
    const char* method;
    const char* path;
    const char* body;
  } refused[] = {{"GET", "/config.json", ""}, {"GET", "/snapshot.jpg", ""}, {"GET", "/log", ""},
                 {"POST", "/save", "fps=30"},  {"POST", "/restart", ""},     {"POST", "/stream", "on=0"},
                 {"POST", "/restore", "user=admin&pass=admin"}, {"POST", "/ping", ""}};
  for (const Case& c : refused) {
    SCOPED_TRACE(c.path);
    WebReply r = AnswerWebRequest(server, From(c.method, c.path, c.body, token, host, origin));
    EXPECT_EQ(StatusLine(r), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(Body(r), "{\"ok\":false,\"password_change_required\":true}");
    EXPECT_EQ(r.after, AfterReply::kNothing);
  }
  EXPECT_EQ(ReadConfig(), before);
  EXPECT_FALSE(StreamPaused.load());
  EXPECT_EQ(Body(AnswerWebRequest(server, From("GET", "/password", "", token, host, ""))), PasswordPageHtml());

  struct Bad {
    const char* body;
    const char* error;
  } bad[] = {{"pass1=longenough1&pass2=longenough2", "mismatch"},
             {"pass1=short7x&pass2=short7x", "short"},
             {"pass1=admin&pass2=admin", "factory"},
             {"pass1=%01abcdefgh&pass2=%01abcdefgh", "invalid"}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.body);
    WebReply r = AnswerWebRequest(server, From("POST", "/password", b.body, token, host, origin));
    EXPECT_EQ(Body(r), std::string("{\"ok\":false,\"error\":\"") + b.error + "\"}");
  }
  EXPECT_EQ(ReadConfig(), before);
  // 64 bytes is the longest allowed, 65 too long.
  const std::string longest(64, 'p');
  EXPECT_EQ(NewPasswordProblemName(longest + "p", longest + "p"), "invalid");
  EXPECT_EQ(NewPasswordProblemName(longest, longest), "");

  WebReply changed = AnswerWebRequest(server, From("POST", "/password", "pass1=n3w+pass!&pass2=n3w+pass!", token, host, origin));
  EXPECT_EQ(Body(changed), "{\"ok\":true,\"restarting\":true}");
  EXPECT_EQ(changed.after, AfterReply::kSaveSessionsAndRelaunch);
  EXPECT_EQ(UnprotectString(LoadConfig(dir_.Sub("lcx.cfg"))["admin_pass"]), "n3w pass!");
  // The other browser is signed out, this one goes on to the panel.
  EXPECT_FALSE(server.sessions.CheckSession(From("GET", "/", "", other, host, "").fields, false));
  EXPECT_EQ(StatusLine(AnswerWebRequest(server, From("GET", "/config.json", "", token, host, ""))), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(AnswerWebRequest(server, From("POST", "/login", "user=admin&pass=admin", "", host, origin))),
            "HTTP/1.1 401 Unauthorized");
}

TEST_F(WebAnswersOnALan, NoSavedSessionOutlivesARecovery) {
  WebPanel server(settings_, Hooks());
  LoginToken(server);
  ASSERT_TRUE(server.sessions.SaveSessions(server.sessions_path()));
  WebReply r = AnswerWebRequest(server, Request("POST", "/recover", CodeForm(Key().CodeFor(kMachineId))));
  EXPECT_EQ(r.after, AfterReply::kRelaunch);
  EXPECT_FALSE(FileExists(server.sessions_path()));
  WebPanel next(settings_, Hooks());
  next.sessions.LoadSessions(next.sessions_path());
  EXPECT_EQ(next.sessions.SessionCount(), 0u);
}

TEST_F(WebAnswersOnALan, APasswordSavedInTheSettingsEndsOtherSessions) {
  WebPanel server(settings_, Hooks());
  const std::string mine = LoginToken(server), other = LoginToken(server);
  EXPECT_EQ(StatusLine(AnswerWebRequest(server, Request("POST", "/save", "admin_pass=an0ther-one", mine))),
            "HTTP/1.1 200 OK");
  EXPECT_TRUE(server.sessions.CheckSession(Request("GET", "/", "", mine).fields, false));
  EXPECT_FALSE(server.sessions.CheckSession(Request("GET", "/", "", other).fields, false));
}

}  // namespace
}  // namespace lcx
