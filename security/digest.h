// Digests, random tokens, Base64, constant-time comparison and the lookup of
// an Authorization-header parameter: the primitives every login check uses.
// Stateless and reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lcx {

std::string Md5Hex(std::string_view data);        // 32 lower-case hex digits
std::string Sha1Digest(std::string_view data);    // 20 raw bytes
std::string Sha256Digest(std::string_view data);  // 32 raw bytes
// HMAC-SHA-256 of `data` under `key`: 32 raw bytes.
std::string HmacSha256(std::string_view key, std::string_view data);
std::string HexLower(std::string_view bytes);
// 2*n lower-case hex digits of fresh random bytes; n <= 0 means 16. Empty
// when the system random source fails: there is no predictable fallback, so
// a caller must treat "" as "no token" (refuse, log, close).
std::string RandomHex(int32_t n);

// Test seam: replaces the system random source. A source that returns false
// makes RandomHex fail.
using RandomBytesFn = bool (*)(unsigned char* out, size_t n);
void SetRandomSourceForTesting(RandomBytesFn source);  // nullptr restores

std::string Base64Encode(std::string_view bytes);
// Skips every character outside the alphabet; never fails.
std::string Base64Decode(std::string_view text);

// Equal length and equal bytes; never stops early on equal-length inputs.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// Value of name=value or name="value" in an HTTP-style header line; an
// occurrence that is the tail of a longer name does not count.
std::string GetAuthParam(std::string_view line, std::string_view name);

}  // namespace lcx
