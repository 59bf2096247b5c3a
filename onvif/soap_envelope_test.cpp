#include "onvif/soap_envelope.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/onvif_service.h"

namespace lcx {
namespace {

TEST(WrapSoapEnvelope, PrologueAndClose) {
  std::string envelope = WrapSoapEnvelope("<tds:GetSystemDateAndTimeResponse/>");
  EXPECT_EQ(envelope,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
            " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
            " xmlns:ter=\"http://www.onvif.org/ver10/error\" xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>"
            "<tds:GetSystemDateAndTimeResponse/></env:Body></env:Envelope>");
  EXPECT_EQ(WrapSoapEnvelope("").size(), 305u + 26u);
}

TEST(ReplaceAll, Cases) {
  struct Case {
    const char* text;
    const char* placeholder;
    const char* value;
    const char* expected;
  } cases[] = {
      {"a{X}b{X}c", "{X}", "1", "a1b1c"},
      {"{X}", "{X}", "{X}{X}", "{X}{X}"},  // never expands its own output
      {"{X}{X}", "{X}", "", ""},
      {"none", "{X}", "v", "none"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    ReplaceAll(text, c.placeholder, c.value);
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

TEST(SubstitutePlaceholders, OrderAndRawValues) {
  OnvifService s;
  s.ip = "192.168.0.9";
  s.onvif_port = 8000;
  s.rtsp_port = -1;
  s.stream_name = "a&b<c";
  s.sub_stream_name = "{STREAM}x";
  s.width = 640;
  s.height = 480;
  s.fps = 5;
  std::string text = "{IP}:{ONVIFPORT}:{RTSPPORT}/{STREAM}|{SUBSTREAM}|{W}x{H}@{FPS}";
  SubstitutePlaceholders(s, text);
  // The sub-stream goes first, so a name holding "{STREAM}" is expanded by
  // the later step; names are inserted unescaped.
  EXPECT_EQ(text, "192.168.0.9:8000:-1/a&b<c|a&b<cx|640x480@5");
}

}  // namespace
}  // namespace lcx
