#include "resources/documents.h"

#include <cstddef>
#include <cstdint>

namespace lcx {

// Generated from the files by embed.cmake (see CMakeLists.txt).
extern const uint8_t kEulaHtml[];
extern const size_t kEulaHtmlSize;
extern const uint8_t kRecoveryPublicKey[];
extern const size_t kRecoveryPublicKeySize;

std::string_view EulaHtml() { return {reinterpret_cast<const char*>(kEulaHtml), kEulaHtmlSize}; }
std::string_view BuiltInRecoveryKey() {
  return {reinterpret_cast<const char*>(kRecoveryPublicKey), kRecoveryPublicKeySize};
}

}  // namespace lcx
