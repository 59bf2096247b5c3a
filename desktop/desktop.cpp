// The desktop entry: GTK's main loop on the main thread, serving the tray,
// the windows, the "show-admin" socket and the stop signals.
#include "desktop/desktop.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "core/log.h"
#include "core/relaunch.h"
#include "desktop/actions.h"
#include "desktop/desktop_ui.h"
#include "desktop/gtk_util.h"
#include "desktop/tray.h"
#include "platform/instance.h"
#include "platform/processes.h"
#include "platform/stop_signal_fd.h"
#include "platform/system.h"
#include "security/machine_id.h"
#include "security/recovery_code.h"
#include "video/capture_source.h"

namespace lcx {
namespace {

struct Loop {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  ~Loop() { g_main_loop_unref(loop); }
  std::function<void()> show_admin;
  const std::function<void(StopSignal)>* on_stop_signal = nullptr;
};

gboolean OnShowAdminSocket(gint fd, GIOCondition, gpointer data) {
  if (AcceptShowAdmin(fd)) static_cast<Loop*>(data)->show_admin();
  return G_SOURCE_CONTINUE;
}

gboolean OnStopSignal(gint fd, GIOCondition, gpointer data) {
  auto* loop = static_cast<Loop*>(data);
  if (const std::optional<StopSignal> sig = ReadStopSignal(fd)) {
    (*loop->on_stop_signal)(*sig);
    g_main_loop_quit(loop->loop);
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

DesktopHooks DefaultDesktopHooks(const DesktopContext& context) {
  DesktopHooks hooks;
  hooks.relaunch = [] { RelaunchSelf(false); };
  hooks.open_url = [](const std::string& url) { OpenUrl(url); };
  hooks.machine_id = [] { return GetMachineId(); };
  hooks.verify_recovery_code = [key = context.recovery_key_blob](const std::string& code,
                                                                 const std::string& machine_id) {
    return VerifyRecoveryCode(code, machine_id, key);
  };
  return hooks;
}

int RunDesktop(const DesktopContext& context, const DesktopHooks& hooks, bool show_icon,
               const std::function<void(StopSignal)>& on_stop_signal) {
  Loop loop;
  loop.on_stop_signal = &on_stop_signal;

  UniqueFd signals = OpenStopSignalFd();
  if (signals) g_unix_fd_add(signals.get(), G_IO_IN, OnStopSignal, &loop);
  else LogLine("Desktop: could not watch the stop signals\n");

  const bool have_display = EnsureGtk();
  std::optional<DesktopUi> ui;
  std::optional<Tray> tray;
  if (have_display) {
    ui.emplace(context, hooks);
    tray.emplace(
        ui->language(), show_icon,
        [&](TrayCommand command) {
          switch (command) {
            case TrayCommand::kOpenPanel: ui->ShowAdmin(); break;
            case TrayCommand::kOpenWeb: ui->OpenWebPanel(); break;
            case TrayCommand::kAbout: ui->ShowAbout(nullptr); break;
            case TrayCommand::kExit:
              tray->Remove();
              g_main_loop_quit(loop.loop);
              break;
            case TrayCommand::kShowIcon: break;  // applied by the tray
            case TrayCommand::kShareAgain: AskToShareScreenAgain(); break;
          }
        },
        [&](bool shown) {
          SaveShowIcon(shown);
          ui->IconShownChanged(shown);
        },
        context.share_again);
    ui->icon_shown = [&] { return tray->shown(); };
    ui->set_icon_shown = [&](bool shown) {
      tray->SetShown(shown);
      SaveShowIcon(shown);
    };
    ui->language_changed = [&](Language lang) { tray->SetLanguage(lang); };
    loop.show_admin = [&] { ui->ShowAdmin(); };
  } else {
    LogLine("Desktop: no display; running without the tray icon and windows\n");
    loop.show_admin = [] { LogLine("Desktop: show-admin asked, but there is no display\n"); };
  }

  UniqueFd show_admin = ListenShowAdmin(ShowAdminSocketPath());
  const int listen_error = errno;
  if (show_admin) g_unix_fd_add(show_admin.get(), G_IO_IN, OnShowAdminSocket, &loop);
  else LogLine("Desktop: could not listen on %s: %s\n", ShowAdminSocketPath().c_str(), std::strerror(listen_error));

  // The browser (xdg-open) is started and not waited for; collect it once
  // it has ended, so a long-running program leaves no zombies behind.
  g_timeout_add_seconds(
      10, +[](gpointer) -> gboolean {
        ReapExitedChildren();
        return G_SOURCE_CONTINUE;
      },
      nullptr);

  if (hooks.running) hooks.running();
  g_main_loop_run(loop.loop);
  if (tray) tray->Remove();
  return 0;
}

}  // namespace lcx
