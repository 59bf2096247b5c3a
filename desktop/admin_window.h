// The admin window ("Lumicast — Control Panel | Halvorix", 724 x 600, not
// resizable): Status, Video, Network and Users tabs over "Apply & restart".
// Fields are filled from the configuration file each time it is built.
// Main thread only; cleared by its "destroy" signal.
#pragma once

#include <gtk/gtk.h>

#include "desktop/texts.h"

namespace lcx {

class DesktopUi;

class AdminWindow {
 public:
  explicit AdminWindow(DesktopUi& ui) : ui_(ui) {}
  AdminWindow(const AdminWindow&) = delete;
  AdminWindow& operator=(const AdminWindow&) = delete;

  bool is_open() const { return window_ != nullptr; }
  GtkWindow* window() const { return window_ ? GTK_WINDOW(window_) : nullptr; }
  void Open();
  void Present();
  // Rebuilt in the current language, on the same tab.
  void Rebuild();
  // The tray menu switched the icon: the box follows.
  void IconShownChanged(bool shown);

 private:
  struct Widgets {
    GtkWidget* notebook = nullptr;
    GtkWidget* status_text = nullptr;
    GtkWidget* stream_button = nullptr;
    GtkWidget* main_width = nullptr;
    GtkWidget* fps = nullptr;
    GtkWidget* bitrate = nullptr;
    GtkWidget* substream = nullptr;
    GtkWidget* sub_width = nullptr;
    GtkWidget* sub_bitrate = nullptr;
    GtkWidget* monitor = nullptr;
    GtkWidget* motion_sensitivity = nullptr;
    GtkWidget* motion_hold_s = nullptr;
    GtkWidget* rtsp_port = nullptr;
    GtkWidget* onvif_port = nullptr;
    GtkWidget* web_port = nullptr;
    GtkWidget* web_admin = nullptr;
    GtkWidget* web_tls = nullptr;
    GtkWidget* stream_auth = nullptr;
    GtkWidget* device_name = nullptr;
    GtkWidget* push_url = nullptr;
    GtkWidget* autostart = nullptr;
    GtkWidget* show_icon = nullptr;
    GtkWidget* user = nullptr;
    GtkWidget* password = nullptr;
    GtkWidget* confirm = nullptr;
    GtkWidget* recovery_code = nullptr;
  };

  Language lang() const;
  void Build(int page);
  GtkWidget* BuildStatusTab();
  GtkWidget* BuildVideoTab();
  GtkWidget* BuildNetworkTab();
  GtkWidget* BuildUsersTab();
  void RefreshStatus();
  void OnApply();
  void OnChangeCredentials();
  void OnFactoryReset();

  DesktopUi& ui_;
  GtkWidget* window_ = nullptr;
  Widgets w_;
  bool building_ = false;  // toggles set while building act on nothing
};

}  // namespace lcx
