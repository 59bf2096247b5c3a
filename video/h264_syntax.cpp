// Bit-level reading and writing of the H.264 syntax the still-screen
// shortcut touches. NAL units are unescaped (emulation prevention bytes
// removed) before reading and escaped again after writing.
#include "video/h264_syntax.h"

#include "video/h264_encoder.h"  // ForEachNalUnit

namespace lcx {
namespace {

std::vector<uint8_t> Unescape(const uint8_t* nal, size_t size) {
  std::vector<uint8_t> rbsp;
  rbsp.reserve(size);
  int zeros = 0;
  for (size_t i = 0; i < size; ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    rbsp.push_back(nal[i]);
  }
  return rbsp;
}

// Appends a start code and the escaped NAL unit.
void AppendEscaped(const std::vector<uint8_t>& rbsp, std::vector<uint8_t>& out) {
  out.insert(out.end(), {0, 0, 0, 1});
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
}

class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint32_t U(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | Bit();
    return v;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (Bit() == 0 && ok_) {
      if (++zeros > 31) ok_ = false;
    }
    if (!ok_) return 0;
    const uint64_t value = (uint64_t{1} << zeros) - 1 + U(zeros);
    return static_cast<uint32_t>(value);
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  bool ok() const { return ok_; }
  size_t position() const { return bit_; }

 private:
  uint32_t Bit() {
    if (bit_ >= bytes_.size() * 8) {
      ok_ = false;
      return 1;  // ends any exp-Golomb prefix
    }
    const uint32_t b = (bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1;
    ++bit_;
    return b;
  }
  const std::vector<uint8_t>& bytes_;
  size_t bit_ = 0;
  bool ok_ = true;
};

class BitWriter {
 public:
  void U(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) Bit((value >> i) & 1);
  }
  void Ue(uint32_t value) {
    const uint64_t v = uint64_t{value} + 1;
    int bits = 0;
    while ((v >> bits) > 1) ++bits;
    U(0, bits);
    for (int i = bits; i >= 0; --i) Bit(static_cast<uint32_t>((v >> i) & 1));
  }
  void Se(int32_t value) { Ue(value > 0 ? static_cast<uint32_t>(2 * value - 1) : static_cast<uint32_t>(-2 * value)); }
  // rbsp_trailing_bits: the stop bit, then zeros to the byte boundary.
  std::vector<uint8_t>& Finish() {
    Bit(1);
    while (bit_ % 8) Bit(0);
    return bytes_;
  }

 private:
  void Bit(uint32_t b) {
    if (bit_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bit_ % 8));
    ++bit_;
  }
  std::vector<uint8_t> bytes_;
  size_t bit_ = 0;
};

bool HighProfile(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
      return true;
    default:
      return false;
  }
}

std::optional<SliceSyntax> Refuse(std::string* why, const char* reason) {
  if (why) *why = reason;
  return std::nullopt;
}

}  // namespace

std::optional<SliceSyntax> ParseSliceSyntax(const std::vector<uint8_t>& sps_nal, const std::vector<uint8_t>& pps_nal,
                                            std::string* why) {
  if (sps_nal.size() < 4 || pps_nal.size() < 2) return Refuse(why, "parameter sets too short");
  SliceSyntax s;
  const std::vector<uint8_t> sps = Unescape(sps_nal.data() + 1, sps_nal.size() - 1);
  BitReader r(sps);
  const uint32_t profile_idc = r.U(8);
  r.U(16);  // constraint flags, level_idc
  const uint32_t sps_id = r.Ue();
  if (HighProfile(profile_idc)) {
    if (r.Ue() == 3 && r.U(1)) return Refuse(why, "colour planes coded apart");  // chroma_format_idc
    r.Ue();  // bit depths
    r.Ue();
    r.U(1);
    if (r.U(1)) return Refuse(why, "scaling matrices");
  }
  s.frame_num_bits = static_cast<int>(r.Ue()) + 4;
  if (r.Ue() != 0) return Refuse(why, "picture order count type other than 0");
  s.poc_lsb_bits = static_cast<int>(r.Ue()) + 4;
  r.Ue();  // max_num_ref_frames
  r.U(1);  // gaps_in_frame_num_value_allowed_flag
  const uint32_t width_mbs = r.Ue() + 1;
  const uint32_t height_units = r.Ue() + 1;
  if (!r.U(1)) return Refuse(why, "field coding");  // frame_mbs_only_flag
  if (!r.ok() || s.frame_num_bits > 16 || s.poc_lsb_bits > 16) return Refuse(why, "unreadable SPS");
  s.macroblocks = width_mbs * height_units;

  const std::vector<uint8_t> pps = Unescape(pps_nal.data() + 1, pps_nal.size() - 1);
  BitReader p(pps);
  s.pps_id = p.Ue();
  if (p.Ue() != sps_id) return Refuse(why, "the PPS refers to another SPS");
  if (p.U(1)) return Refuse(why, "CABAC");
  s.bottom_field_poc = p.U(1);
  if (p.Ue() != 0) return Refuse(why, "slice groups");
  p.Ue();  // num_ref_idx_l0_default_active_minus1: the skipped slice sets its own
  p.Ue();
  if (p.U(1)) return Refuse(why, "weighted prediction");
  p.U(2);   // weighted_bipred_idc (B slices only)
  p.Se();   // pic_init_qp_minus26
  p.Se();   // pic_init_qs_minus26
  p.Se();   // chroma_qp_index_offset
  s.deblocking_control = p.U(1);
  p.U(1);   // constrained_intra_pred_flag
  s.redundant_pic_cnt = p.U(1);
  if (!p.ok()) return Refuse(why, "unreadable PPS");
  return s;
}

std::optional<SliceNumbers> ParseSliceNumbers(const uint8_t* nal, size_t size, const SliceSyntax& syntax) {
  if (size < 2) return std::nullopt;
  const int type = nal[0] & 0x1F;
  if (type != 1 && type != 5) return std::nullopt;
  // The header fields up to the picture order count lie in the first bytes.
  const std::vector<uint8_t> rbsp = Unescape(nal, size < 64 ? size : 64);
  BitReader r(rbsp);
  r.U(8);
  SliceNumbers n;
  n.idr = type == 5;
  n.nal_ref_idc = (nal[0] >> 5) & 3;
  r.Ue();  // first_mb_in_slice
  r.Ue();  // slice_type
  if (r.Ue() != syntax.pps_id) return std::nullopt;
  n.frame_num = r.U(syntax.frame_num_bits);
  if (n.idr) r.Ue();  // idr_pic_id
  n.poc_bit = r.position();
  n.poc_lsb = r.U(syntax.poc_lsb_bits);
  if (!r.ok()) return std::nullopt;
  return n;
}

void AppendSkippedPicture(const SliceSyntax& s, uint32_t frame_num, uint32_t poc_lsb, std::vector<uint8_t>& out) {
  BitWriter w;
  w.U(0x01, 8);  // nal_ref_idc 0: nothing refers to it, so the encoder's numbering stays valid
  w.Ue(0);       // first_mb_in_slice
  w.Ue(5);       // slice_type: P, as every slice of the picture
  w.Ue(s.pps_id);
  w.U(frame_num, s.frame_num_bits);
  w.U(poc_lsb, s.poc_lsb_bits);
  if (s.bottom_field_poc) w.Se(0);
  if (s.redundant_pic_cnt) w.Ue(0);
  w.U(1, 1);  // num_ref_idx_active_override_flag
  w.Ue(0);    // one reference: the previous picture
  w.U(0, 1);  // ref_pic_list_modification_flag_l0
  w.Se(0);    // slice_qp_delta
  if (s.deblocking_control) w.Ue(1);  // no deblocking: the copy stays exact
  w.Ue(s.macroblocks);                // mb_skip_run over the whole picture
  AppendEscaped(w.Finish(), out);
}

bool RewritePictureOrder(const uint8_t* au, size_t size, const SliceSyntax& syntax, uint32_t poc_lsb,
                         std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(size + 16);
  bool ok = true;
  ForEachNalUnit(au, size, [&](NalUnit nal) {
    const std::optional<SliceNumbers> n = ParseSliceNumbers(nal.data, nal.size, syntax);
    const int type = nal.data[0] & 0x1F;
    if (!n) {
      if (type == 1 || type == 5) ok = false;
      out.insert(out.end(), {0, 0, 0, 1});
      out.insert(out.end(), nal.data, nal.data + nal.size);
      return;
    }
    // Only the header is rewritten; the slice data after it is copied as
    // it stands. The cut falls after a byte above 3, which no escaping
    // before or after it can involve.
    size_t cut = (n->poc_bit + static_cast<size_t>(syntax.poc_lsb_bits)) / 8 + 8;
    while (cut < nal.size && nal.data[cut - 1] <= 3) ++cut;
    if (cut > nal.size) cut = nal.size;
    std::vector<uint8_t> rbsp = Unescape(nal.data, cut);
    for (int i = 0; i < syntax.poc_lsb_bits; ++i) {
      const size_t bit = n->poc_bit + static_cast<size_t>(i);
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
      if ((poc_lsb >> (syntax.poc_lsb_bits - 1 - i)) & 1) {
        rbsp[bit / 8] |= mask;
      } else {
        rbsp[bit / 8] &= static_cast<uint8_t>(~mask);
      }
    }
    AppendEscaped(rbsp, out);
    out.insert(out.end(), nal.data + cut, nal.data + nal.size);
  });
  return ok;
}

}  // namespace lcx
