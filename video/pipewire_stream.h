// One PipeWire video stream (the node a ScreenCast portal shares) kept as a
// complete top-down BGRX picture: shared-memory buffers in BGRx, BGRA, RGBx
// or RGBA, copied where SPA_META_VideoDamage says the screen changed, else
// compared row by row. A compositor sends nothing while the screen is still,
// so silence means "unchanged", and a stream may not send a first picture
// until something moves.
// Threads: PipeWire's own loop thread writes the picture under `mutex_`;
// Take (the producer) and CopyLatest (any still) read it under the same
// mutex. Open and Close belong to one owner thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "video/capture_source.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_pod;

namespace lcx {

// Pixel layouts the stream accepts, in the order it prefers them.
enum class StreamPixels { kBgrx, kRgbx };

// Copies `area` of a `width`-wide source picture (`stride` bytes a row) into
// the same place of a BGRX picture of `width` pixels a row, swapping red and
// blue for kRgbx. With `compare`, rows that already match are left alone and
// only the rows that differed are reported; otherwise the whole area is.
PictureArea CopyArea(const uint8_t* src, int stride, StreamPixels layout, const PictureArea& area, int width,
                     uint8_t* dst, bool compare);

class PipeWireStream {
 public:
  enum class Status { kWaiting, kFrame, kBroken };

  PipeWireStream();
  ~PipeWireStream();
  PipeWireStream(const PipeWireStream&) = delete;
  PipeWireStream& operator=(const PipeWireStream&) = delete;

  // Connects through the portal's PipeWire descriptor to `node`.
  bool Open(UniqueFd remote, uint32_t node, std::string* why);
  void Close();

  // The picture as of now into `picture` (resized to the stream's size):
  // only what changed since the previous Take is copied, and `*changed` is
  // that area (empty when nothing changed).
  Status Take(std::vector<uint8_t>& picture, int* width, int* height, PictureArea* changed);
  // A copy of the whole current picture, for stills; false before the first.
  bool CopyLatest(std::vector<uint8_t>& out, int* width, int* height);
  // The negotiated size (0 before), and why the stream broke.
  void Size(int* width, int* height);
  std::string broken_reason();

  // PipeWire's callbacks, on its loop thread.
  void OnFormat(const ::spa_pod* param);
  void OnProcess();
  void OnBroken(const std::string& why);
  void OnStreaming();

 private:
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  struct Hooks;
  std::unique_ptr<Hooks> hooks_;  // the listener records PipeWire points into, until Close

  std::mutex mutex_;  // everything below
  int width_ = 0, height_ = 0;
  StreamPixels layout_ = StreamPixels::kBgrx;
  std::vector<uint8_t> latest_;  // width_ x height_ BGRX
  bool have_picture_ = false;    // latest_ holds a whole picture
  bool whole_next_ = true;       // the next buffer is copied whole (first one, new size)
  PictureArea pending_;          // changed since the last Take
  bool resized_ = false;         // the size changed since the last Take
  bool streaming_ = false;
  bool broken_ = false;
  std::string broken_why_;
};

}  // namespace lcx
