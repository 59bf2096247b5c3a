// The portal capture's worker: one session at a time, torn down and made
// again after a loss. A refusal is not asked again until the user says
// "Share the screen again"; a portal that is missing or went away is tried
// again every few seconds (it comes back by bus activation); a session the
// desktop ended is restarted only when a restore token makes that silent.
#include "video/portal_capture.h"

#include <chrono>

#include "core/log.h"
#include "platform/system.h"
#include "video/pipewire_stream.h"
#include "video/portal_session.h"

namespace lcx {
namespace {

std::string ReadToken(const std::string& path) {
  std::string token;
  if (path.empty() || !ReadWholeFile(path, token)) return {};
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' ')) token.pop_back();
  // A token is a short printable word; anything else is not ours.
  if (token.size() > 256 || token.find_first_of(" \t\r\n") != std::string::npos) return {};
  return token;
}

}  // namespace

PortalCapture::PortalCapture(PortalOptions options) : options_(std::move(options)) {}
PortalCapture::~PortalCapture() { Close(); }

bool PortalCapture::TryOpen(std::string*) {
  if (worker_.joinable()) return true;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
    phase_ = Phase::kStarting;
  }
  worker_ = std::thread([this] { Run(); });
  return true;
}

void PortalCapture::Close() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    if (session_) session_->Interrupt();
  }
  changed_.notify_all();
  worker_.join();
}

int PortalCapture::width() const {
  std::lock_guard lock(mutex_);
  return width_;
}

int PortalCapture::height() const {
  std::lock_guard lock(mutex_);
  return height_;
}

void PortalCapture::SetNotShared(const std::string& why) {
  bool log = false;
  {
    std::lock_guard lock(mutex_);
    phase_ = Phase::kNotShared;
    // One line per spell without the screen: the retries' own failures
    // (the portal not back yet) say nothing new.
    log = logged_reason_.empty();
    if (log) logged_reason_ = why;
  }
  changed_.notify_all();
  if (log) LogLine("Screen: not shared: %s; streaming the \"not shared\" picture\n", why.c_str());
}

void PortalCapture::Run() {
  for (;;) {
    PortalSession session;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      phase_ = Phase::kStarting;
      session_ = &session;
    }
    changed_.notify_all();
    const std::string token = ReadToken(options_.token_path);
    PortalGrant grant;
    PortalFailure failure = PortalFailure::kNone;
    std::string why;
    bool retry_by_itself = true;
    if (session.Start(token, options_.first_timeout_ms, &grant, &failure, &why)) {
      if (!grant.restore_token.empty() && !options_.token_path.empty() &&
          ReplaceFileContents(options_.token_path, grant.restore_token + "\n") != FileWriteResult::kWritten) {
        LogLine("Screen: cannot keep the portal's restore token in %s\n", options_.token_path.c_str());
      }
      auto stream = std::make_shared<PipeWireStream>();
      const uint32_t node = grant.node;
      if (!stream->Open(std::move(grant.pipewire), node, &why)) {
        failure = PortalFailure::kFailed;
      } else {
        {
          std::lock_guard lock(mutex_);
          stream_ = stream;
          phase_ = Phase::kStreaming;
          if (grant.width > 0) {
            width_ = grant.width;
            height_ = grant.height;
          }
          logged_reason_.clear();
        }
        ShareScreenAgain.store(false);  // asked for while it was being shared: nothing to do
        changed_.notify_all();
        LogLine("Screen: sharing the screen through the ScreenCast portal (PipeWire node %u, %s)\n", node,
                !grant.token_supported ? "this portal keeps no grant"
                : !token.empty()       ? "restore token sent"
                : grant.restore_token.empty() ? "no restore token given"
                                              : "new restore token kept");
        bool closed = false;
        for (;;) {
          closed = session.WaitForClose(250);
          why = stream->broken_reason();
          {
            std::lock_guard lock(mutex_);
            if (stop_) break;
          }
          if (closed || !why.empty()) break;
          int w = 0, h = 0;
          stream->Size(&w, &h);
          if (w > 0) {
            std::lock_guard lock(mutex_);
            if (w != width_ || h != height_) {
              width_ = w;
              height_ = h;
              changed_.notify_all();
            }
          }
        }
        {
          std::lock_guard lock(mutex_);
          stream_.reset();  // a still being copied keeps its own reference
        }
        if (closed) {
          failure = PortalFailure::kClosed;
          if (session.portal_left()) {
            why = "the ScreenCast portal left the session bus";
          } else {
            why = "the desktop ended the screen sharing";
            // Starting again would put the desktop's question up again
            // unless the grant is restored silently.
            retry_by_itself = !grant.restore_token.empty();
          }
        } else if (why.empty()) {
          why = "stopped";
        }
      }
    }
    {
      std::lock_guard lock(mutex_);
      session_ = nullptr;
      if (stop_) return;
    }
    if (failure == PortalFailure::kRefused) retry_by_itself = false;
    SetNotShared(why);
    // Waits for the retry time, "Share the screen again", or the end.
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.retry_ms);
    std::unique_lock lock(mutex_);
    for (;;) {
      if (stop_) return;
      if (ShareScreenAgain.exchange(false) || retry_now_) break;
      if (retry_by_itself && std::chrono::steady_clock::now() >= due) break;
      changed_.wait_for(lock, std::chrono::milliseconds(250));
    }
    retry_now_ = false;
  }
}

CaptureState PortalCapture::Next(CapturedFrame* frame) {
  std::shared_ptr<PipeWireStream> stream;
  {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::kNotShared) return CaptureState::kNotShared;
    if (phase_ == Phase::kStarting || !stream_) return CaptureState::kWaiting;
    stream = stream_;
  }
  int w = 0, h = 0;
  PictureArea area;
  if (stream->Take(picture_, &w, &h, &area) != PipeWireStream::Status::kFrame) {
    // A broken stream is reported by the worker within its next tick.
    return CaptureState::kWaiting;
  }
  frame->pixels = picture_.data();
  frame->width = w;
  frame->height = h;
  frame->changed = !area.empty();
  frame->area = area;
  frame->changed_pixels = static_cast<int64_t>(area.empty() ? 0 : area.width) * area.height;
  {
    std::lock_guard lock(mutex_);
    width_ = w;
    height_ = h;
  }
  return CaptureState::kFrame;
}

CaptureState PortalCapture::LatestPicture(std::vector<uint8_t>& out, int* width, int* height) {
  std::shared_ptr<PipeWireStream> stream;
  {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::kNotShared) return CaptureState::kNotShared;
    if (phase_ == Phase::kStarting || !stream_) return CaptureState::kWaiting;
    stream = stream_;
  }
  return stream->CopyLatest(out, width, height) ? CaptureState::kFrame : CaptureState::kWaiting;
}

bool PortalCapture::WaitForSize(int ms, int* width, int* height) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return width_ > 0 || phase_ == Phase::kNotShared; });
  *width = width_;
  *height = height_;
  return width_ > 0;
}

}  // namespace lcx
