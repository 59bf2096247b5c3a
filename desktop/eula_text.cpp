#include "desktop/eula_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

namespace lcx {
namespace {

void AppendUtf8(std::string& out, unsigned long cp) {
  // What the text box cannot show (NUL, surrogates, beyond Unicode) becomes U+FFFD.
  if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp >= 0x110000) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The text of "&name;" (name without "&" and ";"), or the characters as
// they stand when the name is not known.
std::string DecodeEntity(const std::string& name) {
  static const struct { const char* name; const char* text; } kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"},
      {"nbsp", " "}, {"laquo", "«"}, {"raquo", "»"}, {"mdash", "—"}, {"ndash", "–"}, {"copy", "©"},
  };
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits = name.substr(hex ? 2 : 1);
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (!digits.empty() && digits.size() <= 8 && digits.find_first_not_of(allowed) == std::string::npos) {
      std::string out;
      AppendUtf8(out, std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10));
      return out;
    }
  }
  for (const auto& e : kNamed)
    if (name == e.name) return e.text;
  return "&" + name + ";";
}

// Lower-case tag name at `lt` ("<p class=..>" -> "p", "</li>" -> "/li").
std::string TagName(std::string_view html, size_t lt) {
  std::string name;
  for (size_t i = lt + 1; i < html.size(); ++i) {
    const char c = html[i];
    if (c == '>' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || (c == '/' && !name.empty())) break;
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

// Where "</name" begins at or after `from`, in any case; npos when absent.
size_t FindClosingTag(std::string_view html, const std::string& name, size_t from) {
  const std::string want = "</" + name;
  for (size_t i = html.find("</", from); i != std::string_view::npos; i = html.find("</", i + 2)) {
    if (html.size() - i < want.size()) break;
    bool same = true;
    for (size_t k = 2; k < want.size() && same; ++k) {
      same = std::tolower(static_cast<unsigned char>(html[i + k])) == want[k];
    }
    const size_t after = i + want.size();
    const bool ends = after == html.size() || !std::isalnum(static_cast<unsigned char>(html[after]));
    if (same && ends) return i;
  }
  return std::string_view::npos;
}

bool StartsTag(std::string_view html, size_t lt) {
  if (lt + 1 >= html.size()) return false;
  const unsigned char c = html[lt + 1];
  return std::isalpha(c) || c == '/' || c == '!' || c == '?';
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

}  // namespace

std::string EulaPlainText(const std::string& page, Language lang) {
  // The page holds one article per language; without them, all of the body.
  const std::string marker = std::string("<article id=\"") + LanguageKey(lang) + "\"";
  size_t begin = page.find(marker);
  size_t end = begin == std::string::npos ? std::string::npos : page.find("</article>", begin);
  if (begin == std::string::npos || end == std::string::npos) {
    begin = page.find("<body");
    if (begin == std::string::npos) begin = 0;
    end = page.size();
  }
  // Every search below stays inside the part, so none can lead back before it.
  const std::string_view html = std::string_view(page).substr(0, end);

  std::string out;
  auto newline = [&out] {
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out.back() != '\n') out += '\n';
  };
  for (size_t i = begin; i < end;) {
    const char c = html[i];
    if (c == '<' && StartsTag(html, i)) {
      if (html.compare(i, 4, "<!--") == 0) {
        const size_t close = html.find("-->", i + 4);
        if (close == std::string_view::npos) break;
        i = close + 3;
        continue;
      }
      const std::string name = TagName(html, i);
      const size_t close = html.find('>', i);
      if (close == std::string_view::npos) break;  // an unfinished tag ends the text
      const bool self_closing = html[close - 1] == '/';
      i = close + 1;
      if (!self_closing && OneOf(name, {"style", "script", "svg", "nav", "head"})) {
        const size_t skip = FindClosingTag(html, name, i);
        const size_t skip_end = skip == std::string_view::npos ? skip : html.find('>', skip);
        if (skip_end == std::string_view::npos) break;
        i = skip_end + 1;
        continue;
      }
      if (name == "h2" || name == "h3") {
        newline();
        if (!out.empty()) out += '\n';  // a blank line before each heading
      } else if (OneOf(name, {"p", "/p", "h1", "/h1", "h2", "/h2", "h3", "/h3", "li", "/li", "div", "/div", "br",
                              "br/", "ul", "/ul", "ol", "/ol", "section", "/section"})) {
        newline();
      }
      if (name == "li") out += "• ";
      continue;
    }
    if (c == '&') {
      const size_t semi = html.find(';', i);
      if (semi != std::string_view::npos && semi - i <= 10) {
        out += DecodeEntity(std::string(html.substr(i + 1, semi - i - 1)));
        i = semi + 1;
        continue;
      }
    }
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
    } else {
      out += c;
    }
    ++i;
  }
  newline();
  while (!out.empty() && out.front() == '\n') out.erase(out.begin());
  return out;
}

}  // namespace lcx
