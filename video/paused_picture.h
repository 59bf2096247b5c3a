// The pictures that replace the screen while the stream is paused: the
// designed full-frame picture the streams carry (and --dump-screens writes),
// and the plain dark card of the web preview. Drawn on the calling thread;
// calls from several threads at once are safe.
#pragma once

#include <cstdint>
#include <vector>

namespace lcx {

// Draws the paused picture over a whole top-down BGRX buffer (stride width*4).
void DrawPausedPicture(uint8_t* bgrx, int width, int height);
// Draws the web preview's paused card over a whole BGRX buffer.
void DrawPausedCard(uint8_t* bgrx, int width, int height);
// The paused picture at width x height in a fresh buffer (all zero when the
// size is unusable).
void FillPausedPicture(int width, int height, std::vector<uint8_t>& buffer);

}  // namespace lcx
