#include "web/web_routes.h"

#include <gtest/gtest.h>

#include "resources/documents.h"
#include "web/web_resources.h"

namespace lcx {
namespace {

TEST(WebRoutes, TableAndAccessRules) {
  struct Case {
    const char* name;
    const char* method;
    const char* path;
    WebRoute route;
    bool needs_session, touches;
  } cases[] = {
      {"login page", "GET", "/login", WebRoute::kLoginPage, false, false},
      {"login form", "POST", "/login", WebRoute::kLogin, false, false},
      {"logout needs no session", "POST", "/logout", WebRoute::kLogout, false, false},
      {"recovery", "POST", "/recover", WebRoute::kRecover, false, false},
      {"background picture", "GET", "/login_bg.jpg", WebRoute::kLoginBackground, false, false},
      {"agreement", "GET", "/eula", WebRoute::kEula, false, false},
      {"ping renews", "POST", "/ping", WebRoute::kPing, true, true},
      {"log", "GET", "/log", WebRoute::kLog, true, true},
      {"preview does not renew", "GET", "/snapshot.jpg", WebRoute::kSnapshot, true, false},
      {"settings", "GET", "/config.json", WebRoute::kConfigJson, true, true},
      {"panel", "GET", "/", WebRoute::kAdminPage, true, true},
      {"save", "POST", "/save", WebRoute::kSave, true, true},
      {"restart", "POST", "/restart", WebRoute::kRestart, true, true},
      {"restore", "POST", "/restore", WebRoute::kRestore, true, true},
      {"stream", "POST", "/stream", WebRoute::kStream, true, true},
      {"share-again offered", "GET", "/share-screen", WebRoute::kShareScreenOffered, true, true},
      {"share again", "POST", "/share-screen", WebRoute::kShareScreen, true, true},
      {"lower-case method is not the login page", "get", "/login", WebRoute::kNotFound, true, true},
      {"GET of the logout falls through", "GET", "/logout", WebRoute::kNotFound, true, true},
      {"POST of the panel", "POST", "/", WebRoute::kNotFound, true, true},
      {"path case matters", "GET", "/Login", WebRoute::kNotFound, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WebRouteEntry& e = MatchWebRoute(c.method, c.path);
    EXPECT_EQ(e.route, c.route);
    EXPECT_EQ(e.needs_session, c.needs_session);
    EXPECT_EQ(e.touches_session, c.touches);
  }
}

TEST(WebRoutes, FixedAnswers) {
  // Spelt out once, so a change of the policy shows here.
  const std::string guard =
      "X-Frame-Options: DENY\r\nContent-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
      "style-src 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; form-action 'self'; base-uri 'none'; "
      "frame-ancestors 'none'\r\nX-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n";
  ASSERT_EQ(guard, kGuardHeaders);
  EXPECT_EQ(BuildResponse("200 OK", "{\"ok\":true}", kJsonType),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: 11\r\n" + guard +
                "Cache-Control: no-store\r\nConnection: close\r\n\r\n{\"ok\":true}");
  const std::string bare_end = guard + "Cache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(UnauthenticatedReply("GET", "/"), "HTTP/1.1 302 Found\r\nLocation: /login\r\n" + bare_end);
  EXPECT_EQ(UnauthenticatedReply("POST", "/save"), "HTTP/1.1 401 Unauthorized\r\n" + bare_end);
  EXPECT_EQ(UnauthenticatedReply("GET", "/config.json"), UnauthenticatedReply("POST", "/save"));
  EXPECT_EQ(LoginRedirect("0123456789abcdef0123456789abcdef"),
            "HTTP/1.1 302 Found\r\nLocation: /\r\nSet-Cookie: lcx_sess=0123456789abcdef0123456789abcdef; "
            "Path=/; HttpOnly; SameSite=Strict\r\n" + bare_end);
  EXPECT_TRUE(LoginRedirect("0123456789abcdef0123456789abcdef", "/password")
                  .starts_with("HTTP/1.1 302 Found\r\nLocation: /password\r\nSet-Cookie: lcx_sess=0123"));
  EXPECT_EQ(PasswordRedirect(), "HTTP/1.1 302 Found\r\nLocation: /password\r\n" + bare_end);
  EXPECT_EQ(LoginRedirect("0123456789abcdef0123456789abcdef", "/", true),
            "HTTP/1.1 302 Found\r\nLocation: /\r\nSet-Cookie: lcx_sess=0123456789abcdef0123456789abcdef; "
            "Path=/; HttpOnly; Secure; SameSite=Strict\r\n" + bare_end);
  EXPECT_EQ(LogoutRedirect(),
            "HTTP/1.1 302 Found\r\nLocation: /login\r\nSet-Cookie: lcx_sess=; Path=/; Max-Age=0\r\n" + bare_end);
  EXPECT_EQ(ConfigJsonReply("{}"),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n" +
                guard + "Content-Length: 2\r\nConnection: close\r\n\r\n{}");
  EXPECT_EQ(SnapshotReply(""), "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-store\r\n" + guard +
                                   "Content-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(LoginBackgroundReply("JPG"), "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: max-age=3600\r\n" +
                                             guard + "Content-Length: 3\r\nConnection: close\r\n\r\nJPG");
  EXPECT_EQ(EulaReply("<p>"), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + guard +
                                  "Content-Length: 3\r\nConnection: close\r\n\r\n<p>");
  EXPECT_TRUE(MisdirectedReply().starts_with("HTTP/1.1 421 Misdirected Request\r\n"));
  EXPECT_EQ(LoginBackgroundReply(""), BuildResponse("404 Not Found", "no image", kTextType));
  EXPECT_EQ(EulaReply(""), BuildResponse("404 Not Found", "no eula", kTextType));
}

TEST(WebLoginPage, MarkersReplacedOnce) {
  EXPECT_EQ(BuildLoginPage("<code>{{MACHINE_ID}}</code><script>if({{ERR}})show();", "{{ERR}}ab", true),
            "<code>{{ERR}}ab</code><script>if(1)show();");
  EXPECT_EQ(BuildLoginPage("id={{MACHINE_ID}};if({{ERR}})", "ff", false), "id=ff;if(0)");
}

// The page built into the program keeps the contract its script relies on.
TEST(WebLoginPage, BuiltInPageContract) {
  std::string_view page = LoginPageTemplate();
  for (std::string_view marker : {"{{MACHINE_ID}}", "{{ERR}}"}) {
    SCOPED_TRACE(std::string(marker));
    size_t first = page.find(marker);
    ASSERT_NE(first, std::string_view::npos);
    EXPECT_EQ(page.find(marker, first + 1), std::string_view::npos);
  }
  std::string built = BuildLoginPage(page, "c0ffee", true);
  EXPECT_TRUE(built.ends_with(")document.getElementById('err').style.display='block';\napply(L);\n</script>\n"
                              "</body></html>"));
  EXPECT_NE(built.find("if(1)document.getElementById('err')"), std::string::npos);
  EXPECT_NE(built.find("c0ffee"), std::string::npos);
  for (const char* field : {"name=\"user\"", "name=\"pass\"", "action=\"/login\"", "'/recover'"}) {
    EXPECT_NE(page.find(field), std::string_view::npos) << field;
  }
  EXPECT_FALSE(AdminPageHtml().empty());
  EXPECT_FALSE(EulaHtml().empty());
  EXPECT_TRUE(LoginBackgroundJpeg().starts_with("\xff\xd8\xff"));
}

}  // namespace
}  // namespace lcx
