// The still-screen shortcut with the real OpenH264 encoder, checked by
// OpenH264's decoder: skipped pictures show the previous picture exactly,
// the encoder's later frames still decode, key frames keep their cadence.
#include "video/frame_sequencer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <cmath>

#include "video/convert.h"
#include "video/h264_testing.h"
#include "video/requirements_testing.h"

namespace lcx {
namespace {

constexpr int kW = 320, kH = 240;

// A picture with some texture and a moving block, so frames differ.
std::vector<uint8_t> Picture(int frame) {
  std::vector<uint8_t> px(static_cast<size_t>(kW) * kH * 4);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * kW + x) * 4];
      const bool block = x >= 20 + frame * 8 && x < 60 + frame * 8 && y >= 40 && y < 90;
      p[0] = static_cast<uint8_t>(block ? 240 : (x * 3 + y) & 0xFF);
      p[1] = static_cast<uint8_t>(block ? 30 : (y * 2) & 0xFF);
      p[2] = static_cast<uint8_t>(block ? 20 : (x ^ y) & 0xFF);
      p[3] = 0;
    }
  }
  return px;
}

struct Stream {
  H264Encoder encoder;
  FrameSequencer sequence;
  SliceSyntax syntax;
  bool open = false;
  explicit Stream(int key_interval, int refresh_after = 0, int kbps = 500,
                  EncoderUsage usage = EncoderUsage::kScreen) {
    if (!encoder.Open(kW, kH, key_interval, kbps, usage)) return;
    std::vector<uint8_t> au, sps, pps;
    std::string profile;
    const auto first = Picture(0);
    if (!encoder.Encode(first.data(), kW, kH, au, true) || !ExtractParameterSets(au, sps, pps, profile)) return;
    std::string why;
    open = sequence.Start(key_interval, sps, pps, &why, refresh_after);
    EXPECT_TRUE(open) << why;
    if (open) syntax = *ParseSliceSyntax(sps, pps, &why);
  }
};

std::vector<uint8_t> FirstParameterSet(int type) {
  H264Encoder encoder;
  std::vector<uint8_t> au, sps, pps;
  std::string profile;
  const auto px = Picture(0);
  if (!encoder.Open(kW, kH, 10, 500) || !encoder.Encode(px.data(), kW, kH, au, true)) return {};
  ExtractParameterSets(au, sps, pps, profile);
  return type == 7 ? sps : pps;
}

TEST(SliceSyntax, ReadsTheEncodersParameterSetsAndRefusesWhatItCannotSkip) {
  const std::vector<uint8_t> sps = FirstParameterSet(7), pps = FirstParameterSet(8);
  if (sps.empty()) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
  std::string why;
  const auto s = ParseSliceSyntax(sps, pps, &why);
  ASSERT_TRUE(s) << why;
  EXPECT_EQ(s->macroblocks, 20u * 15u);
  EXPECT_EQ(s->pps_id, 0u);
  EXPECT_EQ(s->frame_num_bits, 15) << "OpenH264's log2_max_frame_num";
  EXPECT_EQ(s->poc_lsb_bits, 16);
  EXPECT_TRUE(s->deblocking_control);
  EXPECT_FALSE(s->bottom_field_poc);

  // The PPS's second byte holds (after pps_id and sps_id, each "1")
  // entropy_coding_mode_flag at 0x20 and weighted_pred_flag at 0x01.
  struct Case {
    const char* name;
    size_t byte;
    uint8_t set;
    const char* reason;
  } cases[] = {
      {"CABAC (main profile encoders)", 1, 0x20, "CABAC"},
      {"weighted prediction", 1, 0x01, "weighted prediction"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> changed = pps;
    changed[c.byte] |= c.set;
    EXPECT_FALSE(ParseSliceSyntax(sps, changed, &why));
    EXPECT_EQ(why, c.reason);
  }
  EXPECT_FALSE(ParseSliceSyntax({sps.begin(), sps.begin() + 3}, pps, &why));
}

// Still periods between changes, decoded: every skipped picture is the
// previous picture to the bit, and the encoder's frames after a still
// period (picture order count rewritten) decode close to their source.
// Both usage types the producer opens.
TEST(FrameSequencer, SkippedPicturesRepeatThePreviousPictureAndTheStreamDecodes) {
  for (const EncoderUsage usage : {EncoderUsage::kScreen, EncoderUsage::kCamera}) {
    SCOPED_TRACE(usage == EncoderUsage::kScreen ? "screen usage" : "camera usage");
    Stream s(10, 0, 500, usage);
    if (!s.open) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
    testing_h264::TestDecoder decoder;
    ASSERT_TRUE(decoder.ok());
    // Per frame period, changed or still: changes, short still periods, then
    // one across two key-frame slots (10: encoded afresh, as the encoder ran
    // since the IDR at 0; 20: the IDR of 10 again), then a change.
    const std::string plan = "CCsssC" + std::string(15, 's') + "Cs";
    std::vector<uint8_t> last_luma;
    int picture = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i) + " " + plan[i]);
      const bool changed = plan[i] == 'C';
      if (changed) ++picture;
      const auto px = Picture(picture);
      std::vector<uint8_t> au, luma;
      const uint64_t encoded_before = s.sequence.encoded();
      ASSERT_TRUE(s.sequence.Next(s.encoder, px.data(), kW, kH, changed, i == 0, au));
      const bool encoded = s.sequence.encoded() > encoded_before;
      EXPECT_EQ(encoded, changed || i == 10);
      ASSERT_FALSE(au.empty());
      EXPECT_EQ(HasNalType(au.data(), au.size(), 5), i % 10 == 0) << "one IDR per ten frames, as the encoder does";
      if (!encoded && i % 10 != 0) {
        EXPECT_LT(au.size(), 32u) << "a skipped picture";
      }
      std::optional<SliceNumbers> n;
      ForEachNalUnit(au.data(), au.size(), [&](NalUnit nal) {
        if (!n) n = ParseSliceNumbers(nal.data, nal.size, s.syntax);
      });
      ASSERT_TRUE(n);
      EXPECT_EQ(n->poc_lsb, 2 * (i % 10)) << "picture order as if every frame had been encoded";
      EXPECT_EQ(n->nal_ref_idc != 0, encoded || i % 10 == 0) << "only skipped pictures are not references";
      ASSERT_TRUE(decoder.Decode(au, luma));
      ASSERT_EQ(luma.size(), static_cast<size_t>(kW) * kH);
      if (!encoded) {
        EXPECT_EQ(luma, last_luma) << "the previous picture, exactly";
      } else {
        // Y of the source: close, as lossy coding goes.
        long error = 0;
        for (int k = 0; k < kW * kH; ++k) {
          const uint8_t* p = &px[static_cast<size_t>(k) * 4];
          const int y = (66 * p[2] + 129 * p[1] + 25 * p[0] + 128) / 256 + 16;
          error += std::abs(y - luma[static_cast<size_t>(k)]);
        }
        EXPECT_LT(error / (kW * kH), 6) << "mean luma error";
      }
      last_luma = luma;
    }
    EXPECT_EQ(s.sequence.encoded(), 5u);
  }
}

// The kept IDR is sent again only while it still shows the picture: after an
// encode the next key slot encodes afresh, and two IDRs in a row (key
// interval 1) are always both encoded, their idr_pic_id differing.
TEST(FrameSequencer, KeptKeyFrameIsReusedOnlyWhileItShowsThePicture) {
  {
    Stream s(3);
    if (!s.open) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
    const auto px = Picture(1);
    std::vector<std::vector<uint8_t>> aus;
    for (bool changed : {true, false, false, false, true, false, false, false}) {
      std::vector<uint8_t> au;
      ASSERT_TRUE(s.sequence.Next(s.encoder, px.data(), kW, kH, changed, aus.empty(), au));
      aus.push_back(au);
    }
    EXPECT_EQ(aus[3], aus[0]) << "still since the IDR: the same IDR again";
    ASSERT_TRUE(HasNalType(aus[6].data(), aus[6].size(), 5));
    EXPECT_NE(aus[6], aus[0]) << "the encoder ran at 4: the key slot at 6 is encoded afresh";
    EXPECT_EQ(s.sequence.encoded(), 3u);
  }
  {
    Stream s(1);
    ASSERT_TRUE(s.open);
    const auto px = Picture(1);
    for (int i = 0; i < 3; ++i) {
      std::vector<uint8_t> au;
      ASSERT_TRUE(s.sequence.Next(s.encoder, px.data(), kW, kH, i == 0, false, au));
      EXPECT_TRUE(HasNalType(au.data(), au.size(), 5));
    }
    EXPECT_EQ(s.sequence.encoded(), 3u) << "IDR after IDR is never the same one";
  }
}

// A screen that comes to rest after motion gets one sharp IDR after
// refresh_after still frames, then skipped pictures of it (the key slots
// repeat that same IDR); new motion and rest earn one more.
TEST(FrameSequencer, RestingScreenGetsOneSharpPictureThenOnlySkippedOnes) {
  // The bits per pixel of 1080p at 2 Mbit/s and 10 fps: moving pictures
  // are coded coarsely.
  Stream s(10, 10, 75);
  if (!s.open) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
  testing_h264::TestDecoder decoder;
  ASSERT_TRUE(decoder.ok());
  // The luma the encoder was given, to tell coding loss from conversion.
  const auto still_px = Picture(5);
  std::vector<uint8_t> source(static_cast<size_t>(kW) * kH * 3 / 2);
  ConvertBgraToI420(still_px.data(), kW, kW, kH, source.data(), source.data() + kW * kH,
                    source.data() + kW * kH * 5 / 4);
  auto psnr = [&](const std::vector<uint8_t>& luma) {
    double sum = 0;
    for (int k = 0; k < kW * kH; ++k) {
      const double d = double(luma[static_cast<size_t>(k)]) - source[static_cast<size_t>(k)];
      sum += d * d;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * kW * kH / sum);
  };

  // Motion 0..5, rest 6..34 (the sharp picture at 15, ten still frames in),
  // motion at 35, rest again: the second sharp picture at 45.
  const std::string plan = "CCCCCC" + std::string(29, 's') + "C" + std::string(12, 's');
  std::vector<uint8_t> sharp, luma, before_rest;
  int picture = 0;
  for (size_t i = 0; i < plan.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const bool changed = plan[i] == 'C';
    if (changed && i > 0) ++picture;
    const auto px = Picture(i < 35 ? picture : 5);
    std::vector<uint8_t> au;
    const uint64_t encoded_before = s.sequence.encoded();
    ASSERT_TRUE(s.sequence.Next(s.encoder, px.data(), kW, kH, changed, i == 0, au));
    ASSERT_TRUE(decoder.Decode(au, luma));
    const bool encoded = s.sequence.encoded() > encoded_before;
    if (i == 5) before_rest = luma;
    if (i == 15) {
      ASSERT_TRUE(encoded);
      EXPECT_TRUE(HasNalType(au.data(), au.size(), 5)) << "the sharp picture is a key frame";
      EXPECT_GE(psnr(luma), 45.0);
      EXPECT_GT(psnr(luma), psnr(before_rest) + 3) << "sharper than the picture coded for the bit rate";
      sharp = au;
    } else if (i > 15 && i < 35) {
      EXPECT_FALSE(encoded) << "rest after the sharp picture costs no encode";
      if (i == 25) {
        EXPECT_EQ(au, sharp) << "the key slot repeats the sharp IDR";
      } else {
        EXPECT_LT(au.size(), 32u) << "a skipped picture";
      }
      EXPECT_GE(psnr(luma), 45.0);
    }
    if (i == 34) {
      EXPECT_EQ(s.sequence.refreshes(), 1u) << "one sharp picture per rest";
    }
    if (i == 45) {
      EXPECT_TRUE(encoded) << "the second rest's sharp picture";
    }
  }
  EXPECT_EQ(s.sequence.refreshes(), 2u);
}

}  // namespace
}  // namespace lcx
