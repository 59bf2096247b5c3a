// Request heads split once into fields; lookups, cookies, lengths and
// transports read from the fields, never from the raw text.
#include "core/request_head.h"

#include <algorithm>
#include <limits>

namespace lcx {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Cuts the next line off `text`; false when nothing is left.
bool NextLine(std::string_view& text, std::string_view& line) {
  if (text.empty()) return false;
  size_t end = text.find('\n');
  line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

void ParseRequestLine(std::string_view line, RequestHead& head) {
  size_t first = line.find(' ');
  head.method = std::string(line.substr(0, first));
  if (first == std::string_view::npos) return;
  std::string_view rest = line.substr(first + 1);
  size_t second = rest.find(' ');
  head.target = std::string(rest.substr(0, second));
  if (second != std::string_view::npos) head.version = std::string(Trimmed(rest.substr(second + 1)));
}

// Splits `text` at `separator`, each piece trimmed.
std::vector<std::string_view> Pieces(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  for (;;) {
    size_t at = text.find(separator);
    out.push_back(Trimmed(text.substr(0, at)));
    if (at == std::string_view::npos) return out;
    text.remove_prefix(at + 1);
  }
}

std::pair<std::string, std::string> NameValue(std::string_view piece) {
  size_t eq = piece.find('=');
  if (eq == std::string_view::npos) return {std::string(piece), std::string()};
  return {std::string(Trimmed(piece.substr(0, eq))), std::string(Trimmed(piece.substr(eq + 1)))};
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::optional<std::string_view> RequestHead::Find(std::string_view name) const {
  for (const HeaderField& field : fields) {
    if (EqualsIgnoreCase(field.name, name)) return std::string_view(field.value);
  }
  return std::nullopt;
}

std::vector<std::string_view> RequestHead::FindAll(std::string_view name) const {
  std::vector<std::string_view> out;
  for (const HeaderField& field : fields) {
    if (EqualsIgnoreCase(field.name, name)) out.emplace_back(field.value);
  }
  return out;
}

HeadStatus ParseRequestHead(std::string_view text, RequestHead& head, const HeadLimits& limits) {
  head = RequestHead();
  std::string_view line;
  // Clients may send an empty line or two before the request line.
  do {
    if (!NextLine(text, line)) return HeadStatus::kOk;
  } while (line.empty());
  if (line.size() > limits.max_line_bytes) return HeadStatus::kTooLarge;
  ParseRequestLine(line, head);

  size_t lines = 0;
  while (NextLine(text, line) && !line.empty()) {
    if (++lines > limits.max_fields || line.size() > limits.max_line_bytes) return HeadStatus::kTooLarge;
    if (IsBlank(line.front())) {
      // An obsolete folded line belongs to the field above it.
      if (head.fields.empty()) continue;
      std::string_view more = Trimmed(line);
      std::string& value = head.fields.back().value;
      if (!more.empty()) value += value.empty() ? std::string(more) : " " + std::string(more);
      if (value.size() > limits.max_line_bytes) return HeadStatus::kTooLarge;
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    // "Name :" is no field name: a peer and a proxy would disagree on it.
    if (name.empty() || IsBlank(name.back())) continue;
    head.fields.push_back({std::string(name), std::string(Trimmed(line.substr(colon + 1)))});
  }
  return HeadStatus::kOk;
}

std::string_view TargetPath(std::string_view target) {
  size_t scheme = target.find("://");
  if (scheme != std::string_view::npos && target.find_first_of("/?#") > scheme) {
    target.remove_prefix(scheme + 3);
    size_t slash = target.find_first_of("/?#");
    target.remove_prefix(slash == std::string_view::npos ? target.size() : slash);
  }
  target = target.substr(0, target.find_first_of("?#"));
  return target.empty() ? std::string_view("/") : target;
}

std::vector<std::string_view> PathSegments(std::string_view path) {
  std::vector<std::string_view> out;
  for (std::string_view piece : Pieces(path, '/')) {
    if (!piece.empty()) out.push_back(piece);
  }
  return out;
}

std::optional<int64_t> ContentLength(const RequestHead& head) {
  constexpr int64_t kSaturated = std::numeric_limits<int64_t>::max() / 16;
  std::optional<int64_t> length;
  for (std::string_view value : head.FindAll("Content-Length")) {
    if (value.empty()) return std::nullopt;
    int64_t number = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return std::nullopt;
      number = number < kSaturated ? number * 10 + (c - '0') : kSaturated;
    }
    if (length && *length != number) return std::nullopt;
    length = number;
  }
  return length.value_or(0);
}

std::vector<std::pair<std::string, std::string>> RequestCookies(const RequestHead& head) {
  std::vector<std::pair<std::string, std::string>> out;
  for (std::string_view line : head.FindAll("Cookie")) {
    for (std::string_view piece : Pieces(line, ';')) {
      if (piece.find('=') == std::string_view::npos) continue;
      out.push_back(NameValue(piece));
    }
  }
  return out;
}

std::vector<std::string> CookieValues(const RequestHead& head, std::string_view name) {
  std::vector<std::string> out;
  for (auto& [cookie, value] : RequestCookies(head)) {
    if (cookie == name) out.push_back(std::move(value));
  }
  return out;
}

bool TransportChoice::Interleaved() const {
  size_t slash = protocol.rfind('/');
  if (slash != std::string::npos && std::count(protocol.begin(), protocol.end(), '/') >= 2 &&
      EqualsIgnoreCase(std::string_view(protocol).substr(slash + 1), "TCP"))
    return true;
  for (const auto& [name, value] : parameters) {
    if (EqualsIgnoreCase(name, "interleaved")) return true;
  }
  return false;
}

std::vector<TransportChoice> ParseTransport(std::string_view value) {
  std::vector<TransportChoice> out;
  for (std::string_view alternative : Pieces(value, ',')) {
    if (alternative.empty()) continue;
    std::vector<std::string_view> parts = Pieces(alternative, ';');
    TransportChoice choice;
    choice.protocol = std::string(parts.front());
    for (size_t i = 1; i < parts.size(); ++i) {
      if (!parts[i].empty()) choice.parameters.push_back(NameValue(parts[i]));
    }
    out.push_back(std::move(choice));
  }
  return out;
}

}  // namespace lcx
