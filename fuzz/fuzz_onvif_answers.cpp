// SOAP dispatch and snapshots on the ONVIF port, with authentication on and
// off: every request gets an HTTP answer, and with authentication on a
// request without credentials never reaches a protected operation or the
// encoder.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "onvif/event_service.h"
#include "onvif/onvif_answers.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"

namespace {

bool Has(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  if (size == 0) return 0;
  OnvifService service;
  service.ip = "10.1.2.3";
  service.stream_name = "screenlive";
  service.sub_stream_name = "screensub";
  service.substream_enabled = (data[0] & 2) != 0;
  service.sub_width = 640;
  service.sub_height = 360;
  service.user = "admin";
  service.password = "secret";
  service.auth_enabled = (data[0] & 1) != 0;
  service.digest_secret = "abcdef0123456789";
  // Kept across inputs like the program's, but a pull never waits.
  static EventService* events = [] {
    EventLimits limits;
    limits.max_wait_ms = 0;
    return new EventService(limits);
  }();
  service.events = events;
  OnvifAuthState auth;
  auth.clock.monotonic_s = [] { return int64_t{5000}; };
  auth.clock.unix_s = [] { return int64_t{1284623445}; };  // 2010-09-16T07:50:45Z

  const std::string_view request(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t blank = request.find("\r\n\r\n");
  const std::string_view body = blank == std::string_view::npos ? std::string_view() : request.substr(blank + 4);
  bool encoded = false;
  const SnapshotEncoder encode = [&](int width, int height, std::vector<uint8_t>& jpeg) {
    LCX_FUZZ_CHECK(width > 0 && height > 0);
    encoded = true;
    jpeg.assign({0xFF, 0xD8, 0xFF, 0xD9});
    return true;
  };
  const std::string answer = AnswerOnvifRequest(service, auth, request, body, encode);
  LCX_FUZZ_CHECK(answer.rfind("HTTP/1.1 ", 0) == 0);
  LCX_FUZZ_CHECK(Has(answer, "\r\n\r\n"));

  std::string lowered(request);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool no_credentials = !Has(lowered, "authorization") && !Has(body, "Password");
  if (service.auth_enabled && no_credentials) {
    LCX_FUZZ_CHECK(!encoded);
    if (IsProtectedOperation(body)) LCX_FUZZ_CHECK(answer.rfind("HTTP/1.1 200", 0) != 0);
  }
  return 0;
}
