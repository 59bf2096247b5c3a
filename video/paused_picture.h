// The pictures that replace the screen while the stream is paused or the
// screen cannot be seen: the designed full-frame pictures the streams carry
// (and --dump-screens writes), and the plain dark card of the web preview. Drawn on the calling thread;
// calls from several threads at once are safe.
#pragma once

#include <cstdint>
#include <vector>

namespace lcx {

// Why the screen is not in the stream; each has its own designed picture.
enum class ScreenNotice {
  kPaused,     // the administrator stopped the stream
  kNotShared,  // the desktop's portal is missing, was refused, or ended the sharing
  kWaiting,    // the sharing is being set up, or nothing was sent yet
  kNoScreen,   // no display to capture (yet)
};

// Draws the notice's picture over a whole top-down BGRX buffer.
void DrawNoticePicture(uint8_t* bgrx, int width, int height, ScreenNotice notice);
// The notice's picture at width x height in a fresh buffer (all zero when the
// size is unusable).
void FillNoticePicture(int width, int height, ScreenNotice notice, std::vector<uint8_t>& buffer);

// Draws the paused picture over a whole top-down BGRX buffer (stride width*4).
void DrawPausedPicture(uint8_t* bgrx, int width, int height);
// Draws the web preview's paused card over a whole BGRX buffer.
void DrawPausedCard(uint8_t* bgrx, int width, int height);
// The paused picture at width x height in a fresh buffer (all zero when the
// size is unusable).
void FillPausedPicture(int width, int height, std::vector<uint8_t>& buffer);

}  // namespace lcx
