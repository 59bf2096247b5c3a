#include "security/digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <atomic>
#include <memory>

namespace lcx {
namespace {

std::string Digest(const EVP_MD* md, std::string_view data) {
  // A failing provider leaves the zero-filled buffer: harmless, never matches.
  std::string out(static_cast<size_t>(EVP_MD_get_size(md)), '\0');
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  unsigned int len = 0;
  if (ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 &&
      EVP_DigestUpdate(ctx.get(), data.data(), data.size()) == 1) {
    EVP_DigestFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len);
  }
  return out;
}

std::atomic<RandomBytesFn> g_random_source{nullptr};

bool RandomBytes(unsigned char* out, size_t n) {
  if (RandomBytesFn f = g_random_source.load()) return f(out, n);
  return RAND_bytes(out, static_cast<int>(n)) == 1;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Md5Hex(std::string_view data) { return HexLower(Digest(EVP_md5(), data)); }
std::string Sha1Digest(std::string_view data) { return Digest(EVP_sha1(), data); }
std::string Sha256Digest(std::string_view data) { return Digest(EVP_sha256(), data); }

std::string HmacSha256(std::string_view key, std::string_view data) {
  // As with the digests, a failing provider leaves zeros that never match.
  std::string out(32, '\0');
  unsigned int len = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), reinterpret_cast<unsigned char*>(out.data()), &len);
  return out;
}

std::string HexLower(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out;
}

std::string RandomHex(int32_t n) {
  if (n <= 0) n = 16;
  std::string bytes(static_cast<size_t>(n), '\0');
  // Nonces and tokens made from the clock could be guessed: fail instead.
  if (!RandomBytes(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size())) return {};
  return HexLower(bytes);
}

void SetRandomSourceForTesting(RandomBytesFn source) { g_random_source.store(source); }

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  uint32_t acc = 0;
  int bits = 0;
  for (unsigned char b : bytes) {
    acc = (acc << 8) | b;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(kBase64[(acc >> bits) & 0x3F]);
    }
  }
  if (bits > 0) out.push_back(kBase64[(acc << (6 - bits)) & 0x3F]);
  while (out.size() % 4 != 0) out.push_back('=');
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  uint32_t acc = 0;
  int bits = 0;
  for (unsigned char c : text) {
    int v = Base64Value(c);
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  volatile unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    diff = diff | static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return diff == 0;
}

std::string GetAuthParam(std::string_view line, std::string_view name) {
  std::string key(name);
  key.push_back('=');
  size_t pos = 0;
  for (;;) {
    pos = line.find(key, pos);
    if (pos == std::string_view::npos) return {};
    if (pos == 0) break;
    char before = line[pos - 1];
    if (before == ' ' || before == ',' || before == '\r' || before == '\n') break;
    ++pos;
  }
  size_t start = pos + key.size();
  if (start < line.size() && line[start] == '"') {
    size_t close = line.find('"', start + 1);
    if (close == std::string_view::npos) return {};
    return std::string(line.substr(start + 1, close - start - 1));
  }
  size_t end = line.find_first_of(", \r\n", start);
  return std::string(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

}  // namespace lcx
