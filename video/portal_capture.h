// The Wayland capture source: a worker thread holds the ScreenCast portal
// session and its PipeWire stream, starts it again after a loss, and keeps
// the restore token (0600) for the next start. While the session is being
// made, or nothing has been sent yet, the source says kWaiting; while the
// portal is missing, refused or gone, kNotShared, with the reason logged
// once until the screen is shared again.
// Threads: Next, TryOpen and Close are the producer's; LatestPicture,
// WaitForSize and the state may be read from any thread. mutex_ guards the
// phase, the reason and the stream pointer; the stream has its own lock,
// taken inside mutex_ and never the other way round.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "video/capture_source.h"

namespace lcx {

class PipeWireStream;
class PortalSession;

struct PortalOptions {
  std::string token_path;            // where the restore token is kept; empty: not kept
  int first_timeout_ms = 35'000;     // a portal backend being started stalls the first call
  int retry_ms = 3'000;              // a lost or missing portal is tried again this often
};

class PortalCapture final : public CaptureSource {
 public:
  explicit PortalCapture(PortalOptions options);
  ~PortalCapture() override;

  bool TryOpen(std::string* why) override;
  CaptureState Next(CapturedFrame* frame) override;
  void Close() override;
  bool is_open() const override { return worker_.joinable(); }
  int width() const override;
  int height() const override;
  std::string Describe() const override { return "the ScreenCast portal"; }

  // The current state and, for kFrame, a copy of the whole picture.
  CaptureState LatestPicture(std::vector<uint8_t>& out, int* width, int* height);
  // Waits up to `ms` for the stream's size (or a final refusal); false when
  // it is not known by then.
  bool WaitForSize(int ms, int* width, int* height);

 private:
  enum class Phase { kStarting, kStreaming, kNotShared };
  void Run();
  void SetNotShared(const std::string& why);

  const PortalOptions options_;
  std::thread worker_;
  std::vector<uint8_t> picture_;  // the producer's copy

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // phase, size, stop or retry
  Phase phase_ = Phase::kStarting;
  bool stop_ = false;
  bool retry_now_ = false;
  int width_ = 0, height_ = 0;
  std::string logged_reason_;  // the reason logged for this spell without the screen; empty while shared
  PortalSession* session_ = nullptr;   // the worker's, while it runs one
  std::shared_ptr<PipeWireStream> stream_;
};

}  // namespace lcx
