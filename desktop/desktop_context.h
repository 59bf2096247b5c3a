// What start-up hands the desktop, and the few effects that end or leave the
// process (relaunch, browser) or come from another subsystem (recovery-code
// check, machine id), gathered as hooks so tests can watch them.
#pragma once

#include <functional>
#include <string>

namespace lcx {

struct DesktopContext {
  std::string exe_path;  // full path of the executable (autostart entry)
  std::string exe_dir;   // its directory
  std::string address;   // the advertised address
  std::string version;   // "1.1"
  int web_port = 8080;
  int rtsp_port = 554;
  int onvif_port = 8000;
  bool web_admin = true;
  std::string main_stream = "screenlive";
  bool share_again = false;  // the screen comes through the desktop's portal: offer "Share the screen again"
  std::string eula_html;           // the agreement page (also served at /eula)
  std::string recovery_key_blob;   // public key of the recovery codes, 283 bytes
};

struct DesktopHooks {
  // Applies saved settings; the real one (RelaunchSelf, not background) does
  // not return.
  std::function<void()> relaunch;
  std::function<void(const std::string& url)> open_url;
  std::function<std::string()> machine_id;
  // True when `code` is the maker's signature for this machine identifier.
  std::function<bool(const std::string& code, const std::string& machine_id)> verify_recovery_code;
  // Told of every message box as it opens (caption and text); may be empty.
  std::function<void(const std::string& caption, const std::string& text)> message_shown;
  // Told once the tray, the windows and the show-admin socket are up and the
  // loop is about to run; may be empty.
  std::function<void()> running;
};

// RelaunchSelf(false), OpenUrl, GetMachineId and the recovery-code check
// against the context's key.
DesktopHooks DefaultDesktopHooks(const DesktopContext& context);

}  // namespace lcx
