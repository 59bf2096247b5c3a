// The few pieces of H.264 syntax the still-screen shortcut needs, pure bytes
// in and bytes out: the fields of the encoder's SPS and PPS that a slice
// header depends on, the numbering fields of the encoder's slices, a
// rewrite of their picture order count, and a P picture whose macroblocks
// are all skipped (decoders show it as the previous picture).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lcx {

// What a slice header of this stream must carry, from its SPS and PPS.
struct SliceSyntax {
  uint32_t pps_id = 0;
  int frame_num_bits = 0;    // log2_max_frame_num
  int poc_lsb_bits = 0;      // log2_max_pic_order_cnt_lsb (picture order count type 0)
  bool bottom_field_poc = false;  // bottom_field_pic_order_in_frame_present_flag
  bool redundant_pic_cnt = false;
  bool deblocking_control = false;
  uint32_t macroblocks = 0;  // per picture
};

// The syntax for skipped pictures of a stream with these parameter sets (NAL
// units without start code); nullopt with the reason in *why when they use
// something a skipped picture here cannot be written for (CABAC, field
// coding, picture order count type other than 0, slice groups, weighted
// prediction, colour planes coded apart, scaling matrices).
std::optional<SliceSyntax> ParseSliceSyntax(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                            std::string* why);

// The numbering of one coded slice (NAL unit type 1 or 5, header byte first).
struct SliceNumbers {
  bool idr = false;
  int nal_ref_idc = 0;
  uint32_t frame_num = 0;
  uint32_t poc_lsb = 0;
  size_t poc_bit = 0;  // where pic_order_cnt_lsb starts in the unescaped NAL unit
};
std::optional<SliceNumbers> ParseSliceNumbers(const uint8_t* nal, size_t size, const SliceSyntax& syntax);

// Appends a non-reference P picture (start code and one slice) whose
// macroblocks are all skipped: every motion vector is predicted as zero, so
// decoders show the reference picture unchanged.
void AppendSkippedPicture(const SliceSyntax& syntax, uint32_t frame_num, uint32_t poc_lsb,
                          std::vector<uint8_t>& out);

// Copies an Annex-B access unit into `out` with the picture order count of
// every slice set to `poc_lsb`. False (out unspecified) when a slice cannot
// be read.
bool RewritePictureOrder(const uint8_t* au, size_t size, const SliceSyntax& syntax, uint32_t poc_lsb,
                         std::vector<uint8_t>& out);

}  // namespace lcx
