// The program's logo, a 900 x 771 RGBA PNG compiled into the executable.
#pragma once

#include <cstdint>
#include <span>

namespace lcx {

// The PNG file's bytes; valid for the life of the process.
std::span<const uint8_t> LogoPng();

}  // namespace lcx
