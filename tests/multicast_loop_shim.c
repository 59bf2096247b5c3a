/* Preloaded into onvif-util by it_onvif_schema.sh: onvif-util switches
 * multicast loopback off, so in the test's private network (where the
 * camera is on the same host) its probe would never reach the camera. This
 * keeps the kernel's default (on) and changes nothing else. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

int setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
  static int (*real)(int, int, int, const void *, socklen_t);
  if (!real) real = (int (*)(int, int, int, const void *, socklen_t))dlsym(RTLD_NEXT, "setsockopt");
  if (level == IPPROTO_IP && name == IP_MULTICAST_LOOP) return 0;
  return real(fd, level, name, value, length);
}
