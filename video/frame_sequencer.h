// What one stream sends each frame period. A changed picture goes through
// the encoder as always; an unchanged one costs no encode: a skipped P
// picture (a dozen bytes), or at a key frame the last IDR again when nothing
// was encoded since it. The pictures are numbered as if every one had been
// encoded: one IDR per key_interval frames, picture order count twice the
// frames since the IDR (the encoder's own slices are rewritten to match),
// skipped pictures non-reference so the encoder's frame_num stays right.
// Used by the producer thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "video/h264_encoder.h"
#include "video/h264_syntax.h"

namespace lcx {

class FrameSequencer {
 public:
  // key_interval: frames from one IDR to the next, the encoder's intra
  // period. Without usable parameter sets every frame is encoded (the
  // reason, for the log, in *why). refresh_after: still frames after which
  // the resting screen is sent once as a sharp IDR (0: never).
  bool Start(int key_interval, const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps, std::string* why,
             int refresh_after = 0);

  // One frame period: `changed` says whether `pixels` differ from the
  // picture of the previous call. Appends the access unit to `out` (nothing
  // when the library skipped the frame); false on an encoder error.
  bool Next(H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height, bool changed,
            bool key_request, std::vector<uint8_t>& out);

  uint64_t encoded() const { return encoded_; }  // frames that ran the encoder
  uint64_t refreshes() const { return refreshes_; }  // sharp pictures of a resting screen

 private:
  bool Encode(H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height, bool key,
              std::vector<uint8_t>& out, bool sharp = false);

  std::optional<SliceSyntax> syntax_;  // empty: encode every frame
  int key_interval_ = 0;
  bool started_ = false;         // a frame has been sent since Start
  uint32_t index_ = 0;           // frames since the last IDR sent
  uint32_t ref_frame_num_ = 0;   // frame_num of the last reference picture sent
  bool last_was_key_ = false;
  bool resync_ = false;          // the shortcut was turned off mid-stream: the next frame is an IDR
  std::vector<uint8_t> key_;     // the last IDR encoded, while the encoder has not run since
  std::vector<uint8_t> scratch_;
  uint64_t encoded_ = 0;
  int refresh_after_ = 0;
  uint32_t still_ = 0;     // unchanged frames since the last change
  bool refreshed_ = false; // this still spell has had its sharp picture
  uint64_t refreshes_ = 0;
};

}  // namespace lcx
