// BT.601 limited-range conversion of top-down BGRX buffers (4 bytes per
// pixel, strides in pixels) to I420 with fixed integer formulas: the first
// step of every encode. Nothing here allocates.
#pragma once

#include <cstdint>

namespace lcx {

// Converts the top-left width x height pixels (width, height even) of a BGRX
// picture with the given stride into the Y, U and V planes (strides width,
// width/2, width/2). Picks the widest vector unit the CPU offers; every path
// gives exactly the result of ConvertBgraToI420Reference.
void ConvertBgraToI420(const uint8_t* src, int src_stride_px, int width, int height, uint8_t* y,
                       uint8_t* u, uint8_t* v);

// The plain per-pixel loop of the formulas: the yardstick for the fast paths.
void ConvertBgraToI420Reference(const uint8_t* src, int src_stride_px, int width, int height,
                                uint8_t* y, uint8_t* u, uint8_t* v);

enum class ConvertPath { kReference, kSse2, kAvx2 };
// Runs one given path; false (nothing written) when this CPU lacks it.
bool ConvertBgraToI420With(ConvertPath path, const uint8_t* src, int src_stride_px, int width,
                           int height, uint8_t* y, uint8_t* u, uint8_t* v);
// The path ConvertBgraToI420 takes on this CPU.
ConvertPath SelectedConvertPath();

}  // namespace lcx
