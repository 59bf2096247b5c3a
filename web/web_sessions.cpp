#include "web/web_sessions.h"

#include <algorithm>
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

bool WebSessions::IsLockedOut(const std::string& peer) {
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  auto it = peers_.find(peer);
  return it != peers_.end() && now < it->second.locked_until;
}

void WebSessions::ForgetQuietPeersLocked(uint64_t now) {
  // A peer quiet for the longest lock past its own lock starts afresh.
  for (auto it = peers_.begin(); it != peers_.end();) {
    const uint64_t quiet_since = std::max(it->second.last, it->second.locked_until);
    it = now - std::min(now, quiet_since) > kLoginMaxLockMs ? peers_.erase(it) : std::next(it);
  }
  while (peers_.size() >= kMaxTrackedPeers) {
    auto oldest = peers_.begin();
    for (auto it = peers_.begin(); it != peers_.end(); ++it) {
      if (it->second.last < oldest->second.last) oldest = it;
    }
    peers_.erase(oldest);
  }
}

uint64_t WebSessions::RecordAttempt(const std::string& peer, bool success) {
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  if (success) {
    peers_.erase(peer);
    return 0;
  }
  if (peers_.find(peer) == peers_.end()) ForgetQuietPeersLocked(now);
  PeerFailures& record = peers_[peer];
  record.last = now;
  if (++record.failures >= kLoginFailureThreshold) {
    const uint64_t lock_ms = std::min(kLoginMaxLockMs, kLoginLockMs << std::min<uint32_t>(record.locks, 4));
    record.locked_until = now + lock_ms;
    record.failures = 0;
    ++record.locks;
    LogLine("Web: too many failed auth attempts from %s -> locked %llus\n", peer.c_str(),
            static_cast<unsigned long long>(lock_ms / 1000));
  }
  while (!recent_failures_.empty() && now - recent_failures_.front() >= 60000) recent_failures_.pop_front();
  if (recent_failures_.size() < kGlobalFailuresPerMinute) {
    recent_failures_.push_back(now);
    return 0;
  }
  return kFailureDelayMs;
}

std::string WebSessions::CreateSession() {
  std::string token = tokens_();
  if (token.empty()) return {};
  uint64_t now = clock_();
  std::lock_guard<std::mutex> lock(guard_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = now - it->second.last > kSessionIdleMs ? sessions_.erase(it) : std::next(it);
  }
  while (sessions_.size() >= kMaxSessions) {
    auto oldest = sessions_.begin();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second.created < oldest->second.created) oldest = it;
    }
    sessions_.erase(oldest);
  }
  sessions_[token] = Session{now, now};
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
    if (now - it->second.last > kSessionIdleMs) {
      sessions_.erase(it);
      continue;
    }
    if (touch) it->second.last = now;
    return true;
  }
  return false;
}

void WebSessions::EndSession(const RequestHead& head) {
  const std::vector<std::string> tokens = CookieValues(head, kSessionCookie);
  std::lock_guard<std::mutex> lock(guard_);
  for (const std::string& token : tokens) sessions_.erase(token);
}

void WebSessions::EndOtherSessions(const RequestHead& head) {
  const std::vector<std::string> tokens = CookieValues(head, kSessionCookie);
  std::lock_guard<std::mutex> lock(guard_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    const bool named = std::find(tokens.begin(), tokens.end(), it->first) != tokens.end();
    it = named ? std::next(it) : sessions_.erase(it);
  }
}

std::string WebSessions::TextLocked() const {
  std::string text;
  for (const auto& [token, session] : sessions_) text += token + " " + std::to_string(session.last) + "\n";
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
    if (tick <= now && now - tick <= kSessionIdleMs && sessions_.size() < kMaxSessions) sessions_[token] = Session{tick, tick};
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
