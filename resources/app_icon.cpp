#include "resources/app_icon.h"

#include <cstddef>

namespace lcx {

// Generated from icons/lumicast_<size>.png at build time.
#define LCX_ICON(size)                      \
  extern const uint8_t kAppIcon##size[];    \
  extern const size_t kAppIcon##size##Size;
LCX_ICON(16) LCX_ICON(22) LCX_ICON(24) LCX_ICON(32) LCX_ICON(48) LCX_ICON(64) LCX_ICON(128) LCX_ICON(256)
#undef LCX_ICON

std::span<const uint8_t> AppIconPng(int size) {
  switch (size) {
#define LCX_ICON(n) \
  case n: return {kAppIcon##n, kAppIcon##n##Size};
    LCX_ICON(16) LCX_ICON(22) LCX_ICON(24) LCX_ICON(32) LCX_ICON(48) LCX_ICON(64) LCX_ICON(128) LCX_ICON(256)
#undef LCX_ICON
    default: return {};
  }
}

}  // namespace lcx
