// The ONVIF event service: pull-point subscriptions to the screen's motion
// (tns1:VideoSource/MotionAlarm and tns1:RuleEngine/CellMotionDetector/Motion),
// each with its queue of messages ("Initialized" with the state at its start
// or at a synchronization point, then "Changed"), bounded in number and
// length and ending at their termination time. A PullMessages waits for a
// message at most max_wait_ms, and only max_waiting_pulls at once, so the
// connection threads are never all held. One mutex guards every
// subscription (nothing else is taken under it, bar the log); waiting pulls
// sleep on its condition variable. Basic notification (the device posting
// to an address the caller names) is not offered.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "onvif/soap_envelope.h"

namespace lcx {

inline constexpr const char* kOnvifEventsNs = "http://www.onvif.org/ver10/events/wsdl";
inline constexpr const char* kWsNotificationNs = "http://docs.oasis-open.org/wsn/b-2";
// Path of a subscription's address; its number follows.
inline constexpr std::string_view kPullPointPath = "/onvif/events/pullpoint/";

struct EventLimits {
  size_t max_subscriptions = 16;
  int max_waiting_pulls = 6;           // of the 32 connection threads
  int64_t max_wait_ms = 5000;          // a pull asking longer is answered then
  int64_t default_termination_s = 60;  // when the caller names no time
  int64_t max_termination_s = 3600;
  size_t max_queue = 32;  // messages kept per subscription; the oldest go first
  int max_messages = 100;  // per PullMessages, whatever MessageLimit says
};

struct EventClock {
  std::function<int64_t()> monotonic_ms;  // expiry
  std::function<int64_t()> unix_ms;       // the times the answers carry
};
EventClock SystemEventClock();

// A duration ("PT1M", "P1DT2H", "PT0.5S") in milliseconds; nothing when it
// is not a non-negative one.
std::optional<int64_t> ParseXsdDurationMs(std::string_view text);
// "2026-12-11T14:20:05Z" (whole seconds, UTC).
std::string XsdDateTime(int64_t unix_ms);
// The topics a TopicExpression (alternatives joined by "|", any prefix,
// "//." or "*" as wildcards) selects: bit 0 MotionAlarm, bit 1 Motion.
unsigned TopicsOfExpression(std::string_view expression);

// The answers that need no subscription.
std::string EventServiceCapabilitiesXml(size_t max_pull_points);
std::string EventPropertiesAnswer();
// One wsnt:NotificationMessage of `topic` (0 or 1, as above).
std::string NotificationMessageXml(int topic, int64_t unix_ms, bool initialized, bool motion);

class EventService {
 public:
  // `on_watch` hears until when (monotonic ms, 0: none) a subscription
  // lasts, after every change, under the lock.
  explicit EventService(EventLimits limits = {}, EventClock clock = SystemEventClock(),
                        std::function<void(int64_t until_ms)> on_watch = nullptr);

  // The screen's motion changed: a "Changed" message to every subscription.
  void SetMotion(bool motion);
  // The answer to event operation `name` (the Body's first element), or
  // nothing when it is not one of ours. `target` is the request's path,
  // which names the subscription (else the body's To header does). A
  // PullMessages may block, within the limits.
  std::optional<OperationAnswer> Answer(std::string_view name, std::string_view body, std::string_view target);

  size_t subscriptions();
  int waiting_pulls();

 private:
  struct Message {
    int topic;
    int64_t unix_ms;
    bool initialized;
    bool motion;
  };
  struct Subscription {
    unsigned topics = 3;
    int64_t expires_ms = 0;  // monotonic
    std::deque<Message> queue;
  };
  // Each takes the lock.
  OperationAnswer Create(std::string_view body);
  OperationAnswer Pull(uint64_t id, std::string_view body);
  OperationAnswer Renew(uint64_t id, std::string_view body);
  OperationAnswer Unsubscribe(uint64_t id);
  OperationAnswer Synchronize(uint64_t id);
  // Under the lock.
  void DropExpired(int64_t now_ms);
  void Watch();
  void Queue(Subscription& subscription, bool initialized);
  std::string TerminationXml(const Subscription& subscription, std::string_view element_ns);
  std::optional<int64_t> TerminationFrom(std::string_view text, int64_t now_ms);

  EventLimits limits_;
  EventClock clock_;
  std::function<void(int64_t)> on_watch_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint64_t, Subscription> subscriptions_;
  uint64_t next_id_ = 1;
  int waiting_ = 0;
  bool motion_ = false;
};

// The process-wide instance the ONVIF connection threads use; it listens to
// the producer's motion board from its first use and tells it until when
// someone subscribes (MotionWatchedUntilMs).
EventService& GetEventService();

}  // namespace lcx
