// One OpenH264 encoder instance, loaded at run time, plus the Annex-B byte
// stream helpers the producer and the SDP use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"

class ISVCEncoder;

namespace lcx {

// The sharp picture's quantiser range: over 50 dB on a 1080p test picture
// for about three frames' worth of a 2 Mbit/s stream at 10 fps, once per
// rest. Moving pictures stay within the screen-content range (26..35).
constexpr int kSharpMinQp = 18;
constexpr int kSharpMaxQp = 22;

// OpenH264's usage type. Measured by bench/encode_bench.cpp at 1080p and
// 2 Mbit/s, the camera type costs 0.4x the screen type's CPU with equal or
// better PSNR on video, a moving window and scrolling text at the same bit
// rate; at 640x360 the screen type keeps scrolled text far sharper.
enum class EncoderUsage { kScreen, kCamera };

class H264Encoder {
 public:
  H264Encoder() = default;
  ~H264Encoder();
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;

  // Width and height are rounded down to even; false for a size that rounds
  // below 1, a missing library or entry point, or a failed initialisation,
  // each logged once with its reason ("H.264 encoder: ...").
  bool Open(int width, int height, int fps, int bitrate_kbps, EncoderUsage usage = EncoderUsage::kScreen);
  // Converts the top-left width() x height() pixels of a BGRX picture and
  // appends one access unit (Annex-B) to `out`. True with nothing appended
  // when the library skips the frame; false on a library error.
  bool Encode(const uint8_t* src, int src_stride_px, int src_height, std::vector<uint8_t>& out,
              bool force_idr);
  // An IDR of the picture at a low quantiser (kSharpMaxQp), for a screen that
  // has come to rest; the rate control's bounds are put back afterwards.
  bool EncodeSharp(const uint8_t* src, int src_stride_px, int src_height, std::vector<uint8_t>& out);
  void Close();

  bool is_open() const { return encoder_ != nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  ISVCEncoder* encoder_ = nullptr;
  DynamicLibrary library_;  // Close() ends the instance first, then the library
  void (*destroy_)(ISVCEncoder*) = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> picture_;  // I420, sized once at Open
};

// A view of one NAL unit (header byte first, start code excluded).
struct NalUnit {
  const uint8_t* data;
  size_t size;
};

std::vector<NalUnit> SplitAnnexB(const uint8_t* bytes, size_t length);
// Calls fn(NalUnit) for each unit SplitAnnexB would return, without allocating.
template <typename Fn>
void ForEachNalUnit(const uint8_t* bytes, size_t length, Fn&& fn);
bool HasNalType(const uint8_t* bytes, size_t length, int type);
// Takes the last SPS (type 7) and PPS (type 8) of an access unit; the
// profile-level-id from an SPS of at least 4 bytes. True when both are set.
bool ExtractParameterSets(const std::vector<uint8_t>& access_unit, std::vector<uint8_t>& sps,
                          std::vector<uint8_t>& pps, std::string& profile_level_id);

// Position of the next start code at or after `from` (4-byte code tested
// first), its length in *code_length; `length` when there is none.
size_t FindStartCode(const uint8_t* bytes, size_t length, size_t from, size_t* code_length);

template <typename Fn>
void ForEachNalUnit(const uint8_t* bytes, size_t length, Fn&& fn) {
  size_t code = 0;
  size_t pos = FindStartCode(bytes, length, 0, &code);
  while (pos < length) {
    const size_t begin = pos + code;
    size_t next_code = 0;
    const size_t next = FindStartCode(bytes, length, begin, &next_code);
    if (next > begin) fn(NalUnit{bytes + begin, next - begin});
    pos = next;
    code = next_code;
  }
}

}  // namespace lcx
