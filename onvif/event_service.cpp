// The event service: subscriptions, their queues and the long-poll, under one mutex (see the header).
#include "onvif/event_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "core/log.h"
#include "onvif/onvif_auth.h"
#include "video/motion_detector.h"

namespace lcx {
namespace {

constexpr const char* kNamespaces =
    " xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\""
    " xmlns:wsa=\"http://www.w3.org/2005/08/addressing\" xmlns:wstop=\"http://docs.oasis-open.org/wsn/t-1\""
    " xmlns:tns1=\"http://www.onvif.org/ver10/topics\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"";
constexpr const char* kConcreteSet = "http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet";

struct Topic {
  const char* path;  // without prefixes
  const char* expression;
  const char* source;  // tt:Source items
  const char* source_description;
  const char* data_name;
};
constexpr Topic kTopics[] = {
    {"VideoSource/MotionAlarm", "tns1:VideoSource/MotionAlarm", "<tt:SimpleItem Name=\"Source\" Value=\"vsrc0\"/>",
     "<tt:SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/>", "State"},
    {"RuleEngine/CellMotionDetector/Motion", "tns1:RuleEngine/CellMotionDetector/Motion",
     "<tt:SimpleItem Name=\"VideoSourceConfigurationToken\" Value=\"vsrccfg0\"/>"
     "<tt:SimpleItem Name=\"Rule\" Value=\"ScreenMotion\"/>",
     "<tt:SimpleItemDescription Name=\"VideoSourceConfigurationToken\" Type=\"tt:ReferenceToken\"/>"
     "<tt:SimpleItemDescription Name=\"Rule\" Type=\"xs:string\"/>",
     "IsMotion"},
};

constexpr SoapFault kNoSubscriptionFault{true, "ter:InvalidArgVal", nullptr, "No such subscription"};
constexpr SoapFault kTooManySubscriptionsFault{false, "ter:Action", nullptr,
                                               "Too many subscriptions; try again when one has ended"};
constexpr SoapFault kTerminationFault{true, "ter:InvalidArgVal", nullptr, "Unacceptable termination time"};
constexpr SoapFault kFilterFault{true, "ter:InvalidArgVal", nullptr, "The filter selects no topic of this device"};
constexpr SoapFault kTimeoutFault{true, "ter:InvalidArgVal", nullptr, "Timeout is not a duration"};

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The subscription a request names: its path, or the address in its body
// (the To header clients copy from SubscriptionReference).
std::optional<uint64_t> SubscriptionId(std::string_view target, std::string_view body) {
  for (std::string_view text : {target, body}) {
    const size_t at = text.find(kPullPointPath);
    if (at == std::string_view::npos) continue;
    uint64_t id = 0;
    size_t i = at + kPullPointPath.size(), digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 18; ++i, ++digits)
      id = id * 10 + static_cast<uint64_t>(text[i] - '0');
    if (digits) return id;
  }
  return std::nullopt;
}

OperationAnswer Fault(const SoapFault& fault) { return {std::string(), fault}; }

}  // namespace

EventClock SystemEventClock() {
  return {[] {
            return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now().time_since_epoch())
                                            .count());
          },
          [] {
            return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
          }};
}

std::optional<int64_t> ParseXsdDurationMs(std::string_view text) {
  text = Trim(text);
  if (text.size() < 3 || text[0] != 'P') return std::nullopt;
  int64_t total = 0;
  bool in_time = false, any = false;
  size_t i = 1;
  while (i < text.size()) {
    if (text[i] == 'T') {
      if (in_time) return std::nullopt;
      in_time = true;
      ++i;
      continue;
    }
    int64_t whole = 0, fraction_ms = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      if (whole > 100'000'000) return std::nullopt;  // beyond any time-out worth keeping
      whole = whole * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
      int64_t scale = 100;
      for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        fraction_ms += (text[i] - '0') * scale;
        scale /= 10;
      }
    }
    if (!digits || i >= text.size()) return std::nullopt;
    const char unit = text[i++];
    int64_t unit_ms = 0;
    if (!in_time && unit == 'D') unit_ms = 86'400'000;
    else if (in_time && unit == 'H') unit_ms = 3'600'000;
    else if (in_time && unit == 'M') unit_ms = 60'000;
    else if (in_time && unit == 'S') unit_ms = 1000;
    else return std::nullopt;  // years and months have no fixed length
    if (fraction_ms && unit != 'S') return std::nullopt;
    total += whole * unit_ms + fraction_ms;
    any = true;
  }
  if (!any) return std::nullopt;
  return total;
}

std::string XsdDateTime(int64_t unix_ms) {
  const std::time_t seconds = static_cast<std::time_t>(unix_ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return buf;
}

unsigned TopicsOfExpression(std::string_view expression) {
  unsigned topics = 0;
  while (!expression.empty()) {
    const size_t bar = expression.find('|');
    std::string_view alternative = Trim(expression.substr(0, bar));
    expression = bar == std::string_view::npos ? std::string_view() : expression.substr(bar + 1);
    bool subtree = false;
    if (alternative.size() >= 3 && alternative.substr(alternative.size() - 3) == "//.") {
      alternative.remove_suffix(3);
      subtree = true;
    }
    while (!alternative.empty() && alternative.back() == '/') alternative.remove_suffix(1);
    if (alternative.empty()) continue;
    // Segments without their prefixes.
    std::vector<std::string_view> wanted;
    for (size_t start = 0; start <= alternative.size();) {
      size_t slash = alternative.find('/', start);
      std::string_view segment = alternative.substr(start, slash == std::string_view::npos ? slash : slash - start);
      if (size_t colon = segment.find(':'); colon != std::string_view::npos) segment = segment.substr(colon + 1);
      wanted.push_back(segment);
      if (slash == std::string_view::npos) break;
      start = slash + 1;
    }
    for (int t = 0; t < 2; ++t) {
      std::vector<std::string_view> path;
      std::string_view rest = kTopics[t].path;
      for (size_t slash; (slash = rest.find('/')) != std::string_view::npos; rest = rest.substr(slash + 1))
        path.push_back(rest.substr(0, slash));
      path.push_back(rest);
      // A concrete path names only its own topic; "//." also the ones below.
      if (wanted.size() > path.size() || (!subtree && wanted.size() != path.size())) continue;
      bool match = true;
      for (size_t i = 0; i < wanted.size() && match; ++i) match = wanted[i] == "*" || wanted[i] == path[i];
      if (match) topics |= 1u << t;
    }
  }
  return topics;
}

std::string EventServiceCapabilitiesXml(size_t max_pull_points) {
  return "<tev:Capabilities" + std::string(kNamespaces) +
         " WSSubscriptionPolicySupport=\"false\" WSPullPointSupport=\"true\""
         " WSPausableSubscriptionManagerInterfaceSupport=\"false\" MaxNotificationProducers=\"0\" MaxPullPoints=\"" +
         std::to_string(max_pull_points) + "\" PersistentNotificationStorage=\"false\"/>";
}

std::string EventPropertiesAnswer() {
  auto description = [](const Topic& t) {
    return std::string("<tt:MessageDescription IsProperty=\"true\"><tt:Source>") + t.source_description +
           "</tt:Source><tt:Data><tt:SimpleItemDescription Name=\"" + t.data_name +
           "\" Type=\"xs:boolean\"/></tt:Data></tt:MessageDescription>";
  };
  return "<tev:GetEventPropertiesResponse" + std::string(kNamespaces) +
         "><tev:TopicNamespaceLocation>http://www.onvif.org/onvif/ver10/topics/topicns.xml"
         "</tev:TopicNamespaceLocation><wsnt:FixedTopicSet>true</wsnt:FixedTopicSet><wstop:TopicSet>"
         "<tns1:VideoSource><MotionAlarm wstop:topic=\"true\">" + description(kTopics[0]) +
         "</MotionAlarm></tns1:VideoSource><tns1:RuleEngine><CellMotionDetector><Motion wstop:topic=\"true\">" +
         description(kTopics[1]) +
         "</Motion></CellMotionDetector></tns1:RuleEngine></wstop:TopicSet>"
         "<wsnt:TopicExpressionDialect>http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet"
         "</wsnt:TopicExpressionDialect><wsnt:TopicExpressionDialect>"
         "http://docs.oasis-open.org/wsn/t-1/TopicExpression/Concrete</wsnt:TopicExpressionDialect>"
         "<tev:MessageContentFilterDialect>http://www.onvif.org/ver10/tev/messageContentFilter/ItemFilter"
         "</tev:MessageContentFilterDialect><tev:MessageContentSchemaLocation>"
         "http://www.onvif.org/onvif/ver10/schema/onvif.xsd</tev:MessageContentSchemaLocation>"
         "</tev:GetEventPropertiesResponse>";
}

std::string NotificationMessageXml(int topic, int64_t unix_ms, bool initialized, bool motion) {
  const Topic& t = kTopics[topic];
  return std::string("<wsnt:NotificationMessage><wsnt:Topic Dialect=\"") + kConcreteSet + "\">" + t.expression +
         "</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"" + XsdDateTime(unix_ms) + "\" PropertyOperation=\"" +
         (initialized ? "Initialized" : "Changed") + "\"><tt:Source>" + t.source +
         "</tt:Source><tt:Data><tt:SimpleItem Name=\"" + t.data_name + "\" Value=\"" + (motion ? "true" : "false") +
         "\"/></tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>";
}

EventService::EventService(EventLimits limits, EventClock clock, std::function<void(int64_t)> on_watch)
    : limits_(limits), clock_(std::move(clock)), on_watch_(std::move(on_watch)) {}

void EventService::SetMotion(bool motion) {
  std::lock_guard lock(mutex_);
  if (motion == motion_) return;
  motion_ = motion;
  DropExpired(clock_.monotonic_ms());
  for (auto& [id, subscription] : subscriptions_) Queue(subscription, false);
  changed_.notify_all();
}

size_t EventService::subscriptions() {
  std::lock_guard lock(mutex_);
  DropExpired(clock_.monotonic_ms());
  return subscriptions_.size();
}

int EventService::waiting_pulls() {
  std::lock_guard lock(mutex_);
  return waiting_;
}

void EventService::DropExpired(int64_t now_ms) {
  const size_t before = subscriptions_.size();
  std::erase_if(subscriptions_, [&](const auto& entry) { return entry.second.expires_ms <= now_ms; });
  if (subscriptions_.size() != before) changed_.notify_all();
  Watch();
}

void EventService::Watch() {
  if (!on_watch_) return;
  int64_t until = 0;
  for (const auto& [id, subscription] : subscriptions_) until = std::max(until, subscription.expires_ms);
  on_watch_(until);
}

void EventService::Queue(Subscription& subscription, bool initialized) {
  const int64_t now = clock_.unix_ms();
  for (int topic = 0; topic < 2; ++topic) {
    if (!(subscription.topics & (1u << topic))) continue;
    if (subscription.queue.size() >= limits_.max_queue) subscription.queue.pop_front();
    subscription.queue.push_back({topic, now, initialized, motion_});
  }
}

std::string EventService::TerminationXml(const Subscription& subscription, std::string_view element_ns) {
  const int64_t now_unix = clock_.unix_ms();
  const int64_t end_unix = now_unix + (subscription.expires_ms - clock_.monotonic_ms());
  const std::string ns(element_ns);
  return "<" + ns + ":CurrentTime>" + XsdDateTime(now_unix) + "</" + ns + ":CurrentTime><" + ns +
         ":TerminationTime>" + XsdDateTime(end_unix) + "</" + ns + ":TerminationTime>";
}

// Relative ("PT60S") or absolute; empty is the default. The end is clamped
// to the longest time kept; one already past is refused.
std::optional<int64_t> EventService::TerminationFrom(std::string_view text, int64_t now_ms) {
  text = Trim(text);
  int64_t relative_ms = limits_.default_termination_s * 1000;
  if (!text.empty()) {
    if (text[0] == 'P') {
      std::optional<int64_t> duration = ParseXsdDurationMs(text);
      if (!duration) return std::nullopt;
      relative_ms = *duration;
    } else {
      std::optional<int64_t> at_s = ParseXsdDateTime(text);
      if (!at_s) return std::nullopt;
      relative_ms = *at_s * 1000 - clock_.unix_ms();
    }
  }
  if (relative_ms <= 0) return std::nullopt;
  return now_ms + std::min(relative_ms, limits_.max_termination_s * 1000);
}

OperationAnswer EventService::Create(std::string_view body) {
  unsigned topics = 3;
  if (body.find("TopicExpression") != std::string_view::npos) {
    topics = TopicsOfExpression(ExtractElementText(body, "TopicExpression"));
    if (!topics) return Fault(kFilterFault);
  }
  std::lock_guard lock(mutex_);
  const int64_t now = clock_.monotonic_ms();
  DropExpired(now);
  std::optional<int64_t> expires = TerminationFrom(ExtractElementText(body, "InitialTerminationTime"), now);
  if (!expires) return Fault(kTerminationFault);
  if (subscriptions_.size() >= limits_.max_subscriptions) {
    LogLine("ONVIF: CreatePullPointSubscription refused: %zu subscriptions\n", subscriptions_.size());
    return Fault(kTooManySubscriptionsFault);
  }
  const uint64_t id = next_id_++;
  Subscription& subscription = subscriptions_[id];
  subscription.topics = topics;
  subscription.expires_ms = *expires;
  Queue(subscription, true);
  Watch();
  return {"<tev:CreatePullPointSubscriptionResponse" + std::string(kNamespaces) +
              "><tev:SubscriptionReference><wsa:Address>http://{IP}:{ONVIFPORT}" + std::string(kPullPointPath) +
              std::to_string(id) + "</wsa:Address></tev:SubscriptionReference>" + TerminationXml(subscription, "wsnt") +
              "</tev:CreatePullPointSubscriptionResponse>",
          {}};
}

OperationAnswer EventService::Pull(uint64_t id, std::string_view body) {
  std::optional<int64_t> timeout_ms = ParseXsdDurationMs(ExtractElementText(body, "Timeout"));
  if (!timeout_ms) return Fault(kTimeoutFault);
  const std::string limit_text = ExtractElementText(body, "MessageLimit");
  int limit = limits_.max_messages;
  if (!limit_text.empty()) {
    long asked = std::strtol(limit_text.c_str(), nullptr, 10);
    limit = asked < 0 ? 0 : asked < limit ? static_cast<int>(asked) : limit;
  }
  std::unique_lock lock(mutex_);
  DropExpired(clock_.monotonic_ms());
  auto found = subscriptions_.find(id);
  if (found == subscriptions_.end()) return Fault(kNoSubscriptionFault);
  if (found->second.queue.empty() && limit > 0 && waiting_ < limits_.max_waiting_pulls) {
    ++waiting_;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::min(*timeout_ms, limits_.max_wait_ms));
    changed_.wait_until(lock, deadline, [&] {
      auto again = subscriptions_.find(id);
      return again == subscriptions_.end() || !again->second.queue.empty();
    });
    --waiting_;
    found = subscriptions_.find(id);
    if (found == subscriptions_.end()) return Fault(kNoSubscriptionFault);
  }
  Subscription& subscription = found->second;
  std::string messages;
  for (int n = 0; n < limit && !subscription.queue.empty(); ++n) {
    const Message& m = subscription.queue.front();
    messages += NotificationMessageXml(m.topic, m.unix_ms, m.initialized, m.motion);
    subscription.queue.pop_front();
  }
  return {"<tev:PullMessagesResponse" + std::string(kNamespaces) + ">" + TerminationXml(subscription, "tev") +
              messages + "</tev:PullMessagesResponse>",
          {}};
}

OperationAnswer EventService::Renew(uint64_t id, std::string_view body) {
  std::lock_guard lock(mutex_);
  const int64_t now = clock_.monotonic_ms();
  DropExpired(now);
  auto found = subscriptions_.find(id);
  if (found == subscriptions_.end()) return Fault(kNoSubscriptionFault);
  std::optional<int64_t> expires = TerminationFrom(ExtractElementText(body, "TerminationTime"), now);
  if (!expires) return Fault(kTerminationFault);
  found->second.expires_ms = *expires;
  Watch();
  // RenewResponse lists TerminationTime before CurrentTime.
  const int64_t now_unix = clock_.unix_ms();
  return {"<wsnt:RenewResponse" + std::string(kNamespaces) + "><wsnt:TerminationTime>" +
              XsdDateTime(now_unix + (*expires - now)) + "</wsnt:TerminationTime><wsnt:CurrentTime>" +
              XsdDateTime(now_unix) + "</wsnt:CurrentTime></wsnt:RenewResponse>",
          {}};
}

OperationAnswer EventService::Unsubscribe(uint64_t id) {
  std::lock_guard lock(mutex_);
  DropExpired(clock_.monotonic_ms());
  if (!subscriptions_.erase(id)) return Fault(kNoSubscriptionFault);
  Watch();
  changed_.notify_all();
  return {"<wsnt:UnsubscribeResponse" + std::string(kNamespaces) + "/>", {}};
}

OperationAnswer EventService::Synchronize(uint64_t id) {
  std::lock_guard lock(mutex_);
  DropExpired(clock_.monotonic_ms());
  auto found = subscriptions_.find(id);
  if (found == subscriptions_.end()) return Fault(kNoSubscriptionFault);
  Queue(found->second, true);
  changed_.notify_all();
  return {"<tev:SetSynchronizationPointResponse" + std::string(kNamespaces) + "/>", {}};
}

std::optional<OperationAnswer> EventService::Answer(std::string_view name, std::string_view body,
                                                    std::string_view target) {
  if (name == "GetServiceCapabilities") {
    return OperationAnswer{"<tev:GetServiceCapabilitiesResponse" + std::string(kNamespaces) + ">" +
                               EventServiceCapabilitiesXml(limits_.max_subscriptions) +
                               "</tev:GetServiceCapabilitiesResponse>",
                           {}};
  }
  if (name == "GetEventProperties") return OperationAnswer{EventPropertiesAnswer(), {}};
  if (name == "CreatePullPointSubscription") return Create(body);
  const bool per_subscription = name == "PullMessages" || name == "Renew" || name == "Unsubscribe" ||
                                name == "SetSynchronizationPoint";
  if (!per_subscription) return std::nullopt;
  std::optional<uint64_t> id = SubscriptionId(target, body);
  if (!id) return Fault(kNoSubscriptionFault);
  if (name == "PullMessages") return Pull(*id, body);
  if (name == "Renew") return Renew(*id, body);
  if (name == "Unsubscribe") return Unsubscribe(*id);
  return Synchronize(*id);
}

EventService& GetEventService() {
  // Never destroyed, like the ONVIF state object: the program ends with _Exit.
  static EventService* service = [] {
    auto* made = new EventService({}, SystemEventClock(), [](int64_t until_ms) { MotionWatchedUntilMs.store(until_ms); });
    SetMotionListener([made](bool motion) { made->SetMotion(motion); });
    made->SetMotion(CurrentMotion());
    return made;
  }();
  return *service;
}

}  // namespace lcx
