// Colour conversion of BGRX pictures. The vector paths compute
// the same integer formulas as the reference loop in 16-bit lanes: luma sums
// stay below 65536 (unsigned), the chroma expression of 2x2 means stays within
// +-28688 (signed), and the division toward zero is a bias-and-shift.
#include "video/convert.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <cstdint>

namespace lcx {

namespace {

inline uint8_t LumaOf(const uint8_t* p) {
  const int y = ((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16;
  return static_cast<uint8_t>(y > 255 ? 255 : y);
}

inline uint8_t ChromaOf(int t) {
  const int q = t / 256;  // C++ division truncates toward zero, as required
  return static_cast<uint8_t>(q < -128 ? 0 : q > 127 ? 255 : q + 128);
}

// Rows 2j and 2j+1 from column x0 (even) to the end: the scalar remainder of
// the vector paths, and the whole row pair for the reference.
void ConvertRowPairScalar(const uint8_t* r0, const uint8_t* r1, int x0, int width, uint8_t* y0,
                          uint8_t* y1, uint8_t* u, uint8_t* v) {
  for (int x = x0; x < width; x += 2) {
    const uint8_t* a = r0 + x * 4;
    const uint8_t* b = r1 + x * 4;
    y0[x] = LumaOf(a);
    y0[x + 1] = LumaOf(a + 4);
    y1[x] = LumaOf(b);
    y1[x + 1] = LumaOf(b + 4);
    const int bm = (a[0] + a[4] + b[0] + b[4]) >> 2;
    const int gm = (a[1] + a[5] + b[1] + b[5]) >> 2;
    const int rm = (a[2] + a[6] + b[2] + b[6]) >> 2;
    u[x / 2] = ChromaOf(112 * bm - 74 * gm - 38 * rm + 128);
    v[x / 2] = ChromaOf(112 * rm - 94 * gm - 18 * bm + 128);
  }
}

// ---- SSE2: 16 pixels of two rows per step ----

struct Planes128 {
  __m128i b, g, r;  // 8 pixels each, 16-bit lanes
};

inline Planes128 Deinterleave8(const uint8_t* p) {
  const __m128i mask = _mm_set1_epi32(0xFF);
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  Planes128 o;
  o.b = _mm_packs_epi32(_mm_and_si128(a, mask), _mm_and_si128(c, mask));
  o.g = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 8), mask),
                        _mm_and_si128(_mm_srli_epi32(c, 8), mask));
  o.r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 16), mask),
                        _mm_and_si128(_mm_srli_epi32(c, 16), mask));
  return o;
}

inline __m128i Luma8(const Planes128& p) {
  // 66R + 129G + 25B + 128 <= 56228: exact in unsigned 16-bit lanes.
  __m128i s = _mm_add_epi16(_mm_mullo_epi16(p.r, _mm_set1_epi16(66)),
                            _mm_mullo_epi16(p.g, _mm_set1_epi16(129)));
  s = _mm_add_epi16(s, _mm_mullo_epi16(p.b, _mm_set1_epi16(25)));
  s = _mm_add_epi16(s, _mm_set1_epi16(128));
  return _mm_add_epi16(_mm_srli_epi16(s, 8), _mm_set1_epi16(16));
}

// Sum of each horizontal pair of two rows' 16-bit lanes, then >> 2: the 2x2
// means of 8 pixels' width as 4 32-bit lanes.
inline __m128i BlockMean4(__m128i top, __m128i bottom) {
  const __m128i s = _mm_madd_epi16(_mm_add_epi16(top, bottom), _mm_set1_epi16(1));
  return _mm_srli_epi32(s, 2);
}

// (t / 256 toward zero) + 128, in signed 16-bit lanes.
inline __m128i ChromaFinish8(__m128i t) {
  const __m128i bias = _mm_and_si128(_mm_srai_epi16(t, 15), _mm_set1_epi16(255));
  return _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(t, bias), 8), _mm_set1_epi16(128));
}

inline void Chroma8(__m128i bm, __m128i gm, __m128i rm, __m128i* u, __m128i* v) {
  const __m128i c128 = _mm_set1_epi16(128);
  __m128i tu = _mm_sub_epi16(_mm_mullo_epi16(bm, _mm_set1_epi16(112)),
                             _mm_mullo_epi16(gm, _mm_set1_epi16(74)));
  tu = _mm_add_epi16(_mm_sub_epi16(tu, _mm_mullo_epi16(rm, _mm_set1_epi16(38))), c128);
  __m128i tv = _mm_sub_epi16(_mm_mullo_epi16(rm, _mm_set1_epi16(112)),
                             _mm_mullo_epi16(gm, _mm_set1_epi16(94)));
  tv = _mm_add_epi16(_mm_sub_epi16(tv, _mm_mullo_epi16(bm, _mm_set1_epi16(18))), c128);
  *u = ChromaFinish8(tu);
  *v = ChromaFinish8(tv);
}

void ConvertSse2(const uint8_t* src, int stride_px, int width, int height, uint8_t* y,
                 uint8_t* u, uint8_t* v) {
  const int vec_end = width & ~15;
  for (int j = 0; j < height / 2; ++j) {
    const uint8_t* r0 = src + static_cast<int64_t>(2 * j) * stride_px * 4;
    const uint8_t* r1 = r0 + static_cast<int64_t>(stride_px) * 4;
    uint8_t* y0 = y + static_cast<int64_t>(2 * j) * width;
    uint8_t* y1 = y0 + width;
    uint8_t* uo = u + static_cast<int64_t>(j) * (width / 2);
    uint8_t* vo = v + static_cast<int64_t>(j) * (width / 2);
    for (int x = 0; x < vec_end; x += 16) {
      const Planes128 a0 = Deinterleave8(r0 + x * 4), a1 = Deinterleave8(r0 + x * 4 + 32);
      const Planes128 b0 = Deinterleave8(r1 + x * 4), b1 = Deinterleave8(r1 + x * 4 + 32);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + x),
                       _mm_packus_epi16(Luma8(a0), Luma8(a1)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + x),
                       _mm_packus_epi16(Luma8(b0), Luma8(b1)));
      const __m128i bm = _mm_packs_epi32(BlockMean4(a0.b, b0.b), BlockMean4(a1.b, b1.b));
      const __m128i gm = _mm_packs_epi32(BlockMean4(a0.g, b0.g), BlockMean4(a1.g, b1.g));
      const __m128i rm = _mm_packs_epi32(BlockMean4(a0.r, b0.r), BlockMean4(a1.r, b1.r));
      __m128i cu, cv;
      Chroma8(bm, gm, rm, &cu, &cv);
      // packus clamps to 0..255, which is exactly the clamp of the formula.
      _mm_storel_epi64(reinterpret_cast<__m128i*>(uo + x / 2), _mm_packus_epi16(cu, cu));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(vo + x / 2), _mm_packus_epi16(cv, cv));
    }
    ConvertRowPairScalar(r0, r1, vec_end, width, y0, y1, uo, vo);
  }
}

// ---- AVX2: 32 pixels of two rows per step ----
// Luma: with the pixel bytes biased to signed (p - 128), one maddubs with the
// unsigned coefficients and a pairwise add give 25B' + 129G' + 66R' exactly in a
// signed 16-bit lane (|sum| <= 28160); the bias comes back in the constant.
// Chroma: neighbouring pixels' channels are shuffled side by side and added
// by maddubs, the rows added as words, and the 2x2 means (bytes again) meet
// the signed chroma coefficients in maddubs.
// In-lane packs scramble the order; the stores put it back.

#define LCX_AVX2 __attribute__((target("avx2")))

// hadd_epi16 without its slow microcode: sums of neighbouring words of a,
// then of b, per lane. Every sum used here fits a signed 16-bit lane.
LCX_AVX2 inline __m256i PairSums(__m256i a, __m256i b) {
  const __m256i ones = _mm256_set1_epi16(1);
  return _mm256_packs_epi32(_mm256_madd_epi16(a, ones), _mm256_madd_epi16(b, ones));
}

LCX_AVX2 inline __m256i LumaSums(__m256i px, __m256i coef) {
  return _mm256_maddubs_epi16(coef, _mm256_xor_si256(px, _mm256_set1_epi8(char(0x80))));
}

// Luma of 16 pixels (p, q) as 16-bit words in packed order.
LCX_AVX2 inline __m256i LumaWords(__m256i p, __m256i q, __m256i coef, __m256i offset) {
  return _mm256_srli_epi16(_mm256_add_epi16(PairSums(LumaSums(p, coef), LumaSums(q, coef)), offset),
                           8);
}

// 2x2 means of 8 pixels' width (rows a, b) as B,G,R,X 16-bit words: lane 0
// holds blocks 0, 1 and lane 1 blocks 2, 3. A byte shuffle puts each
// channel of neighbouring pixels side by side, so one maddubs adds them.
LCX_AVX2 inline __m256i BlockMeans(__m256i a, __m256i b) {
  const __m256i pairs = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4,
                                         1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  const __m256i ones = _mm256_set1_epi8(1);
  const __m256i top = _mm256_maddubs_epi16(_mm256_shuffle_epi8(a, pairs), ones);
  const __m256i bottom = _mm256_maddubs_epi16(_mm256_shuffle_epi8(b, pairs), ones);
  return _mm256_srli_epi16(_mm256_add_epi16(top, bottom), 2);
}

// From the means of 16 pixels' width packed as BGRX bytes (blocks 0,1,4,5 in
// lane 0, 2,3,6,7 in lane 1): U words of the lane's four blocks, then V
// words, each as t / 256 toward zero.
LCX_AVX2 inline __m256i ChromaWords(__m256i means) {
  const __m256i cu = _mm256_set1_epi32(0x00DAB670);  // bytes 112, -74, -38, 0
  const __m256i cv = _mm256_set1_epi32(0x0070A2EE);  // bytes -18, -94, 112, 0
  const __m256i t = _mm256_add_epi16(
      PairSums(_mm256_maddubs_epi16(means, cu), _mm256_maddubs_epi16(means, cv)),
      _mm256_set1_epi16(128));
  // Toward zero: the magnitude shifted, the sign put back.
  return _mm256_sign_epi16(_mm256_srli_epi16(_mm256_abs_epi16(t), 8), t);
}

LCX_AVX2 void ConvertAvx2(const uint8_t* src, int stride_px, int width, int height, uint8_t* y,
                          uint8_t* u, uint8_t* v) {
  const int vec_end = width & ~31;
  const __m256i ycoef = _mm256_set1_epi32(0x00428119);  // bytes 25, 129, 66, 0
  const __m256i luma_order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i chroma_bytes = _mm256_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14,
                                                15, 0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13,
                                                14, 15);
  const __m256i luma_offset = _mm256_set1_epi16(32384);  // 220 * 128 + 128 + 16 * 256
  for (int j = 0; j < height / 2; ++j) {
    const uint8_t* r0 = src + static_cast<int64_t>(2 * j) * stride_px * 4;
    const uint8_t* r1 = r0 + static_cast<int64_t>(stride_px) * 4;
    uint8_t* y0 = y + static_cast<int64_t>(2 * j) * width;
    uint8_t* y1 = y0 + width;
    uint8_t* uo = u + static_cast<int64_t>(j) * (width / 2);
    uint8_t* vo = v + static_cast<int64_t>(j) * (width / 2);
    for (int x = 0; x < vec_end; x += 32) {
      // Named loads, not arrays: GCC copied arrays through the stack in
      // halves, and the reloads stalled on store forwarding.
      const uint8_t* p0 = r0 + x * 4;
      const uint8_t* p1 = r1 + x * 4;
      const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0));
      const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0 + 32));
      const __m256i a2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0 + 64));
      const __m256i a3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0 + 96));
      const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1 + 32));
      const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1 + 64));
      const __m256i b3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1 + 96));
      const __m256i l0a = LumaWords(a0, a1, ycoef, luma_offset);
      const __m256i l0b = LumaWords(a2, a3, ycoef, luma_offset);
      const __m256i l1a = LumaWords(b0, b1, ycoef, luma_offset);
      const __m256i l1b = LumaWords(b2, b3, ycoef, luma_offset);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(y0 + x),
                          _mm256_permutevar8x32_epi32(_mm256_packus_epi16(l0a, l0b), luma_order));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(y1 + x),
                          _mm256_permutevar8x32_epi32(_mm256_packus_epi16(l1a, l1b), luma_order));
      // Lane 0 then holds U and V of blocks 0,1,4,5 | 8,9,12,13, lane 1 of
      // blocks 2,3,6,7 | 10,11,14,15.
      // packs clamps q to -128..127; the xor then adds 128 (the formula's
      // clamp of q + 128 to 0..255).
      const __m256i c = _mm256_shuffle_epi8(
          _mm256_xor_si256(_mm256_set1_epi8(char(0x80)), _mm256_packs_epi16(
              ChromaWords(_mm256_packus_epi16(BlockMeans(a0, b0), BlockMeans(a1, b1))),
              ChromaWords(_mm256_packus_epi16(BlockMeans(a2, b2), BlockMeans(a3, b3))))),
          chroma_bytes);
      // Each lane is now U pairs 0,2,4,6 (lane 1: 1,3,5,7) then V pairs.
      const __m128i lo = _mm256_castsi256_si128(c);
      const __m128i hi = _mm256_extracti128_si256(c, 1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(uo + x / 2), _mm_unpacklo_epi16(lo, hi));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(vo + x / 2), _mm_unpackhi_epi16(lo, hi));
    }
    ConvertRowPairScalar(r0, r1, vec_end, width, y0, y1, uo, vo);
  }
}

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace

void ConvertBgraToI420Reference(const uint8_t* src, int src_stride_px, int width, int height,
                                uint8_t* y, uint8_t* u, uint8_t* v) {
  for (int j = 0; j < height / 2; ++j) {
    const uint8_t* r0 = src + static_cast<int64_t>(2 * j) * src_stride_px * 4;
    const uint8_t* r1 = r0 + static_cast<int64_t>(src_stride_px) * 4;
    uint8_t* y0 = y + static_cast<int64_t>(2 * j) * width;
    ConvertRowPairScalar(r0, r1, 0, width, y0, y0 + width, u + static_cast<int64_t>(j) * (width / 2),
                         v + static_cast<int64_t>(j) * (width / 2));
  }
}

ConvertPath SelectedConvertPath() {
  return CpuHasAvx2() ? ConvertPath::kAvx2 : ConvertPath::kSse2;
}

bool ConvertBgraToI420With(ConvertPath path, const uint8_t* src, int src_stride_px, int width,
                           int height, uint8_t* y, uint8_t* u, uint8_t* v) {
  switch (path) {
    case ConvertPath::kReference:
      ConvertBgraToI420Reference(src, src_stride_px, width, height, y, u, v);
      return true;
    case ConvertPath::kSse2:  // part of every x86-64 CPU
      ConvertSse2(src, src_stride_px, width, height, y, u, v);
      return true;
    case ConvertPath::kAvx2:
      if (!CpuHasAvx2()) return false;
      ConvertAvx2(src, src_stride_px, width, height, y, u, v);
      return true;
  }
  return false;
}

void ConvertBgraToI420(const uint8_t* src, int src_stride_px, int width, int height, uint8_t* y,
                       uint8_t* u, uint8_t* v) {
  if (CpuHasAvx2()) {
    ConvertAvx2(src, src_stride_px, width, height, y, u, v);
  } else {
    ConvertSse2(src, src_stride_px, width, height, y, u, v);
  }
}

}  // namespace lcx
