// The capture choice from the session, the rectangle arithmetic of damage,
// and the copy of a PipeWire buffer's changed area into the kept picture.
#include "video/capture_source.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "video/pipewire_stream.h"

namespace lcx {
namespace {

TEST(CaptureChoice, FollowsTheSessionUnlessTheSettingForcesAKind) {
  struct Case {
    const char* setting;
    const char* wayland_display;
    const char* session_type;
    CaptureKind want;
  } cases[] = {
      {"auto", nullptr, nullptr, CaptureKind::kX11},           // no session facts: X11 as always
      {"auto", "", "x11", CaptureKind::kX11},                  // an empty WAYLAND_DISPLAY is no compositor
      {"auto", "wayland-0", nullptr, CaptureKind::kPortal},    // sway, or GNOME with Xwayland's DISPLAY set too
      {"auto", nullptr, "wayland", CaptureKind::kPortal},      // the user service before the compositor's socket
      {"", nullptr, "tty", CaptureKind::kX11},
      {"x11", "wayland-0", "wayland", CaptureKind::kX11},      // Xwayland on purpose
      {"portal", nullptr, "x11", CaptureKind::kPortal},        // a portal on an X11 desktop
      {"PORTAL", "wayland-0", nullptr, CaptureKind::kPortal},  // an unknown word is "auto"
      {"nonsense", nullptr, nullptr, CaptureKind::kX11},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseCaptureKind(c.setting, c.wayland_display, c.session_type), c.want)
        << c.setting << " " << (c.wayland_display ? c.wayland_display : "-") << " "
        << (c.session_type ? c.session_type : "-");
  }
}

TEST(PictureAreas, UniteAndClipKeepInsideThePicture) {
  EXPECT_TRUE(UniteAreas({}, {}).empty());
  const PictureArea a{10, 20, 5, 5}, b{100, 2, 10, 1};
  const PictureArea u = UniteAreas(a, b);
  EXPECT_EQ(u.x, 10);
  EXPECT_EQ(u.y, 2);
  EXPECT_EQ(u.width, 100);
  EXPECT_EQ(u.height, 23);
  const PictureArea e = UniteAreas({}, a);
  EXPECT_EQ(e.x, 10);
  EXPECT_EQ(e.width, 5);

  struct Case {
    PictureArea in;
    PictureArea want;
  } cases[] = {
      {{-5, -5, 10, 10}, {0, 0, 5, 5}},
      {{630, 470, 100, 100}, {630, 470, 10, 10}},
      {{700, 0, 10, 10}, {}},                           // wholly outside
      {{INT_MAX - 1, 0, INT_MAX, 10}, {}},              // a compositor's nonsense must not overflow
      {{0, 0, INT_MAX, INT_MAX}, {0, 0, 640, 480}},
      {{5, 5, 0, 10}, {}},
  };
  for (const Case& c : cases) {
    const PictureArea got = ClipArea(c.in, 640, 480);
    EXPECT_EQ(got.empty(), c.want.empty()) << c.in.x << "," << c.in.y;
    if (!c.want.empty()) {
      EXPECT_EQ(got.x, c.want.x);
      EXPECT_EQ(got.y, c.want.y);
      EXPECT_EQ(got.width, c.want.width);
      EXPECT_EQ(got.height, c.want.height);
    }
  }
}

// A 4x3 source with 8 bytes of padding a row, as PipeWire strides may have.
struct Source {
  static constexpr int kWidth = 4, kHeight = 3, kStride = kWidth * 4 + 8;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kStride * kHeight, 0xEE);
  void Set(int x, int y, uint8_t b0, uint8_t b1, uint8_t b2) {
    uint8_t* p = &bytes[y * kStride + x * 4];
    p[0] = b0, p[1] = b1, p[2] = b2, p[3] = 0xFF;
  }
};

TEST(CopyArea, CopiesOnlyTheAreaAndSwapsRedAndBlueForRgb) {
  Source src;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) src.Set(x, y, 10 * x, 20 * y, 200);
  std::vector<uint8_t> dst(4 * 3 * 4, 0);
  const PictureArea area{1, 1, 2, 2};
  const PictureArea got = CopyArea(src.bytes.data(), Source::kStride, StreamPixels::kBgrx, area, 4, dst.data(), false);
  EXPECT_EQ(got.width, 2);
  EXPECT_EQ(dst[(1 * 4 + 1) * 4 + 0], 10);  // inside
  EXPECT_EQ(dst[(1 * 4 + 1) * 4 + 1], 20);
  EXPECT_EQ(dst[(0 * 4 + 1) * 4 + 0], 0);   // the row above: untouched
  EXPECT_EQ(dst[(1 * 4 + 3) * 4 + 0], 0);   // right of the area: untouched

  std::vector<uint8_t> rgb(4 * 3 * 4, 0);
  CopyArea(src.bytes.data(), Source::kStride, StreamPixels::kRgbx, {0, 0, 4, 3}, 4, rgb.data(), false);
  const uint8_t* p = &rgb[(2 * 4 + 3) * 4];
  EXPECT_EQ(p[0], 200);  // the source's third byte (its blue) is our first
  EXPECT_EQ(p[1], 40);
  EXPECT_EQ(p[2], 30);
}

TEST(CopyArea, ComparingReportsOnlyTheRowsThatDiffered) {
  Source src;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) src.Set(x, y, 1, 2, 3);
  for (StreamPixels layout : {StreamPixels::kBgrx, StreamPixels::kRgbx}) {
    std::vector<uint8_t> dst(4 * 3 * 4, 0);
    const PictureArea whole{0, 0, 4, 3};
    EXPECT_EQ(CopyArea(src.bytes.data(), Source::kStride, layout, whole, 4, dst.data(), true).height, 3);
    EXPECT_TRUE(CopyArea(src.bytes.data(), Source::kStride, layout, whole, 4, dst.data(), true).empty())
        << "the same buffer again is no change";
    src.Set(2, 1, 9, 9, 9);
    const PictureArea row = CopyArea(src.bytes.data(), Source::kStride, layout, whole, 4, dst.data(), true);
    EXPECT_EQ(row.y, 1);
    EXPECT_EQ(row.height, 1);
    EXPECT_EQ(dst[(1 * 4 + 2) * 4], 9);
    src.Set(2, 1, 1, 2, 3);
  }
}

}  // namespace
}  // namespace lcx
