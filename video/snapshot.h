// Still pictures: the web preview and ONVIF JPEG snapshots of the primary
// screen, and the designed picture that replaces the screen while the stream
// is paused. Every call builds its pictures on the calling thread; calls from
// several threads at once are safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/screen_grabber.h"  // PrimaryScreenSize

namespace lcx {

// Web preview: the screen at native size as JPEG (quality 55), or the dark
// "paused" card while StreamPaused is set. Empty on failure.
std::vector<uint8_t> CaptureSnapshotJpeg();

// ONVIF snapshot: the screen scaled (by averaging) to width x height as JPEG
// (quality 80). False with `out` empty on failure or a size below 1.
bool EncodeScreenJpeg(int width, int height, std::vector<uint8_t>& out);

// Draws the paused picture over a whole top-down BGRX buffer (stride width*4).
void DrawPausedPicture(uint8_t* bgrx, int width, int height);
// Draws the web preview's paused card over a whole BGRX buffer.
void DrawPausedCard(uint8_t* bgrx, int width, int height);
// The paused picture at width x height in a fresh buffer (all zero when the
// size is unusable).
void FillPausedPicture(int width, int height, std::vector<uint8_t>& buffer);

// Renders the paused picture at 1280 x 720 and writes it as PNG.
bool SavePausedPng(const std::string& path);

// JPEG of a BGRX picture (4:2:0); empty on failure.
std::vector<uint8_t> EncodeBgrxJpeg(const uint8_t* bgrx, int width, int height, int quality);

}  // namespace lcx
