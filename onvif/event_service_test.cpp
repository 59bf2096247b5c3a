#include "onvif/event_service.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "onvif/onvif_operations.h"
#include "onvif/onvif_service.h"
#include "platform/system.h"

namespace lcx {
namespace {

TEST(ParseXsdDurationMs, Forms) {
  struct Case {
    const char* text;
    std::optional<int64_t> ms;
  } cases[] = {
      {"PT60S", 60000},   {"PT1M", 60000},      {" PT1H30M ", 5400000}, {"P1DT1S", 86401000},
      {"PT0.5S", 500},    {"PT0S", 0},          {"P2D", 172800000},     {"PT", std::nullopt},
      {"P", std::nullopt}, {"-PT5S", std::nullopt}, {"P1Y", std::nullopt}, {"PT5", std::nullopt},
      {"PT1.5M", std::nullopt}, {"60", std::nullopt}, {"", std::nullopt}, {"PT99999999999S", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseXsdDurationMs(c.text), c.ms);
  }
  EXPECT_EQ(XsdDateTime(1796998805123), "2026-12-11T14:20:05Z");
}

TEST(TopicsOfExpression, WhatAFilterSelects) {
  struct Case {
    const char* expression;
    unsigned topics;
  } cases[] = {
      {"tns1:VideoSource/MotionAlarm", 1},
      {"tns1:RuleEngine/CellMotionDetector/Motion", 2},
      {"tns1:VideoSource/MotionAlarm|tns1:RuleEngine/CellMotionDetector/Motion", 3},
      {" tns1:RuleEngine//. ", 2},
      {"tns1:RuleEngine/*/Motion", 2},
      {"x:VideoSource/x:MotionAlarm", 1},
      {"tns1:VideoSource", 0},  // a concrete path names only its own node
      {"tns1:VideoSource/ImageTooDark", 0},
      {"tns1:Device/Trigger/DigitalInput", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(TopicsOfExpression(c.expression), c.topics);
  }
}

struct FakeClock {
  int64_t monotonic_ms = 1'000'000;
  int64_t unix_ms = 1796998800000;  // 2026-12-11T14:20:00Z
  EventClock Clock() {
    return {[this] { return monotonic_ms; }, [this] { return unix_ms; }};
  }
  void Advance(int64_t ms) {
    monotonic_ms += ms;
    unix_ms += ms;
  }
};

constexpr const char* kCreate =
    "<tev:CreatePullPointSubscription><tev:InitialTerminationTime>PT60S</tev:InitialTerminationTime>"
    "</tev:CreatePullPointSubscription>";

std::string Pull(const char* limit = "10") {
  return std::string("<tev:PullMessages><tev:Timeout>PT0S</tev:Timeout><tev:MessageLimit>") + limit +
         "</tev:MessageLimit></tev:PullMessages>";
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The path of the subscription the answer to a create names.
std::string PathOf(const OperationAnswer& created) {
  const std::string& t = created.element;
  size_t at = t.find(kPullPointPath);
  return t.substr(at, t.find('<', at) - at);
}

TEST(EventService, SubscriptionLifeFromInitializedToUnsubscribe) {
  FakeClock clock;
  int64_t watched_until = -1;  // what the producer is told
  EventService events({}, clock.Clock(), [&](int64_t until) { watched_until = until; });
  OperationAnswer created = *events.Answer("CreatePullPointSubscription", kCreate, "");
  EXPECT_EQ(watched_until, clock.monotonic_ms + 60'000);
  ASSERT_FALSE(created.fault);
  EXPECT_NE(created.element.find("<wsa:Address>http://{IP}:{ONVIFPORT}/onvif/events/pullpoint/"), std::string::npos);
  EXPECT_NE(created.element.find("<wsnt:CurrentTime>2026-12-11T14:20:00Z</wsnt:CurrentTime>"
                                 "<wsnt:TerminationTime>2026-12-11T14:21:00Z</wsnt:TerminationTime>"),
            std::string::npos)
      << created.element;
  const std::string path = PathOf(created);

  // First the state at the start, both topics; then nothing until it changes.
  std::string first = events.Answer("PullMessages", Pull(), path)->element;
  EXPECT_EQ(Count(first, "PropertyOperation=\"Initialized\""), 2) << first;
  EXPECT_NE(first.find(NotificationMessageXml(0, clock.unix_ms, true, false)), std::string::npos);
  EXPECT_NE(first.find(NotificationMessageXml(1, clock.unix_ms, true, false)), std::string::npos);
  EXPECT_EQ(Count(events.Answer("PullMessages", Pull(), path)->element, "<wsnt:NotificationMessage>"), 0);

  clock.Advance(2000);
  events.SetMotion(true);
  events.SetMotion(true);  // no change, no message
  // MessageLimit is honoured; the rest waits for the next pull.
  std::string one = events.Answer("PullMessages", Pull("1"), path)->element;
  EXPECT_EQ(one.find("<wsnt:NotificationMessage>"), one.rfind("<wsnt:NotificationMessage>"));
  EXPECT_NE(one.find(NotificationMessageXml(0, clock.unix_ms, false, true)), std::string::npos) << one;
  std::string two = events.Answer("PullMessages", Pull(), path)->element;
  EXPECT_NE(two.find(NotificationMessageXml(1, clock.unix_ms, false, true)), std::string::npos) << two;

  // A synchronization point repeats the current state as Initialized.
  EXPECT_FALSE(events.Answer("SetSynchronizationPoint", "", path)->fault);
  std::string sync = events.Answer("PullMessages", Pull(), path)->element;
  EXPECT_NE(sync.find(NotificationMessageXml(0, clock.unix_ms, true, true)), std::string::npos) << sync;

  // The address may also come in the body (the To header), not the path.
  const std::string to = "<wsa:To>http://10.0.0.5:8000" + path + "</wsa:To>";
  OperationAnswer renewed =
      *events.Answer("Renew", to + "<wsnt:Renew><wsnt:TerminationTime>PT120S</wsnt:TerminationTime></wsnt:Renew>", "");
  ASSERT_FALSE(renewed.fault);
  EXPECT_EQ(watched_until, clock.monotonic_ms + 120'000);
  EXPECT_NE(renewed.element.find("<wsnt:TerminationTime>2026-12-11T14:22:02Z</wsnt:TerminationTime>"
                                 "<wsnt:CurrentTime>2026-12-11T14:20:02Z</wsnt:CurrentTime>"),
            std::string::npos)
      << renewed.element;
  EXPECT_EQ(events.subscriptions(), 1u);
  EXPECT_FALSE(events.Answer("Unsubscribe", "", path)->fault);
  EXPECT_EQ(events.subscriptions(), 0u);
  EXPECT_EQ(watched_until, 0) << "nobody subscribes: the producer may idle";
  for (const char* call : {"PullMessages", "Renew", "Unsubscribe", "SetSynchronizationPoint"}) {
    SCOPED_TRACE(call);
    EXPECT_TRUE(events.Answer(call, Pull(), path)->fault) << "the subscription is gone";
    EXPECT_TRUE(events.Answer(call, Pull(), "/onvif/event_service")->fault) << "no subscription named";
  }
  EXPECT_FALSE(events.Answer("Subscribe", "", "")) << "basic notification is not offered";
}

TEST(EventService, FiltersTerminationTimesAndBounds) {
  FakeClock clock;
  EventLimits limits;
  limits.max_subscriptions = 2;
  limits.max_termination_s = 600;
  EventService events(limits, clock.Clock());
  auto create = [&](const std::string& inner) {
    return *events.Answer("CreatePullPointSubscription",
                          "<tev:CreatePullPointSubscription>" + inner + "</tev:CreatePullPointSubscription>", "");
  };
  // Only the topic the filter selects.
  OperationAnswer filtered = create(
      "<tev:Filter><wsnt:TopicExpression Dialect=\"http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet\">"
      "tns1:RuleEngine/CellMotionDetector/Motion</wsnt:TopicExpression></tev:Filter>");
  ASSERT_FALSE(filtered.fault);
  std::string pulled = events.Answer("PullMessages", Pull(), PathOf(filtered))->element;
  EXPECT_EQ(Count(pulled, "<wsnt:NotificationMessage>"), 1);
  EXPECT_NE(pulled.find("tns1:RuleEngine/CellMotionDetector/Motion</wsnt:Topic>"), std::string::npos);
  EXPECT_NE(pulled.find("<tev:TerminationTime>2026-12-11T14:21:00Z"), std::string::npos) << "the default minute";

  EXPECT_TRUE(create("<tev:Filter><wsnt:TopicExpression Dialect=\"x\">tns1:Device/HardwareFailure"
                     "</wsnt:TopicExpression></tev:Filter>")
                  .fault)
      << "a filter that selects nothing";
  for (const char* bad : {"PT0S", "2020-01-01T00:00:00Z", "soon"}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(create(std::string("<tev:InitialTerminationTime>") + bad + "</tev:InitialTerminationTime>").fault);
  }
  // An absolute time within reach; a far one is cut to the longest kept.
  OperationAnswer absolute =
      create("<tev:InitialTerminationTime>2026-12-11T14:25:00Z</tev:InitialTerminationTime>");
  EXPECT_NE(absolute.element.find("<wsnt:TerminationTime>2026-12-11T14:25:00Z"), std::string::npos);
  EXPECT_TRUE(create("").fault) << "two subscriptions at most";

  // Both end at their time: room again, and the ended ones are gone.
  clock.Advance(61'000);
  EXPECT_TRUE(events.Answer("PullMessages", Pull(), PathOf(filtered))->fault);
  OperationAnswer far = create("<tev:InitialTerminationTime>PT10H</tev:InitialTerminationTime>");
  EXPECT_NE(far.element.find("<wsnt:TerminationTime>2026-12-11T14:31:01Z"), std::string::npos) << far.element;
  clock.Advance(240'000);
  EXPECT_EQ(events.subscriptions(), 1u);
  EXPECT_FALSE(events.Answer("PullMessages", Pull(), PathOf(far))->fault);
}

// A pull waits for a message, but never longer than the cap and only a few
// at a time: the others are answered at once, so connection threads stay free.
TEST(EventService, LongPollIsBounded) {
  EventLimits limits;
  limits.max_waiting_pulls = 1;
  limits.max_wait_ms = 60'000;
  EventService events(limits);
  const std::string path = PathOf(*events.Answer("CreatePullPointSubscription", kCreate, ""));
  events.Answer("PullMessages", Pull(), path);  // the Initialized ones

  const std::string wait_long =
      "<tev:PullMessages><tev:Timeout>PT50S</tev:Timeout><tev:MessageLimit>10</tev:MessageLimit></tev:PullMessages>";
  std::string waited;
  std::thread puller([&] { waited = events.Answer("PullMessages", wait_long, path)->element; });
  for (const uint64_t until = BootTickMs() + 20000; events.waiting_pulls() < 1 && BootTickMs() < until;) SleepMs(5);
  ASSERT_EQ(events.waiting_pulls(), 1);
  // A second pull finds no place to wait: answered empty, at once.
  std::string second = events.Answer("PullMessages", wait_long, path)->element;
  EXPECT_EQ(Count(second, "<wsnt:NotificationMessage>"), 0);
  EXPECT_EQ(events.waiting_pulls(), 1);
  events.SetMotion(true);
  puller.join();
  EXPECT_EQ(Count(waited, "PropertyOperation=\"Changed\""), 2) << waited;

  EventLimits capped;
  capped.max_wait_ms = 20;
  EventService short_wait(capped);
  const std::string other = PathOf(*short_wait.Answer("CreatePullPointSubscription", kCreate, ""));
  short_wait.Answer("PullMessages", Pull(), other);
  std::string empty = short_wait.Answer("PullMessages", wait_long, other)->element;
  EXPECT_EQ(Count(empty, "<wsnt:NotificationMessage>"), 0) << "answered at the cap, not after 50 s";
  // Unsubscribing wakes a waiting pull of that subscription.
  EventService ending(limits);
  const std::string gone = PathOf(*ending.Answer("CreatePullPointSubscription", kCreate, ""));
  ending.Answer("PullMessages", Pull(), gone);
  std::optional<OperationAnswer> woken;
  std::thread waiter([&] { woken = ending.Answer("PullMessages", wait_long, gone); });
  for (const uint64_t until = BootTickMs() + 20000; ending.waiting_pulls() < 1 && BootTickMs() < until;) SleepMs(5);
  ending.Answer("Unsubscribe", "", gone);
  waiter.join();
  EXPECT_TRUE(woken->fault);
}

// Through the operation dispatch, as a client sends it: the event namespace
// picks the event service, the request path the subscription.
TEST(EventService, DispatchedByNamespace) {
  OnvifService service;
  auto request = [](const std::string& header, const std::string& body) {
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header>" + header +
           "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
  };
  SoapAnswer created = AnswerOnvifOperation(
      service, request("", "<CreatePullPointSubscription xmlns=\"http://www.onvif.org/ver10/events/wsdl\">"
                           "<InitialTerminationTime>PT60S</InitialTerminationTime></CreatePullPointSubscription>"));
  ASSERT_EQ(created.status, "200 OK") << created.envelope;
  size_t at = created.envelope.find(kPullPointPath);
  ASSERT_NE(at, std::string::npos);
  const std::string path = created.envelope.substr(at, created.envelope.find('<', at) - at);
  SoapAnswer pulled = AnswerOnvifOperation(
      service, request("", "<PullMessages xmlns=\"http://www.onvif.org/ver10/events/wsdl\"><Timeout>PT0S</Timeout>"
                           "<MessageLimit>5</MessageLimit></PullMessages>"),
      path);
  EXPECT_EQ(Count(pulled.envelope, "PropertyOperation=\"Initialized\""), 2) << pulled.envelope;
  SoapAnswer gone = AnswerOnvifOperation(
      service, request("", "<Unsubscribe xmlns=\"http://docs.oasis-open.org/wsn/b-2\"/>"), path);
  EXPECT_NE(gone.envelope.find("<wsnt:UnsubscribeResponse"), std::string::npos) << gone.envelope;
  SoapAnswer properties = AnswerOnvifOperation(
      service, request("", "<GetEventProperties xmlns=\"http://www.onvif.org/ver10/events/wsdl\"/>"));
  EXPECT_NE(properties.envelope.find("<MotionAlarm wstop:topic=\"true\">"), std::string::npos);
  EXPECT_NE(properties.envelope.find("<Motion wstop:topic=\"true\">"), std::string::npos);
  // Advertised where recorders look for it.
  const std::string capabilities = DispatchOnvifOperation(service, "GetCapabilities");
  EXPECT_NE(capabilities.find("</tt:Device><tt:Events><tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/event_service</tt:XAddr>"),
            std::string::npos);
  EXPECT_NE(capabilities.find("<tt:WSPullPointSupport>true</tt:WSPullPointSupport>"), std::string::npos);
  EXPECT_NE(DispatchOnvifOperation(service, "GetServices").find(
                "<tds:Namespace>http://www.onvif.org/ver10/events/wsdl</tds:Namespace>"),
            std::string::npos);
}

}  // namespace
}  // namespace lcx
