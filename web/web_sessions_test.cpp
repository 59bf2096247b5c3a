#include "web/web_sessions.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <stdlib.h>

#include <optional>
#include <vector>

#include "core/log.h"
#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/protect.h"

namespace lcx {
namespace {

std::optional<std::string> FixedKeySource() { return std::string("test machine|key"); }
std::optional<std::string> NoKeySource() { return std::nullopt; }

RequestHead Head(const std::string& text) {
  RequestHead head;
  ParseRequestHead(text, head);
  return head;
}

RequestHead CookieHead(const std::string& token) { return Head("GET / HTTP/1.1\r\nCookie: lcx_sess=" + token + "\r\n\r\n"); }

class Sessions : public ::testing::Test {
 protected:
  void SetUp() override { SetProtectionKeySourceForTesting(FixedKeySource); }
  TempHome home_{"lcx-sessions-home"};  // the user's protection key is made in here
  void TearDown() override { SetProtectionKeySourceForTesting(nullptr); }

  WebSessions Make() {
    return WebSessions([this] { return now_; }, [this] {
      char buf[40];
      snprintf(buf, sizeof buf, "%032x", ++token_counter_);
      return std::string(buf);
    });
  }
  uint64_t now_ = 1000000;
  unsigned token_counter_ = 0;
};

TEST(WebCredentials, CheckCredentials) {
  struct Case {
    const char* name;
    const char* admin_user;
    const char* admin_pass;
    const char* user;
    const char* pass;
    bool ok;
  } cases[] = {
      {"right pair", "admin", "s3cret", "admin", "s3cret", true},
      {"user differs only in case", "admin", "s3cret", "Admin", "s3cret", false},
      {"password a prefix", "admin", "s3cret", "admin", "s3cre", false},
      {"password longer", "admin", "s3cret", "admin", "s3cret!", false},
      {"empty password in force admits nobody", "admin", "", "admin", "", false},
      {"empty password given", "admin", "s3cret", "admin", "", false},
      {"empty user name in force matches an empty one", "", "pw", "", "pw", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckCredentials(c.admin_user, c.admin_pass, c.user, c.pass), c.ok);
  }
}

TEST_F(Sessions, EachPeerIsLockedAloneAndLongerEachTime) {
  WebSessions s = Make();
  const std::string attacker = "10.0.0.7", admin = "10.0.0.8";
  // 60 s, then doubling, never beyond 15 minutes.
  for (uint64_t lock_ms : {60000ull, 120000ull, 240000ull, 480000ull, 900000ull, 900000ull}) {
    SCOPED_TRACE(lock_ms);
    for (int i = 0; i < 7; ++i) s.RecordAttempt(attacker, false);
    EXPECT_FALSE(s.IsLockedOut(attacker));
    s.RecordAttempt(attacker, false);  // the eighth
    EXPECT_TRUE(s.IsLockedOut(attacker));
    EXPECT_FALSE(s.IsLockedOut(admin));
    now_ += lock_ms - 1;
    EXPECT_TRUE(s.IsLockedOut(attacker));
    now_ += 1;
    EXPECT_FALSE(s.IsLockedOut(attacker));
    now_ += 60000;  // past the global rate's minute
  }
  EXPECT_NE(ReadLog().find("Web: too many failed auth attempts from 10.0.0.7 -> locked 60s\n"), std::string::npos);
  EXPECT_NE(ReadLog().find("Web: too many failed auth attempts from 10.0.0.7 -> locked 900s\n"), std::string::npos);
  // A success clears the peer's record: the next lock is the first again.
  s.RecordAttempt(attacker, true);
  for (int i = 0; i < 8; ++i) s.RecordAttempt(attacker, false);
  now_ += kLoginLockMs;
  EXPECT_FALSE(s.IsLockedOut(attacker));
}

TEST_F(Sessions, SuccessBetweenFailuresClearsTheCount) {
  WebSessions s = Make();
  for (int i = 0; i < 7; ++i) s.RecordAttempt("10.0.0.7", false);
  s.RecordAttempt("10.0.0.7", true);
  for (int i = 0; i < 7; ++i) s.RecordAttempt("10.0.0.7", false);
  EXPECT_FALSE(s.IsLockedOut("10.0.0.7"));
}

TEST_F(Sessions, TheGlobalRateDelaysFailuresAndLocksNobody) {
  WebSessions s = Make();
  // Thirty peers fail once each within a minute: no delay yet.
  for (int i = 0; i < 30; ++i) EXPECT_EQ(s.RecordAttempt("10.1.0." + std::to_string(i), false), 0u);
  EXPECT_EQ(s.RecordAttempt("10.1.1.1", false), kFailureDelayMs);
  EXPECT_FALSE(s.IsLockedOut("10.1.1.1"));
  EXPECT_FALSE(s.IsLockedOut("10.9.9.9"));
  EXPECT_EQ(s.RecordAttempt("10.9.9.9", true), 0u);  // a success is never held back
  now_ += 60000;
  EXPECT_EQ(s.RecordAttempt("10.1.1.1", false), 0u);
}

TEST_F(Sessions, AtMost64AndTheOldestSignInGoesFirst) {
  WebSessions s = Make();
  const std::string first = s.CreateSession();
  std::vector<std::string> later;
  for (size_t i = 1; i < kMaxSessions; ++i) {
    now_ += 10;
    later.push_back(s.CreateSession());
  }
  // The first is the most recently used, yet the oldest sign-in.
  EXPECT_TRUE(s.CheckSession(CookieHead(first), true));
  EXPECT_EQ(s.SessionCount(), kMaxSessions);
  now_ += 10;
  const std::string newest = s.CreateSession();
  EXPECT_EQ(s.SessionCount(), kMaxSessions);
  EXPECT_FALSE(s.CheckSession(CookieHead(first), true));
  EXPECT_TRUE(s.CheckSession(CookieHead(later.front()), true));
  EXPECT_TRUE(s.CheckSession(CookieHead(newest), true));
}

TEST_F(Sessions, EndOtherSessionsKeepsOnlyTheRequestersOwn) {
  WebSessions s = Make();
  const std::string mine = s.CreateSession(), other = s.CreateSession(), third = s.CreateSession();
  s.EndOtherSessions(CookieHead(mine));
  EXPECT_TRUE(s.CheckSession(CookieHead(mine), true));
  EXPECT_FALSE(s.CheckSession(CookieHead(other), true));
  EXPECT_FALSE(s.CheckSession(CookieHead(third), true));
}

TEST_F(Sessions, IdleLimitAndTouch) {
  WebSessions s = Make();
  std::string token = s.CreateSession();
  ASSERT_EQ(token.size(), 32u);
  // Used every 299 s it stays alive indefinitely.
  for (int i = 0; i < 5; ++i) {
    now_ += 299000;
    EXPECT_TRUE(s.CheckSession(CookieHead(token), true));
  }
  // Only previews (no touch) for longer than the limit: dead, and removed.
  now_ += 200000;
  EXPECT_TRUE(s.CheckSession(CookieHead(token), false));
  now_ += kSessionIdleMs - 200000 + 1;
  EXPECT_FALSE(s.CheckSession(CookieHead(token), true));
  EXPECT_EQ(s.SessionCount(), 0u);
}

TEST_F(Sessions, ExactlyAtTheLimitStillLives) {
  WebSessions s = Make();
  std::string token = s.CreateSession();
  now_ += kSessionIdleMs;
  EXPECT_TRUE(s.CheckSession(CookieHead(token), true));
}

TEST_F(Sessions, UnknownBlankAndEndedTokens) {
  WebSessions s = Make();
  std::string token = s.CreateSession();
  EXPECT_FALSE(s.CheckSession(CookieHead("ffffffffffffffffffffffffffffffff"), true));
  EXPECT_FALSE(s.CheckSession(Head("GET / HTTP/1.1\r\nCookie: lcx_sess=   \r\n\r\n"), true));
  EXPECT_FALSE(s.CheckSession(CookieHead(token.substr(0, 31)), true));
  s.EndSession(CookieHead("unknown"));
  s.EndSession(Head("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(s.CheckSession(CookieHead(token), true));
  s.EndSession(CookieHead(token));
  EXPECT_FALSE(s.CheckSession(CookieHead(token), true));
}

TEST_F(Sessions, CreatingASessionPurgesExpiredOnes) {
  WebSessions s = Make();
  s.CreateSession();
  now_ += kSessionIdleMs + 1;
  s.CreateSession();
  EXPECT_EQ(s.SessionCount(), 1u);
}

TEST_F(Sessions, NoTokenWithoutRandomBytes) {
  WebSessions s([this] { return now_; }, [] { return std::string(); });
  EXPECT_EQ(s.CreateSession(), "");
  EXPECT_EQ(s.SessionCount(), 0u);
}

TEST_F(Sessions, SurviveARestartThroughTheProtectedFile) {
  TestDir dir("lcx-sessions");
  const std::string path = dir.Sub("sessions.dat");
  WebSessions before = Make();
  std::string a = before.CreateSession();
  now_ += 1000;
  std::string b = before.CreateSession();
  EXPECT_EQ(before.SessionText(), a + " 1000000\n" + b + " 1001000\n");
  ASSERT_TRUE(before.SaveSessions(path));
  std::string stored;
  ASSERT_TRUE(ReadWholeFile(path, stored));
  EXPECT_EQ(stored.rfind("enc:", 0), 0u);
  EXPECT_EQ(stored.find(a), std::string::npos);

  // The next process, 299.5 s after the first login: the first session is
  // still young enough, and both keep their stored ticks.
  now_ = 1000000 + 299500;
  WebSessions after = Make();
  after.LoadSessions(path);
  EXPECT_EQ(after.SessionText(), a + " 1000000\n" + b + " 1001000\n");
  now_ += 600;
  EXPECT_FALSE(after.CheckSession(CookieHead(a), true));
  EXPECT_TRUE(after.CheckSession(CookieHead(b), true));
  RemoveFile(path);
}

TEST_F(Sessions, FileFromAnotherMachineOrPlantedInClearIsIgnored) {
  TestDir dir("lcx-sessions");
  const std::string path = dir.Sub("sessions.dat");
  // Planted in clear by someone who can write the data folder.
  ASSERT_TRUE(WriteFileSynced(path, "0123456789abcdef0123456789abcdef 1000000\n"));
  WebSessions s = Make();
  s.LoadSessions(path);
  EXPECT_EQ(s.SessionCount(), 0u);

  std::optional<std::string> other = ProtectString("0123456789abcdef0123456789abcdef 1000000\n");
  ASSERT_TRUE(other);
  SetProtectionKeySourceForTesting([]() -> std::optional<std::string> { return std::string("other machine"); });
  ASSERT_TRUE(WriteFileSynced(path, *other));
  s.LoadSessions(path);
  EXPECT_EQ(s.SessionCount(), 0u);
  RemoveFile(path);
}

TEST_F(Sessions, LoadKeepsOnlyPlausibleTicks) {
  WebSessions s = Make();
  s.LoadSessionText(
      "aaaa 999000\n"              // one second old
      "bbbb 700000\n"              // 300 s old: at the limit, kept
      "cccc 699999\n"              // one millisecond too old
      "dddd 1000001\n"             // from the future (a reboot since)
      "eeee notanumber ffff 1\n");  // reading stops at the first bad pair
  EXPECT_EQ(s.SessionText(), "aaaa 999000\nbbbb 700000\n");
}

// The file is replaced through a temporary: a write that fails half way
// (a full disk under the temporary) leaves the previous sessions readable.
TEST_F(Sessions, FailedWriteKeepsThePreviousFile) {
  TestDir dir("lcx-sessions");
  const std::string path = dir.Sub("sessions.dat");
  WebSessions s = Make();
  std::string kept = s.CreateSession();
  ASSERT_TRUE(s.SaveSessions(path));
  EXPECT_FALSE(FileExists(path + ".tmp"));
  std::string before;
  ASSERT_TRUE(ReadWholeFile(path, before));

  s.CreateSession();
  {
    FileSizeLimit full(4);
    EXPECT_FALSE(s.SaveSessions(path));
  }
  std::string after;
  ASSERT_TRUE(ReadWholeFile(path, after));
  EXPECT_EQ(after, before);
  EXPECT_FALSE(FileExists(path + ".tmp"));
  WebSessions next = Make();
  next.LoadSessions(path);
  EXPECT_EQ(next.SessionText(), kept + " 1000000\n");
  RemoveFile(path);
}

TEST_F(Sessions, NotWrittenWhenItCannotBeProtected) {
  TestDir dir("lcx-sessions");
  const std::string path = dir.Sub("sessions.dat");
  WebSessions s = Make();
  s.CreateSession();
  SetProtectionKeySourceForTesting(NoKeySource);
  EXPECT_FALSE(s.SaveSessions(path));
  EXPECT_FALSE(FileExists(path));
}

}  // namespace
}  // namespace lcx
