// The event service's parsers and subscriptions: any body for any of its
// calls gets an event answer or a fault, the subscriptions stay within their
// bound, and the duration and topic parsers stay within their ranges.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "onvif/event_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  if (size == 0) return 0;
  static int64_t now_ms = 1'000'000;
  static EventService* events = [] {
    EventLimits limits;
    limits.max_wait_ms = 0;  // a pull never waits here
    limits.max_subscriptions = 4;
    return new EventService(limits, EventClock{[] { return now_ms; }, [] { return 1796998800000 + now_ms; }});
  }();
  static constexpr const char* kCalls[] = {"CreatePullPointSubscription", "PullMessages", "Renew", "Unsubscribe",
                                           "SetSynchronizationPoint", "GetEventProperties", "GetServiceCapabilities",
                                           "Subscribe"};
  now_ms += data[0] & 0x3F;  // time passes, so subscriptions end now and then
  if (data[0] & 0x40) events->SetMotion((data[0] & 0x80) != 0);
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* call = kCalls[(size + data[0]) % (sizeof kCalls / sizeof kCalls[0])];
  // The target is the body's first line, as the request path would be.
  const std::string_view target = body.substr(0, body.find('\n'));
  std::optional<OperationAnswer> answer = events->Answer(call, body, target);
  if (std::string_view(call) == "Subscribe") {
    LCX_FUZZ_CHECK(!answer);
  } else {
    LCX_FUZZ_CHECK(answer.has_value());
    LCX_FUZZ_CHECK(answer->fault || answer->element.rfind("<tev:", 0) == 0 || answer->element.rfind("<wsnt:", 0) == 0);
  }
  LCX_FUZZ_CHECK(events->subscriptions() <= 4);
  LCX_FUZZ_CHECK(events->waiting_pulls() == 0);
  if (std::optional<int64_t> ms = ParseXsdDurationMs(body)) LCX_FUZZ_CHECK(*ms >= 0);
  LCX_FUZZ_CHECK(TopicsOfExpression(body) <= 3);
  return 0;
}
