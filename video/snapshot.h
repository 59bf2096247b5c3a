// Still pictures: the web preview and ONVIF JPEG snapshots of the primary
// screen, and the paused picture written as PNG. Every call builds its
// pictures on the calling thread; calls from several threads at once are
// safe. The pictures themselves live in paused_picture.h, the encoders in
// image_codec.h.
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

// Renders the paused picture at 1280 x 720 and writes it as PNG.
bool SavePausedPng(const std::string& path);

}  // namespace lcx
