// The PipeWire side of portal capture: a thread loop, a core on the portal's
// descriptor, and one input stream that maps shared-memory buffers. Each
// buffer's damaged rectangles are copied into the kept picture as it
// arrives (so no buffer's changes are lost when several come between two
// frames), and the producer copies out only their union.
#include "video/pipewire_stream.h"

#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cstring>

namespace lcx {
namespace {

constexpr int kMaxSide = 16384;
constexpr int kDamageRegions = 16;

void InitPipeWireOnce() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

PictureArea CopyArea(const uint8_t* src, int stride, StreamPixels layout, const PictureArea& area, int width,
                     uint8_t* dst, bool compare) {
  PictureArea changed;
  const size_t row_bytes = static_cast<size_t>(area.width) * 4;
  for (int y = area.y; y < area.y + area.height; ++y) {
    const uint8_t* s = src + static_cast<size_t>(y) * stride + static_cast<size_t>(area.x) * 4;
    uint8_t* d = dst + (static_cast<size_t>(y) * width + area.x) * 4;
    if (layout == StreamPixels::kBgrx) {
      if (compare && std::memcmp(s, d, row_bytes) == 0) continue;
      std::memcpy(d, s, row_bytes);
    } else {
      bool differs = !compare;
      for (int x = 0; x < area.width; ++x) {
        const uint8_t px[4] = {s[4 * x + 2], s[4 * x + 1], s[4 * x], s[4 * x + 3]};
        if (!differs && std::memcmp(px, d + 4 * x, 4) != 0) differs = true;
        std::memcpy(d + 4 * x, px, 4);
      }
      if (!differs) continue;
    }
    changed = UniteAreas(changed, {area.x, y, area.width, 1});
  }
  return compare ? changed : area;
}

struct PipeWireStream::Hooks {
  spa_hook stream_listener{};
  spa_hook core_listener{};
  pw_stream_events stream_events{};
  pw_core_events core_events{};
};

PipeWireStream::PipeWireStream() = default;
PipeWireStream::~PipeWireStream() { Close(); }

bool PipeWireStream::Open(UniqueFd remote, uint32_t node, std::string* why) {
  Close();
  InitPipeWireOnce();
  {
    std::lock_guard lock(mutex_);
    width_ = height_ = 0;
    latest_.clear();
    have_picture_ = false;
    whole_next_ = true;
    pending_ = {};
    resized_ = false;
    streaming_ = false;
    broken_ = false;
    broken_why_.clear();
  }
  loop_ = pw_thread_loop_new("lcx-screencast", nullptr);
  if (!loop_) {
    *why = "no PipeWire loop";
    return false;
  }
  context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
  if (!context_ || pw_thread_loop_start(loop_) < 0) {
    *why = "no PipeWire context";
    Close();
    return false;
  }
  hooks_ = std::make_unique<Hooks>();
  Hooks& h = *hooks_;
  h.stream_events.version = PW_VERSION_STREAM_EVENTS;
  h.stream_events.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format && param) static_cast<PipeWireStream*>(self)->OnFormat(param);
  };
  h.stream_events.process = [](void* self) { static_cast<PipeWireStream*>(self)->OnProcess(); };
  h.stream_events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char* error) {
    auto* me = static_cast<PipeWireStream*>(self);
    if (state == PW_STREAM_STATE_STREAMING) me->OnStreaming();
    if (state == PW_STREAM_STATE_ERROR) me->OnBroken(std::string("PipeWire stream error: ") + (error ? error : "?"));
    if (state == PW_STREAM_STATE_UNCONNECTED) me->OnBroken("the PipeWire stream ended");
  };
  h.core_events.version = PW_VERSION_CORE_EVENTS;
  h.core_events.error = [](void* self, uint32_t id, int, int res, const char* message) {
    if (id == PW_ID_CORE)
      static_cast<PipeWireStream*>(self)->OnBroken(std::string("PipeWire: ") + (message ? message : "") + " (" +
                                                   spa_strerror(res) + ")");
  };

  pw_thread_loop_lock(loop_);
  // PipeWire owns the descriptor from here, even when the connection fails.
  core_ = pw_context_connect_fd(context_, remote.release(), nullptr, 0);
  if (!core_) {
    pw_thread_loop_unlock(loop_);
    *why = "cannot connect to PipeWire through the portal";
    Close();
    return false;
  }
  pw_core_add_listener(core_, &h.core_listener, &h.core_events, this);
  stream_ = pw_stream_new(core_, "Lumicast screen",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                            PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (!stream_) {
    pw_thread_loop_unlock(loop_);
    *why = "cannot make a PipeWire stream";
    Close();
    return false;
  }
  pw_stream_add_listener(stream_, &h.stream_listener, &h.stream_events, this);

  uint8_t pod_buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(pod_buffer, sizeof pod_buffer);
  spa_rectangle size_default{1920, 1080}, size_min{1, 1}, size_max{kMaxSide, kMaxSide};
  spa_fraction rate_default{0, 1}, rate_min{0, 1}, rate_max{1000, 1};
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                             SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size_default, &size_min, &size_max),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate_default, &rate_min, &rate_max)));
  const int rc = pw_stream_connect(stream_, PW_DIRECTION_INPUT, node,
                                   static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                                   params, 1);
  pw_thread_loop_unlock(loop_);
  if (rc < 0) {
    *why = std::string("cannot connect the PipeWire stream: ") + spa_strerror(rc);
    Close();
    return false;
  }
  return true;
}

void PipeWireStream::Close() {
  if (loop_) pw_thread_loop_stop(loop_);
  if (stream_) pw_stream_destroy(stream_);
  stream_ = nullptr;
  if (core_) pw_core_disconnect(core_);
  core_ = nullptr;
  if (context_) pw_context_destroy(context_);
  context_ = nullptr;
  if (loop_) pw_thread_loop_destroy(loop_);
  loop_ = nullptr;
  hooks_.reset();
}

void PipeWireStream::OnFormat(const spa_pod* param) {
  uint32_t media_type = 0, media_subtype = 0;
  if (spa_format_parse(param, &media_type, &media_subtype) < 0 || media_type != SPA_MEDIA_TYPE_video ||
      media_subtype != SPA_MEDIA_SUBTYPE_raw)
    return;
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  const int w = static_cast<int>(info.size.width), h = static_cast<int>(info.size.height);
  if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) {
    OnBroken("the PipeWire stream has an unusable size");
    return;
  }
  {
    std::lock_guard lock(mutex_);
    layout_ = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA ? StreamPixels::kRgbx
                                                                                           : StreamPixels::kBgrx;
    if (w != width_ || h != height_) {
      width_ = w;
      height_ = h;
      latest_.assign(static_cast<size_t>(w) * h * 4, 0);
      have_picture_ = false;
      resized_ = true;
    }
    whole_next_ = true;
  }
  uint8_t pod_buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(pod_buffer, sizeof pod_buffer);
  const spa_pod* params[3];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
  params[1] = static_cast<const spa_pod*>(
      spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                                 SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
  params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
      SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(sizeof(spa_meta_region) * kDamageRegions, sizeof(spa_meta_region),
                               sizeof(spa_meta_region) * kDamageRegions)));
  pw_stream_update_params(stream_, params, 3);
}

void PipeWireStream::OnProcess() {
  while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream_)) {
    spa_buffer* sb = buffer->buffer;
    const spa_meta_header* header =
        static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(sb, SPA_META_Header, sizeof(spa_meta_header)));
    const bool corrupted = header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED);
    spa_data* d = sb->n_datas > 0 ? &sb->datas[0] : nullptr;
    if (!corrupted && d && d->data && d->chunk && d->chunk->size > 0 &&
        !(d->chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
      std::lock_guard lock(mutex_);
      const int stride = d->chunk->stride > 0 ? d->chunk->stride : width_ * 4;
      const uint64_t offset = d->chunk->offset;
      const uint64_t need = offset + static_cast<uint64_t>(stride) * (height_ - 1) + static_cast<uint64_t>(width_) * 4;
      // A chunk that says it reaches past the mapped memory is skipped whole.
      if (width_ > 0 && height_ > 0 && stride >= width_ * 4 && offset < d->maxsize && need <= d->maxsize) {
        const uint8_t* src = static_cast<const uint8_t*>(d->data) + offset;
        const PictureArea whole{0, 0, width_, height_};
        PictureArea damage;
        bool has_damage_meta = false;
        if (spa_meta* m = spa_buffer_find_meta(sb, SPA_META_VideoDamage)) {
          has_damage_meta = true;
          spa_meta_region* r;
          spa_meta_for_each(r, m) {
            if (!spa_meta_region_is_valid(r)) break;
            damage = UniteAreas(damage, ClipArea({r->region.position.x, r->region.position.y,
                                                  static_cast<int>(r->region.size.width),
                                                  static_cast<int>(r->region.size.height)},
                                                 width_, height_));
          }
        }
        PictureArea copied;
        if (whole_next_ || !have_picture_) {
          copied = CopyArea(src, stride, layout_, whole, width_, latest_.data(), false);
        } else if (has_damage_meta) {
          if (!damage.empty()) copied = CopyArea(src, stride, layout_, damage, width_, latest_.data(), false);
        } else {
          copied = CopyArea(src, stride, layout_, whole, width_, latest_.data(), true);
        }
        whole_next_ = false;
        have_picture_ = true;
        pending_ = UniteAreas(pending_, copied);
      }
    }
    pw_stream_queue_buffer(stream_, buffer);
  }
}

void PipeWireStream::OnBroken(const std::string& why) {
  std::lock_guard lock(mutex_);
  if (broken_) return;
  broken_ = true;
  broken_why_ = why;
}

void PipeWireStream::OnStreaming() {
  std::lock_guard lock(mutex_);
  streaming_ = true;
}

PipeWireStream::Status PipeWireStream::Take(std::vector<uint8_t>& picture, int* width, int* height,
                                            PictureArea* changed) {
  std::lock_guard lock(mutex_);
  *changed = {};
  if (broken_) return Status::kBroken;
  if (!have_picture_) return Status::kWaiting;
  *width = width_;
  *height = height_;
  const size_t bytes = static_cast<size_t>(width_) * height_ * 4;
  if (resized_ || picture.size() != bytes) {
    picture = latest_;
    resized_ = false;
    pending_ = {};
    *changed = {0, 0, width_, height_};
    return Status::kFrame;
  }
  if (pending_.empty()) return Status::kFrame;
  CopyArea(latest_.data(), width_ * 4, StreamPixels::kBgrx, pending_, width_, picture.data(), false);
  *changed = pending_;
  pending_ = {};
  return Status::kFrame;
}

bool PipeWireStream::CopyLatest(std::vector<uint8_t>& out, int* width, int* height) {
  std::lock_guard lock(mutex_);
  if (!have_picture_ || broken_) return false;
  out = latest_;
  *width = width_;
  *height = height_;
  return true;
}

void PipeWireStream::Size(int* width, int* height) {
  std::lock_guard lock(mutex_);
  *width = width_;
  *height = height_;
}

std::string PipeWireStream::broken_reason() {
  std::lock_guard lock(mutex_);
  return broken_ ? broken_why_ : std::string();
}

}  // namespace lcx
