#include "resources/logo.h"

#include <cstddef>

namespace lcx {

extern const uint8_t kLogoPng[];  // generated from logo.png at build time
extern const size_t kLogoPngSize;

std::span<const uint8_t> LogoPng() { return {kLogoPng, kLogoPngSize}; }

}  // namespace lcx
