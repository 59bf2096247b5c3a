#include <gtest/gtest.h>

#include "onvif/device_identity.h"
#include "security/digest.h"

namespace lcx {
namespace {

const std::string kId = "0123456789abcdef0123456789abcdef" "fedcba9876543210fedcba9876543210";

OnvifSettings Settings() {
  OnvifSettings s;
  s.address = "192.168.1.20";
  s.onvif_port = 8000;
  s.rtsp_port = 554;
  s.main_name = "screenlive";
  s.main_stream_width = 1920;
  s.main_stream_height = 1080;
  s.fps = 15;
  s.sub_name = "screensub";
  s.sub_width = 640;
  s.sub_height = 360;
  s.user = "admin";
  s.password = "pw";
  s.auth_required = true;
  s.device_name = "Lumicast";
  return s;
}

TEST(ConfigureOnvif, IdentityFromMachineId) {
  OnvifService a, b;
  ConfigureOnvifWithId(a, Settings(), kId, 1000);
  ConfigureOnvifWithId(b, Settings(), kId, 2000);
  EXPECT_EQ(a.endpoint_uuid, "urn:uuid:01234567-89ab-cdef-0123-456789abcdef");
  EXPECT_EQ(a.message_uuid, "urn:uuid:fedcba98-7654-3210-fedc-ba9876543210");
  EXPECT_EQ(a.serial_number, "LCX-0123456789ab");
  EXPECT_EQ(a.device_name, "Lumicast-0123");
  EXPECT_EQ(a.digest_secret.size(), 32u);
  // A restart keeps the identity and changes only the nonce secret.
  EXPECT_EQ(b.endpoint_uuid, a.endpoint_uuid);
  EXPECT_EQ(b.serial_number, a.serial_number);
  EXPECT_NE(b.digest_secret, a.digest_secret);
  // Without a random source the secret still changes per start.
  SetRandomSourceForTesting([](unsigned char*, size_t) { return false; });
  ConfigureOnvifWithId(b, Settings(), kId, 1000);
  SetRandomSourceForTesting(nullptr);
  EXPECT_EQ(b.digest_secret, Md5Hex("urn:uuid:01234567-89ab-cdef-0123-456789abcdef1000"));

  EXPECT_EQ(a.ip, "192.168.1.20");
  EXPECT_EQ(a.rtsp_port, 554);
  EXPECT_EQ(a.width, 1920);
  EXPECT_EQ(a.fps, 15);
  EXPECT_TRUE(a.auth_enabled);
  EXPECT_TRUE(a.substream_enabled);
}

TEST(ConfigureOnvif, SubstreamNeedsNameAndSize) {
  struct Case {
    const char* name;
    int w, h;
    bool expected;
  } cases[] = {{"screensub", 640, 360, true}, {"", 640, 360, false}, {"screensub", 0, 360, false},
               {"screensub", 640, 0, false}, {"screensub", 1, 1, true}};
  for (const Case& c : cases) {
    OnvifSettings s = Settings();
    s.sub_name = c.name;
    s.sub_width = c.w;
    s.sub_height = c.h;
    OnvifService service;
    ConfigureOnvifWithId(service, s, kId, 0);
    EXPECT_EQ(service.substream_enabled, c.expected) << c.name << " " << c.w << "x" << c.h;
  }
}

TEST(DeviceNameFromSetting, Sanitising) {
  struct Case {
    const char* setting;
    const char* expected;
  } cases[] = {
      {"Front Desk PC", "Front-Desk-PC"}, {"cam#1 (lobby)", "cam-1--lobby-"}, {"Lumicast", "Lumicast-0123"},
      {"", "Lumicast-0123"},              {"lumicast", "lumicast"},           {"a.b_c-D9", "a.b_c-D9"},
      {"caf\xc3\xa9", "caf--"},  // each byte of a multi-byte character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeviceNameFromSetting(c.setting, kId), c.expected) << c.setting;
  }
}

}  // namespace
}  // namespace lcx
