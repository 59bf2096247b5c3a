// Test helpers for the RTSP session tests: the narrow server view a session
// runs against (no grabber, no encoders), request texts, access units, and a
// loopback client for the socket-level tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/unique_fd.h"
#include "rtsp/rtsp_session.h"
#include "video/stream_channel.h"

namespace lcx::rtsp_test {

// What a session sees of a server, owned by the test.
struct SessionView {
  RtspSettings settings;
  bool sub_on = true;
  StreamChannel main_channel, sub_channel;
  std::atomic<int32_t> viewer_count{0};
  std::atomic<bool> keyframe_request{false};
  std::mutex viewer_mutex;
  std::condition_variable wake_up;

  SessionView(bool auth, bool sub) : sub_on(sub) {
    settings.user = "admin";
    settings.password = "secret";
    settings.auth_required = auth;
    settings.sub_name = "screensub";
    main_channel.profile_level_id = "4D0029";
    sub_channel.profile_level_id = "42C01E";
  }
  RtspSessionContext Context() {
    return {settings, sub_on, main_channel, sub_channel, {viewer_count, keyframe_request, viewer_mutex, wake_up}};
  }
};

inline std::string Req(const std::string& method, const std::string& url, int cseq, const std::string& extra = "") {
  return method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra + "\r\n";
}

// An access unit of SPS, PPS and one slice of `slice_bytes`.
inline std::vector<uint8_t> AccessUnit(bool key, size_t slice_bytes) {
  std::vector<uint8_t> au = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1F, 0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80, 0, 0, 1};
  au.push_back(key ? 0x65 : 0x41);
  for (size_t i = 1; i < slice_bytes; ++i) au.push_back(static_cast<uint8_t>(i | 1));
  return au;
}

inline bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    SetReceiveTimeoutMs(fd_.get(), 5000);
  }
  bool connected() const { return connected_; }
  int fd() const { return fd_.get(); }
  bool Send(std::string_view text) { return SendAll(fd_.get(), text); }
  // Reads until `count` bytes are here; fewer on close or time-out.
  std::string Read(size_t count) {
    std::string out;
    char buf[65536];
    while (out.size() < count) {
      ssize_t n = ::recv(fd_.get(), buf, std::min(sizeof buf, count - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // One response head (and its SDP body when DESCRIBE answered).
  std::string ReadResponse() {
    std::string out;
    while (out.find("\r\n\r\n") == std::string::npos) {
      std::string b = Read(1);
      if (b.empty()) return out;
      out += b;
    }
    size_t at = out.find("Content-Length: ");
    if (at != std::string::npos) out += Read(std::stoul(out.substr(at + 16)));
    return out;
  }
  // Reads until the peer closes (or the time-out): true when it closed.
  bool ReadsEndOfStream(std::string* bytes = nullptr) {
    char buf[4096];
    for (int i = 0; i < 10000; ++i) {
      ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
      if (n == 0) return true;
      if (n < 0) return false;
      if (bytes) bytes->append(buf, static_cast<size_t>(n));
    }
    return false;
  }

 private:
  UniqueFd fd_;
  bool connected_ = false;
};

}  // namespace lcx::rtsp_test
