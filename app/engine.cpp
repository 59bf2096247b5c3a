// The composition root: reads the settings, hands each server its own copy
// and starts the server threads.
//
// Thread lifetime: every server thread (RTSP with its producer, ONVIF HTTP,
// WS-Discovery, the web panel) is started detached here for the whole life
// of the process and has no stop of its own. Their connection threads are
// owned by a ThreadGroup of the object they use (the RTSP server, the ONVIF
// accept loop, the web server), which waits for them before that object
// goes. The main thread runs the desktop loop; the process ends in one
// place, EndProcess: after "Exit" or a stop signal the log is flushed and
// _Exit called, so no static destructor ever runs under a thread that still
// uses the object. Loops that tests must end (the accept loops, the
// producer) take a stop condition; the program never uses it.
#include "app/engine.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/address.h"
#include "core/config.h"
#include "core/log.h"
#include "core/relaunch.h"
#include "core/settings.h"
#include "core/subsystem_settings.h"
#include "desktop/desktop.h"
#include "desktop/eula_terminal.h"
#include "onvif/device_identity.h"
#include "onvif/discovery.h"
#include "onvif/onvif_server.h"
#include "onvif/onvif_service.h"
#include "platform/instance.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "resources/documents.h"
#include "rtsp/rtsp_server.h"
#include "security/machine_id.h"
#include "security/protect.h"
#include "security/recovery_code.h"
#include "video/capture_source.h"
#include "video/snapshot.h"
#include "video/stream_producer.h"
#include "web/web_admin_server.h"

namespace lcx {
namespace {

template <typename F>
void StartDetached(F&& body) {
  std::thread(std::forward<F>(body)).detach();
}

[[noreturn]] void EndProcess(int code) {
  std::fflush(stdout);
  std::_Exit(code);
}

}  // namespace

// The exit code is 0 whatever the outcome; a failure is told on standard error.
int RunDumpScreens(const std::string& directory) {
  const struct {
    const char* name;
    ScreenNotice notice;
  } pictures[] = {{"dump_paused.png", ScreenNotice::kPaused},
                  {"dump_not_shared.png", ScreenNotice::kNotShared},
                  {"dump_waiting.png", ScreenNotice::kWaiting},
                  {"dump_no_screen.png", ScreenNotice::kNoScreen}};
  for (const auto& p : pictures) {
    const std::string path = directory + "/" + p.name;
    if (!SaveNoticePng(path, p.notice)) std::fprintf(stderr, "--dump-screens: could not write %s\n", path.c_str());
  }
  return 0;
}

void RunEngine(const std::vector<std::string>& args, const Invocation& invocation) {
  BlockStopSignals();

  SeedConfigFromCoreDat(ConfigPath(), ExecutableDir());
  EngineSettings s = ReadEngineSettings(LoadConfig(ConfigPath()), args);

  UniqueFd instance_lock;
  if (GuardSingleInstance(InstanceLockPath(), invocation.relaunch, invocation.background, s.web_port,
                          instance_lock, DefaultInstanceHooks()) == InstanceOutcome::kDeferredToPeer) {
    EndProcess(0);
  }

  ResolvedPassword pw = ResolveAdminPassword(s.admin_pass_stored, PasswordProtected());
  s.admin_pass = pw.plain;
  s.password_locked = pw.locked;
  if (pw.locked) LogLine("WARNING: admin_pass tampered/undecryptable -> login locked; use HWID recovery.\n");
  StreamPaused.store(!s.stream_on);

  const std::string ip = SelectAdvertisedAddress();
  // The capture starts before the servers so that they are handed the size
  // the streams will have; without a screen yet they start all the same.
  CaptureChoice capture;
  const std::optional<std::string> wayland = GetEnv("WAYLAND_DISPLAY"), session = GetEnv("XDG_SESSION_TYPE");
  capture.kind = ChooseCaptureKind(s.capture, wayland ? wayland->c_str() : nullptr,
                                   session ? session->c_str() : nullptr);
  capture.monitor = s.monitor;
  capture.token_path = GetDataFolder() + "/screencast_token";
  int screen_w = 0, screen_h = 0;
  constexpr int kPortalSizeWaitMs = 3000;
  StartSharedCapture(capture, kPortalSizeWaitMs, &screen_w, &screen_h);
  ApplyScreenSize(s, screen_w, screen_h);

  for (const std::string& line : BannerLines(s, ip)) LogLine("%s", line.c_str());
  std::fflush(stdout);
  LogLine("%s", AuthBannerLine(s).c_str());
  ConfigureOnvif(GetOnvifService(), OnvifSettingsFrom(s, ip));
  GetOnvifService().restart = [] { RelaunchSelf(true); };  // SystemReboot, as the web panel restarts
  GetOnvifService().multicast_streaming = [](bool sub, bool on) { return HoldMulticast(GetRtspServer(), sub, on); };

  DesktopContext desktop = DesktopContextFrom(s, ip, ExecutablePath(), ExecutableDir(),
                                              std::string(EulaHtml()), RecoveryPublicKey());
  desktop.share_again = capture.kind == CaptureKind::kPortal;
  const DesktopHooks desktop_hooks = DefaultDesktopHooks(desktop);
  if (!invocation.background) {
    const AgreementAnswer answer = invocation.terminal_agreement ? AskAgreementOnTerminal(desktop)
                                   : EnsureEulaAccepted(desktop, desktop_hooks) ? AgreementAnswer::kAccepted
                                                                                : AgreementAnswer::kDeclined;
    if (answer == AgreementAnswer::kDeclined) {
      LogLine("EULA declined — exiting.\n");
      EndProcess(0);
    }
    // Told how to accept without a terminal; nothing started, so not a success.
    if (answer == AgreementAnswer::kUnanswered) EndProcess(1);
  }

  StartDetached([rtsp = RtspSettingsFrom(s), video = VideoSettingsFrom(s)] { RunRtspThread(rtsp, video); });
  StartDetached([] { RunOnvifHttp(GetOnvifService()); });
  StartDetached([] { RunDiscovery(GetOnvifService()); });
  if (s.web_admin) {
    // Built on the main thread (it loads the saved sessions) and never
    // destroyed, like the other server objects.
    static WebAdminServer web(WebSettingsFrom(s, ip, GetMachineId(), GetDataFolder()));
    StartDetached([] { web.Run(); });
  }

  // SIGHUP ends the program like SIGTERM: a closed terminal must not leave a
  // detached copy behind holding the ports.
  const int code = RunDesktop(desktop, desktop_hooks, s.show_icon, [](StopSignal) { EndProcess(0); });
  EndProcess(code);
}

}  // namespace lcx
