#include "web/web_sessions.h"

#include <optional>
#include <sstream>

#include "core/log.h"
#include "platform/system.h"
#include "security/http_auth.h"
#include "security/protect.h"

namespace lcx {

bool CheckCredentials(std::string_view admin_user, std::string_view admin_password,
                      std::string_view user, std::string_view password) {
  return CheckUserPassword(user, password, admin_user, admin_password);
}

WebSessions::WebSessions(Clock clock, TokenSource tokens)
    : clock_(std::move(clock)), tokens_(std::move(tokens)) {}

bool WebSessions::IsLockedOut() {
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  return now < locked_until_;
}

void WebSessions::RecordAttempt(bool success) {
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  if (success) {
    failed_attempts_ = 0;
    locked_until_ = 0;
    return;
  }
  if (++failed_attempts_ >= kLoginFailureThreshold) {
    locked_until_ = now + kLoginLockMs;
    failed_attempts_ = 0;
    LogLine("Web: too many failed auth attempts -> locked 60s\n");
  }
}

std::string WebSessions::CreateSession() {
  std::string token = tokens_();
  if (token.empty()) return {};
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = now - it->second > kSessionIdleMs ? sessions_.erase(it) : std::next(it);
  }
  sessions_[token] = now;
  return token;
}

bool WebSessions::CheckSession(const RequestHead& head, bool touch) {
  const std::vector<std::string> tokens = CookieValues(head, kSessionCookie);
  if (tokens.empty()) return false;
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  for (const std::string& token : tokens) {
    auto it = token.empty() ? sessions_.end() : sessions_.find(token);
    if (it == sessions_.end()) continue;
    if (now - it->second > kSessionIdleMs) {
      sessions_.erase(it);
      continue;
    }
    if (touch) it->second = now;
    return true;
  }
  return false;
}

void WebSessions::EndSession(const RequestHead& head) {
  const std::vector<std::string> tokens = CookieValues(head, kSessionCookie);
  std::lock_guard<std::mutex> lock(guard_);
  for (const std::string& token : tokens) sessions_.erase(token);
}

std::string WebSessions::TextLocked() const {
  std::string text;
  for (const auto& [token, tick] : sessions_) text += token + " " + std::to_string(tick) + "\n";
  return text;
}

std::string WebSessions::SessionText() {
  std::lock_guard<std::mutex> lock(guard_);
  return TextLocked();
}

void WebSessions::LoadSessionText(std::string_view text) {
  uint64_t now = clock_();
  std::istringstream in{std::string(text)};
  std::string token;
  uint64_t tick = 0;
  std::lock_guard<std::mutex> lock(guard_);
  while (in >> token >> tick) {
    if (tick <= now && now - tick <= kSessionIdleMs) sessions_[token] = tick;
  }
}

bool WebSessions::SaveSessions(const std::string& path) {
  // Held while writing too, so a login during a restart cannot slip past the file.
  std::lock_guard<std::mutex> lock(guard_);
  std::optional<std::string> stored = ProtectString(TextLocked());
  // Through a temporary and a rename: a crash mid-write leaves the old file.
  return stored && ReplaceFileContents(path, *stored) == FileWriteResult::kWritten;
}

void WebSessions::LoadSessions(const std::string& path) {
  std::string stored;
  if (!ReadWholeFile(path, stored) || stored.rfind("enc:", 0) != 0) return;
  LoadSessionText(UnprotectString(stored));
}

size_t WebSessions::SessionCount() {
  std::lock_guard<std::mutex> lock(guard_);
  return sessions_.size();
}

}  // namespace lcx
