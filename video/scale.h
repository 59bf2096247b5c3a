// Down-scaling of top-down BGRX pictures (4 bytes per pixel, source stride =
// source width, destination stride = destination width, destination sized by
// the caller): nearest neighbour for the streams, area averaging for stills.
#pragma once

#include <cstdint>

namespace lcx {

// Copies source pixel (floor(y*sh/dh), floor(x*sw/dw)) to every destination
// pixel (y, x). Source stride = sw, destination stride = dw.
void ScaleNearest(const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                  int dst_width, int dst_height);

// Each destination pixel is the mean of the source area it covers, every
// source pixel weighted by the fraction of it inside that area; the unused
// byte is set to 0xFF. Equal sizes copy unchanged; a size below 1 does nothing. Sizes
// its tables per call (std::bad_alloc when memory runs out).
void ScaleArea(const uint8_t* src, int src_width, int src_height, uint8_t* dst, int dst_width,
               int dst_height);

}  // namespace lcx
