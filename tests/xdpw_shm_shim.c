/* LD_PRELOAD shim for xdg-desktop-portal-wlr 0.7.0 (Debian 12's) on a compositor that renders
 * without a GPU (wlroots pixman renderer, no /dev/dri), as in a test: for test rigs only.
 *
 * xdpw 0.7.x refuses every ScreenCast Start() ("wlroots: unable to receive a valid format from
 * wlr_screencopy", response 2) unless the screencopy frame announced a DMA-BUF format, which a
 * pixman compositor never does (upstream emersion/xdg-desktop-portal-wlr#289; the check went away
 * in 0.8.0). Its shared-memory path works: with no DMA-BUF modifiers it offers PipeWire a
 * MemFd-only format and copies through wl_shm buffers. This shim forwards every screencopy frame
 * event unchanged and, for a frame that announced no DMA-BUF format, reports the shm format as
 * one just before buffer_done, so the check passes and the SHM path runs.
 *
 * Second fault, same versions (fixed in 0.7.1 by "Fix bug in sd-bus polling", issue #281): the
 * main loop polls the D-Bus socket without draining what sd-bus already read during its start-up
 * calls, so a request that arrived then (xdg-desktop-portal's first calls, right when D-Bus
 * activation hands over) waits until some other event wakes the loop; xdg-desktop-portal then hangs
 * for ~25 s at its first ScreenCast use (seen in 4 of 30 starts on a loaded machine here). The shim
 * gives that loop's endless poll a 250 ms tick that reports the bus readable, so sd-bus drains it.
 *
 * Build: gcc -shared -fPIC -O2 -o xdpw_shm_shim.so xdpw_shm_shim.c -ldl (it_video_wayland.sh does)
 * Use:   LD_PRELOAD=/path/xdpw_shm_shim.so /usr/libexec/xdg-desktop-portal-wlr
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <poll.h>
#include <stdint.h>
#include <string.h>

struct wl_proxy;
const char *wl_proxy_get_class(struct wl_proxy *proxy);

struct frame_listener {   /* zwlr_screencopy_frame_v1_listener, version 3 */
  void (*buffer)(void *, void *, uint32_t, uint32_t, uint32_t, uint32_t);
  void (*flags)(void *, void *, uint32_t);
  void (*ready)(void *, void *, uint32_t, uint32_t, uint32_t);
  void (*failed)(void *, void *);
  void (*damage)(void *, void *, uint32_t, uint32_t, uint32_t, uint32_t);
  void (*linux_dmabuf)(void *, void *, uint32_t, uint32_t, uint32_t);
  void (*buffer_done)(void *, void *);
};

static const struct frame_listener *orig;   /* xdpw registers one static listener on every frame */

#define SLOTS 64
static struct { void *frame; uint32_t fmt, w, h; int dmabuf; } slot[SLOTS];

static int slot_of(void *frame, int create) {
  int i, free_i = -1;
  for (i = 0; i < SLOTS; i++) {
    if (slot[i].frame == frame) return i;
    if (!slot[i].frame && free_i < 0) free_i = i;
  }
  if (!create) return -1;
  if (free_i < 0) free_i = (int)(((uintptr_t)frame >> 4) % SLOTS);
  memset(&slot[free_i], 0, sizeof slot[free_i]);
  slot[free_i].frame = frame;
  return free_i;
}

static uint32_t drm_from_shm(uint32_t f) {   /* wl_shm codes 0 and 1 differ from DRM fourcc */
  return f == 0 ? 0x34325241u /* AR24 */ : f == 1 ? 0x34325258u /* XR24 */ : f;
}

static void s_buffer(void *d, void *f, uint32_t fmt, uint32_t w, uint32_t h, uint32_t stride) {
  int i = slot_of(f, 1);
  slot[i].fmt = fmt; slot[i].w = w; slot[i].h = h; slot[i].dmabuf = 0;
  orig->buffer(d, f, fmt, w, h, stride);
}
static void s_flags(void *d, void *f, uint32_t fl) { orig->flags(d, f, fl); }
static void s_ready(void *d, void *f, uint32_t a, uint32_t b, uint32_t c) { orig->ready(d, f, a, b, c); }
static void s_failed(void *d, void *f) { orig->failed(d, f); }
static void s_damage(void *d, void *f, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  orig->damage(d, f, x, y, w, h);
}
static void s_dmabuf(void *d, void *f, uint32_t fmt, uint32_t w, uint32_t h) {
  int i = slot_of(f, 1);
  slot[i].dmabuf = 1;
  orig->linux_dmabuf(d, f, fmt, w, h);
}
static void s_done(void *d, void *f) {
  int i = slot_of(f, 0);
  if (i >= 0) {
    if (!slot[i].dmabuf) orig->linux_dmabuf(d, f, drm_from_shm(slot[i].fmt), slot[i].w, slot[i].h);
    slot[i].frame = 0;
  }
  orig->buffer_done(d, f);
}

static const struct frame_listener mine = {
  s_buffer, s_flags, s_ready, s_failed, s_damage, s_dmabuf, s_done,
};

int wl_proxy_add_listener(struct wl_proxy *proxy, void (**impl)(void), void *data) {
  static int (*real)(struct wl_proxy *, void (**)(void), void *);
  if (!real) real = (int (*)(struct wl_proxy *, void (**)(void), void *))dlsym(RTLD_NEXT, "wl_proxy_add_listener");
  const char *cls = wl_proxy_get_class(proxy);
  if (cls && strcmp(cls, "zwlr_screencopy_frame_v1") == 0) {
    if (!orig) orig = (const struct frame_listener *)impl;
    if ((const void *)impl == (const void *)orig) impl = (void (**)(void))&mine;
  }
  return real(proxy, impl, data);
}

/* xdpw's main loop is the only poll() in it with 4 descriptors and no timeout; the first one is
 * the D-Bus socket. A tick with nothing to read makes it call sd_bus_process(), which returns at
 * once when sd-bus has nothing queued. */
int poll(struct pollfd *fds, nfds_t n, int timeout) {
  static int (*real)(struct pollfd *, nfds_t, int);
  if (!real) real = (int (*)(struct pollfd *, nfds_t, int))dlsym(RTLD_NEXT, "poll");
  if (n != 4 || timeout != -1) return real(fds, n, timeout);
  int r = real(fds, n, 250);
  if (r == 0) { fds[0].revents = POLLIN; r = 1; }
  return r;
}
