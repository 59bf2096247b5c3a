// The still-screen shortcut of one stream: when to encode, when a skipped
// picture or the kept IDR does, and the numbering that keeps the encoder's
// later slices valid after pictures it never saw.
#include "video/frame_sequencer.h"

#include "core/log.h"

namespace lcx {

bool FrameSequencer::Start(int key_interval, const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                           std::string* why, int refresh_after) {
  key_interval_ = key_interval;
  refresh_after_ = refresh_after;
  still_ = 0;
  refreshed_ = false;
  started_ = false;
  key_.clear();
  syntax_ = ParseSliceSyntax(sps, pps, why);
  return syntax_.has_value();
}

bool FrameSequencer::Next(H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height, bool changed,
                          bool key_request, std::vector<uint8_t>& out) {
  const bool key_due = key_request || resync_ ||
                       (key_interval_ > 0 && index_ + 1 >= static_cast<uint32_t>(key_interval_));
  if (changed) {
    still_ = 0;
    refreshed_ = false;
  } else {
    ++still_;
  }
  if (!syntax_ || changed || !started_) return Encode(encoder, pixels, stride_px, height, key_due, out);
  if (refresh_after_ > 0 && !refreshed_ && still_ >= static_cast<uint32_t>(refresh_after_)) {
    // Moving pictures were coded for the bit rate; once the screen rests, one
    // sharp IDR, which the key slots then repeat to late joiners.
    refreshed_ = true;
    ++refreshes_;
    return Encode(encoder, pixels, stride_px, height, true, out, true);
  }
  if (key_due) {
    // The kept IDR shows this very picture only while the encoder has not
    // run since; two IDRs in a row must differ in idr_pic_id, so never
    // right after another.
    if (key_.empty() || last_was_key_) return Encode(encoder, pixels, stride_px, height, true, out);
    out.insert(out.end(), key_.begin(), key_.end());
    index_ = 0;
    ref_frame_num_ = 0;
    last_was_key_ = true;
    return true;
  }
  ++index_;
  const uint32_t frame_num = (ref_frame_num_ + 1) & ((1u << syntax_->frame_num_bits) - 1);
  AppendSkippedPicture(*syntax_, frame_num, (2 * index_) & ((1u << syntax_->poc_lsb_bits) - 1), out);
  last_was_key_ = false;
  return true;
}

bool FrameSequencer::Encode(H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height, bool key,
                            std::vector<uint8_t>& out, bool sharp) {
  const size_t at = out.size();
  const bool ok = sharp ? encoder.EncodeSharp(pixels, stride_px, height, out)
                        : encoder.Encode(pixels, stride_px, height, out, key);
  if (!ok) return false;
  ++encoded_;
  if (out.size() == at) return true;  // the library skipped the frame: nothing sent, nothing counted
  key_.clear();
  started_ = true;
  if (key) resync_ = false;
  if (!syntax_) return true;

  std::optional<SliceNumbers> n;
  ForEachNalUnit(out.data() + at, out.size() - at, [&](NalUnit nal) {
    if (!n) n = ParseSliceNumbers(nal.data, nal.size, *syntax_);
  });
  const uint32_t frame_num_mask = (1u << syntax_->frame_num_bits) - 1;
  if (!n || (!n->idr && n->nal_ref_idc != 0 && n->frame_num != ((ref_frame_num_ + 1) & frame_num_mask))) {
    // Cannot happen with the encoder we know; if it does, stop skipping and
    // let the encoder's own numbering stand from its next IDR on.
    LogLine("Video: the encoder's slice numbering is not what skipped pictures need; every frame is encoded\n");
    syntax_.reset();
    resync_ = true;
    return true;
  }
  if (n->idr) {
    index_ = 0;
    ref_frame_num_ = 0;
    last_was_key_ = true;
    key_.assign(out.begin() + static_cast<std::ptrdiff_t>(at), out.end());
    return true;
  }
  ++index_;
  last_was_key_ = false;
  if (n->nal_ref_idc != 0) ref_frame_num_ = n->frame_num;
  const uint32_t poc = (2 * index_) & ((1u << syntax_->poc_lsb_bits) - 1);
  if (n->poc_lsb == poc) return true;
  // Pictures the encoder never saw came since its last frame: its picture
  // order count lags behind ours.
  if (!RewritePictureOrder(out.data() + at, out.size() - at, *syntax_, poc, scratch_)) return true;
  out.resize(at);
  out.insert(out.end(), scratch_.begin(), scratch_.end());
  return true;
}

}  // namespace lcx
