// The application icon (tray, window icons), RGBA PNGs drawn by
// make_icon.py at the sizes desktops use, compiled into the executable.
#pragma once

#include <cstdint>
#include <span>

namespace lcx {

inline constexpr int kAppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The PNG of one of kAppIconSizes; empty for any other size.
std::span<const uint8_t> AppIconPng(int size);

}  // namespace lcx
