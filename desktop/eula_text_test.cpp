#include "desktop/eula_text.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

TEST(EulaText, OneLanguagesReadableText) {
  const std::string html =
      "<html><head><style>p{color:red}</style><title>T</title></head><body>"
      "<nav><a href=\"#ar\">العربية</a></nav>"
      "<article id=\"ar\" lang=\"ar\"><h2>الاتفاقية</h2><p>نص &laquo;عربي&raquo;</p></article>\n"
      "<article id=\"en\" lang=\"en\"><h2>Agreement</h2>\n<p>Use it\n   freely &amp; at your own risk.</p>"
      "<h3>1. Terms</h3><ul><li>One</li><li>Two&#x2014;three</li></ul></article>"
      "<footer>© Halvorix</footer></body></html>";
  EXPECT_EQ(EulaPlainText(html, Language::kEnglish),
            "Agreement\nUse it freely & at your own risk.\n\n1. Terms\n• One\n• Two—three\n");
  EXPECT_EQ(EulaPlainText(html, Language::kArabic), "الاتفاقية\nنص «عربي»\n");
  EXPECT_EQ(EulaPlainText("<body><p>Plain page</p><script>x()</script></body>", Language::kEnglish),
            "Plain page\n")
      << "a page without articles gives its whole body";
}

// A missing ">" once sent the loop back to the start of the page, where it
// met the same element again: the window hung on a damaged page.
TEST(EulaText, MalformedPagesEndAndKeepWhatIsReadable) {
  struct Case {
    const char* name;
    const char* html;
    const char* text;
  } cases[] = {
      {"skipped element closed without \">\"", "<body><p>Before</p><script>x()</script", "Before\n"},
      {"skipped element never closed", "<body><p>Before</p><style>p{}", "Before\n"},
      {"skipped element closed in capitals", "<body><STYLE>p{}</STYLE><p>After</p>", "After\n"},
      {"a longer name is not the closing tag", "<body><nav>a</navx>b</nav><p>After</p>", "After\n"},
      {"self-closing svg hides nothing", "<body><svg/><p>After</p>", "After\n"},
      {"unfinished tag at the end", "<body><p>Text</p><p class=\"x", "Text\n"},
      {"unfinished comment", "<body><p>Text</p><!-- note", "Text\n"},
      {"comment with \">\" inside", "<body><!-- a > b --><p>After</p>", "After\n"},
      {"\"<\" that starts no tag is text", "<body><p>1 < 2 and 3 <= 4</p>", "1 < 2 and 3 <= 4\n"},
      {"\"<\" last", "<body>a <", "a <\n"},
      {"\"&\" without \";\"", "<body>R&D and &amp", "R&D and &amp\n"},
      {"unknown entity kept", "<body>&bogus; &#;", "&bogus; &#;\n"},
      {"empty and huge character numbers", "<body>a&#x;b&#99999999;c&#0;d", "a&#x;b\xef\xbf\xbd" "c\xef\xbf\xbd" "d\n"},
      {"surrogate number", "<body>&#xD800;", "\xef\xbf\xbd\n"},
      {"article never closed gives the body", "<body><article id=\"en\"><p>All</p>", "All\n"},
      {"empty page", "", ""},
      {"only \"<\"", "<", "<\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EulaPlainText(c.html, Language::kEnglish), c.text);
  }
}

}  // namespace
}  // namespace lcx
