#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>

namespace lcx {
namespace {

constexpr size_t kMaxLines = 300;

std::mutex g_log_mutex;
std::deque<std::string>& Store() {
  static std::deque<std::string> lines;
  return lines;
}

}  // namespace

void LogLine(const char* format, ...) {
  char buf[2048];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return;
  size_t len = static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1;

  std::fwrite(buf, 1, len, stdout);
  std::fflush(stdout);

  while (len > 0 && (buf[len - 1] == '\r' || buf[len - 1] == '\n')) --len;
  std::string line(buf, len);
  std::lock_guard<std::mutex> lock(g_log_mutex);
  auto& store = Store();
  store.push_back(std::move(line));
  while (store.size() > kMaxLines) store.pop_front();
}

std::string ReadLog() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  std::string out;
  for (const auto& line : Store()) {
    out += line;
    out.push_back('\n');
  }
  return out;
}

}  // namespace lcx
