#include "core/engine.h"

#include <signal.h>

#include <cstdio>
#include <thread>

#include "core/address.h"
#include "core/config.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/instance.h"
#include "platform/system.h"
#include "security/machine_id.h"
#include "security/protect.h"

#if defined(LCX_HAS_VIDEO)
#include "video/snapshot.h"
#include "video/stream_producer.h"
#endif
#if defined(LCX_HAS_RTSP)
#include "rtsp/rtsp_server.h"
#endif
#if defined(LCX_HAS_ONVIF)
#include "onvif/onvif_service.h"
#endif

namespace lcx {
namespace {

void PrimaryScreen(int* width, int* height) {
  *width = *height = 0;
#if defined(LCX_HAS_VIDEO)
  if (!PrimaryScreenSize(width, height)) *width = *height = 0;
#endif
}

void SetStreamPaused(bool paused) {
#if defined(LCX_HAS_VIDEO)
  StreamPaused.store(paused);
#else
  (void)paused;
#endif
}

// Threads are detached: there is no orderly shutdown of the servers, they
// end with the process.
template <typename F>
void StartDetached(F&& body) {
  std::thread(std::forward<F>(body)).detach();
}

void StartServerThreads(const EngineSettings& s, const std::string& ip) {
#if defined(LCX_HAS_RTSP)
  RtspSettings rtsp;
  rtsp.port = static_cast<uint16_t>(s.rtsp_port);
  rtsp.fps = s.fps;
  rtsp.main_bitrate_kbps = s.bitrate_kbps;
  rtsp.main_name = s.main_stream;
  rtsp.sub_name = s.sub_stream;
  rtsp.sub_width = s.sizes.sub_width;
  rtsp.sub_height = s.sizes.sub_height;
  rtsp.sub_bitrate_kbps = s.sub_bitrate_kbps;
  rtsp.main_width = s.sizes.main_width;
  rtsp.main_height = s.sizes.main_height;
  rtsp.user = s.admin_user;
  rtsp.password = s.admin_pass;
  rtsp.auth_required = s.stream_auth;
  StartDetached([rtsp] { RunRtspThread(rtsp); });
#else
  LogLine("RTSP: server not available in this build\n");
#endif
#if defined(LCX_HAS_ONVIF)
  StartDetached([] { RunOnvifHttp(GetOnvifService()); });
  StartDetached([] { RunDiscovery(GetOnvifService()); });
#else
  LogLine("ONVIF: service not available in this build\n");
#endif
  if (s.web_admin) LogLine("Web: administration panel not available in this build\n");
  (void)ip;
}

void ConfigureOnvifService(const EngineSettings& s, const std::string& ip) {
#if defined(LCX_HAS_ONVIF)
  OnvifSettings o;
  o.address = ip;
  o.onvif_port = s.onvif_port;
  o.rtsp_port = s.rtsp_port;
  o.main_name = s.main_stream;
  o.main_width = s.sizes.stream_width;
  o.main_height = s.sizes.stream_height;
  o.fps = s.fps;
  o.sub_name = s.sub_stream;
  o.sub_width = s.sizes.sub_width;
  o.sub_height = s.sizes.sub_height;
  o.user = s.admin_user;
  o.password = s.admin_pass;
  o.auth_required = s.stream_auth;
  o.device_name = s.device_name;
  ConfigureOnvif(GetOnvifService(), o);
#else
  (void)s;
  (void)ip;
#endif
}

}  // namespace

int RunDumpScreens(const std::string& directory) {
#if defined(LCX_HAS_VIDEO)
  SavePausedPng(directory + "/dump_paused.png");
#else
  (void)directory;
  std::fprintf(stderr, "--dump-screens: the paused picture is not available in this build\n");
  return 1;
#endif
  return 0;
}

int RunEngine(const std::vector<std::string>& args, const Invocation& invocation) {
  // Block the stop signals before any thread exists, so every thread
  // inherits the mask and the main thread alone takes them with sigwait.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const std::string exe_dir = ExecutableDir();
  const std::string config_path = ConfigPath();
  SeedConfigFromCoreDat(config_path, exe_dir);
  const ConfigMap config = LoadConfig(config_path);
  EngineSettings s = ReadEngineSettings(config, args);

  UniqueFd instance_lock;
  if (GuardSingleInstance(InstanceLockPath(), invocation.relaunch, invocation.background, s.web_port,
                          instance_lock, DefaultInstanceHooks()) == InstanceOutcome::kDeferredToPeer) {
    return 0;
  }

  ResolvedPassword pw = ResolveAdminPassword(s.admin_pass_stored, PasswordProtected());
  s.admin_pass = pw.plain;
  s.password_locked = pw.locked;
  if (pw.locked) LogLine("WARNING: admin_pass tampered/undecryptable -> login locked; use HWID recovery.\n");
  SetStreamPaused(!s.stream_on);

  const std::string ip = SelectAdvertisedAddress();
  int screen_w = 0, screen_h = 0;
  PrimaryScreen(&screen_w, &screen_h);
  ApplyScreenSize(s, screen_w, screen_h);

  for (const std::string& line : BannerLines(s, ip)) LogLine("%s", line.c_str());
  std::fflush(stdout);
  LogLine("%s", AuthBannerLine(s).c_str());
  ConfigureOnvifService(s, ip);

  StartServerThreads(s, ip);

  // The desktop loop is not part of this build: wait for a stop signal.
  // SIGHUP restarts the program the way the editors do, so a changed
  // configuration file can be applied from a shell.
  int sig = 0;
  while (sigwait(&stop, &sig) != 0) {
  }
  if (sig == SIGHUP) {
    LogLine("Restarting to apply the configuration (SIGHUP)\n");
    RelaunchSelf(invocation.background);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace lcx
