#include "web/web_request.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

TEST(WebRequestLine, MethodAndPath) {
  struct Case {
    const char* name;
    const char* head;
    const char* method;
    const char* path;
  } cases[] = {
      {"Chromium GET of the panel", "GET / HTTP/1.1\r\nHost: cam\r\n\r\n", "GET", "/"},
      {"preview with a cache-busting query", "GET /snapshot.jpg?t=1712 HTTP/1.1\r\n\r\n", "GET", "/snapshot.jpg"},
      {"query string on the settings", "GET /config.json?x=1 HTTP/1.1\r\n\r\n", "GET", "/config.json"},
      {"fragment sent by a hand-made client", "GET /#frag HTTP/1.1\r\n\r\n", "GET", "/"},
      {"method in lower case kept as sent", "get /login HTTP/1.1\r\n\r\n", "get", "/login"},
      {"percent escapes not decoded in the path", "GET /a%2Fb HTTP/1.1\r\n\r\n", "GET", "/a%2Fb"},
      {"absolute form from a proxy", "GET http://cam:8080/login?x HTTP/1.1\r\n\r\n", "GET", "/login"},
      {"no blank at all", "GARBAGE", "GARBAGE", "/"},
      {"no second blank", "GET /login", "GET", "/"},
      {"nothing after the first blank", "GET ", "GET", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WebRequest r;
    r.head = c.head;
    ParseWebHead(r);
    EXPECT_EQ(r.method, c.method);
    EXPECT_EQ(r.path, c.path);
  }
}

TEST(WebForm, UrlDecode) {
  struct Case {
    const char* name;
    const char* in;
    const char* out;
  } cases[] = {
      {"plus is a blank", "Lab+2", "Lab 2"},
      {"escapes in either case", "a%2fb%2Fc", "a/b/c"},
      {"Arabic in UTF-8", "%D8%A8%D8%AB", "\xd8\xa8\xd8\xab"},
      {"percent without two hex digits kept", "100%", "100%"},
      {"percent with one digit at the end kept", "x%4", "x%4"},
      {"percent followed by non-hex kept", "%zz", "%zz"},
      {"encoded percent and plus", "%25%2B", "%+"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UrlDecode(c.in), c.out);
  }
  EXPECT_EQ(UrlDecode(std::string_view("%00", 3)), std::string(1, '\0'));
}

TEST(WebForm, ParseForm) {
  // Chromium's form post of the login page.
  WebForm login = ParseForm("user=admin&pass=p%40ss+word");
  EXPECT_EQ(login, (WebForm{{"user", "admin"}, {"pass", "p@ss word"}}));

  WebForm odd = ParseForm("=skipped&novalue&fps=5&fps=7&empty=&a%3Db=c%26d&");
  EXPECT_EQ(odd, (WebForm{{"fps", "7"}, {"empty", ""}, {"a=b", "c&d"}}));
  EXPECT_EQ(FormValue(odd, "fps"), "7");
  EXPECT_EQ(FormValue(odd, "missing"), "");
  EXPECT_TRUE(ParseForm("").empty());
}

TEST(WebJson, JsonEscape) {
  EXPECT_EQ(JsonEscape("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(JsonEscape("\b\f\n\r\t"), "\\b\\f\\n\\r\\t");
  EXPECT_EQ(JsonEscape("</script>&"), "\\u003c/script\\u003e\\u0026");
  EXPECT_EQ(JsonEscape(std::string("\x01\x1f\x7f", 3)), "\\u0001\\u001f\x7f");
  EXPECT_EQ(JsonEscape("قيمة"), "قيمة");  // UTF-8 passes through
}

}  // namespace
}  // namespace lcx
