// Still-picture file formats of top-down BGRX buffers (stride width * 4):
// JPEG through TurboJPEG for the snapshots, PNG through Cairo's writer for
// --dump-screens. Every call keeps its own encoder; any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lcx {

// libjpeg's limit; larger pictures cannot be written at all.
constexpr int kMaxJpegSide = 65500;

// JPEG of a BGRX picture (4:2:0, quality clamped to 1..100); empty on failure.
std::vector<uint8_t> EncodeBgrxJpeg(const uint8_t* bgrx, int width, int height, int quality);

// Writes a BGRX picture to `path` as PNG (opaque RGB); false on failure.
bool WriteBgrxPng(const uint8_t* bgrx, int width, int height, const std::string& path);

}  // namespace lcx
