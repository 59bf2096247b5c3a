// The encoder with the real OpenH264 library, checked by ffmpeg, and the
// Annex-B helpers on hand-made byte streams.
#include "video/h264_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "core/log.h"
#include "platform/system.h"
#include "video/requirements_testing.h"

namespace lcx {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) { return std::vector<uint8_t>(v.begin(), v.end()); }

TEST(AnnexB, SplitTypesAndParameterSets) {
  const auto au = Bytes({0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1F, 0xAA, 0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80,
                         0, 0, 1, 0x65, 0x88, 0x84});
  auto nals = SplitAnnexB(au.data(), au.size());
  ASSERT_EQ(nals.size(), 3u);
  EXPECT_EQ(nals[0].data[0] & 0x1F, 7);
  EXPECT_EQ(nals[1].data[0] & 0x1F, 8);
  EXPECT_EQ(nals[2].data[0] & 0x1F, 5);
  EXPECT_EQ(nals[2].size, 3u);
  EXPECT_TRUE(HasNalType(au.data(), au.size(), 5));
  EXPECT_FALSE(HasNalType(au.data(), au.size(), 1));
  std::vector<uint8_t> sps, pps;
  std::string profile = "42C020";
  EXPECT_TRUE(ExtractParameterSets(au, sps, pps, profile));
  EXPECT_EQ(profile, "42C01F");
  EXPECT_EQ(sps, Bytes({0x67, 0x42, 0xC0, 0x1F, 0xAA}));
  EXPECT_EQ(pps, Bytes({0x68, 0xCE, 0x3C, 0x80}));

  // Zero bytes before a longer start code stay with the preceding unit.
  const auto padded = Bytes({0xAA, 0, 0, 0, 0, 1, 0xBB});
  const auto no_code = Bytes({0x67, 0x42, 0, 0, 2});
  nals = SplitAnnexB(padded.data(), padded.size());
  ASSERT_EQ(nals.size(), 1u) << "bytes before the first start code are ignored";
  EXPECT_EQ(nals[0].data[0], 0xBB);
  const auto lead = Bytes({0, 0, 1, 0xAA, 0, 0, 0, 0, 1, 0xBB});
  nals = SplitAnnexB(lead.data(), lead.size());
  ASSERT_EQ(nals.size(), 2u);
  EXPECT_EQ(std::vector<uint8_t>(nals[0].data, nals[0].data + nals[0].size), Bytes({0xAA, 0}));
  EXPECT_TRUE(SplitAnnexB(no_code.data(), no_code.size()).empty());
  std::vector<uint8_t> no_sps, no_pps;
  EXPECT_FALSE(ExtractParameterSets(no_code, no_sps, no_pps, profile));

  const auto short_sps = Bytes({0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0x1});
  profile = "42C020";
  EXPECT_TRUE(ExtractParameterSets(short_sps, sps, pps, profile));
  EXPECT_EQ(profile, "42C020") << "an SPS under 4 bytes leaves the profile text";
}

// A picture that changes from frame to frame, like a screen being used.
void Scene(std::vector<uint8_t>& px, int w, int h, int frame) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = static_cast<uint8_t>(x + frame * 7);
      p[1] = static_cast<uint8_t>(y * 2);
      p[2] = static_cast<uint8_t>((x ^ y) + frame);
      p[3] = 0;
    }
  }
}

std::string RunCommand(const std::string& cmd) {
  std::string out;
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
    if (pclose(f) != 0) out += "<exit status non-zero>";
  }
  return out;
}

TEST(H264Encoder, OpenRejectsTinySizes) {
  H264Encoder enc;
  EXPECT_FALSE(enc.Open(1, 1, 10, 2000));
  EXPECT_FALSE(enc.is_open());
  EXPECT_NE(ReadLog().find("H.264 encoder: picture size 1x1 is below 2x2\n"), std::string::npos);
  std::vector<uint8_t> out;
  std::vector<uint8_t> px(16, 0);
  EXPECT_FALSE(enc.Encode(px.data(), 2, 2, out, false));
}

TEST(H264Encoder, AccessUnitsDecodeInFfmpegAtTheEvenSize) {
  if (system("command -v ffprobe >/dev/null 2>&1") != 0) LCX_SKIP_OR_FAIL("no ffmpeg");
  struct Case {
    int w, h, enc_w, enc_h;
  } cases[] = {{1920, 1080, 1920, 1080}, {1366, 769, 1366, 768}, {640, 360, 640, 360}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    H264Encoder enc;
    if (!enc.Open(c.w, c.h, 10, 2000)) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
    EXPECT_EQ(enc.width(), c.enc_w);
    EXPECT_EQ(enc.height(), c.enc_h);
    std::vector<uint8_t> px(static_cast<size_t>(c.w) * c.h * 4), stream;
    int idr = 0;
    for (int frame = 0; frame < 25; ++frame) {
      Scene(px, c.w, c.h, frame);
      std::vector<uint8_t> au;
      ASSERT_TRUE(enc.Encode(px.data(), c.w, c.h, au, frame == 0));
      ASSERT_FALSE(au.empty()) << "frame skipping is off";
      if (HasNalType(au.data(), au.size(), 5)) ++idr;
      if (frame == 0) {
        std::vector<uint8_t> sps, pps;
        std::string profile;
        ASSERT_TRUE(ExtractParameterSets(au, sps, pps, profile)) << "first unit carries SPS and PPS";
        char expect[7];
        std::snprintf(expect, sizeof expect, "%02X%02X%02X", sps[1], sps[2], sps[3]);
        EXPECT_EQ(profile, expect);
      }
      stream.insert(stream.end(), au.begin(), au.end());
    }
    EXPECT_EQ(idr, 3) << "one IDR every fps frames: frames 0, 10, 20";
    const std::string path = TempDir() + "/lcx-enc-" + std::to_string(c.w) + ".h264";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), stream.size());
    EXPECT_EQ(RunCommand("ffmpeg -v error -xerror -f h264 -i " + path + " -f null - 2>&1"), "");
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams v -count_frames -show_entries "
                  "stream=width,height,nb_read_frames -of csv=p=0 -f h264 " + path),
              std::to_string(c.enc_w) + "," + std::to_string(c.enc_h) + ",25\n");
    RemoveFile(path);
  }
}

}  // namespace
}  // namespace lcx
