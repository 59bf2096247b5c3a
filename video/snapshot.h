// Still pictures: the web preview and ONVIF JPEG snapshots of the primary
// screen, and the paused picture written as PNG. Every call builds its
// pictures on the calling thread; calls from several threads at once are
// safe. The pictures themselves live in paused_picture.h, the encoders in
// image_codec.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/paused_picture.h"   // ScreenNotice
#include "video/screen_grabber.h"  // PrimaryScreenSize

namespace lcx {

// The size of the screen the stills show, read afresh: the portal stream's,
// or the X11 monitor's. False when there is none.
bool ScreenSizeNow(int* width, int* height);

// Web preview: the screen at native size as JPEG (quality 55), or the dark
// "paused" card while StreamPaused is set. Empty on failure.
std::vector<uint8_t> CaptureSnapshotJpeg();

// ONVIF snapshot: the screen scaled (by averaging) to width x height as JPEG
// (quality 80). False with `out` empty on failure or a size below 1.
bool EncodeScreenJpeg(int width, int height, std::vector<uint8_t>& out);

// Renders the paused picture (or another notice) at 1280 x 720 and writes it
// as PNG.
bool SavePausedPng(const std::string& path);
bool SaveNoticePng(const std::string& path, ScreenNotice notice);

}  // namespace lcx
