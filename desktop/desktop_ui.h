// The desktop's process-wide state and its windows (login, admin, about;
// the EULA window has its own loop in eula_window.cpp). One object, owned by
// the desktop entry, used on the main thread only. Window pointers are
// cleared by each window's "destroy" signal, so a closed window is rebuilt
// from the configuration file the next time it is asked for.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "desktop/desktop_context.h"
#include "desktop/gtk_util.h"
#include "desktop/texts.h"

namespace lcx {

class DesktopUi {
 public:
  DesktopUi(DesktopContext context, DesktopHooks hooks);
  DesktopUi(const DesktopUi&) = delete;
  DesktopUi& operator=(const DesktopUi&) = delete;

  Language language() const { return lang_; }
  // Tray and second start: the admin window when it exists or somebody has
  // signed in, else the login window.
  void ShowAdmin();
  void ShowAbout(GtkWindow* parent);
  void OpenWebPanel();
  // Writes the agreement page to the temporary folder and opens it.
  void ViewAgreement();

  // The tray icon's switch, shared by the tray menu and the admin window.
  std::function<bool()> icon_shown;
  std::function<void(bool)> set_icon_shown;
  // Told after the language switch, so the tray speaks the same language.
  std::function<void(Language)> language_changed;
  // The tray menu switched the icon: the admin window's box follows.
  void IconShownChanged(bool shown);

 private:
  struct AdminWidgets {
    GtkWidget* notebook = nullptr;
    GtkWidget* status_text = nullptr;
    GtkWidget* stream_button = nullptr;
    GtkWidget* main_width = nullptr;
    GtkWidget* fps = nullptr;
    GtkWidget* bitrate = nullptr;
    GtkWidget* substream = nullptr;
    GtkWidget* sub_width = nullptr;
    GtkWidget* sub_bitrate = nullptr;
    GtkWidget* rtsp_port = nullptr;
    GtkWidget* onvif_port = nullptr;
    GtkWidget* web_port = nullptr;
    GtkWidget* web_admin = nullptr;
    GtkWidget* stream_auth = nullptr;
    GtkWidget* device_name = nullptr;
    GtkWidget* autostart = nullptr;
    GtkWidget* show_icon = nullptr;
    GtkWidget* user = nullptr;
    GtkWidget* password = nullptr;
    GtkWidget* confirm = nullptr;
    GtkWidget* recovery_code = nullptr;
  };

  void OpenLogin();
  void BuildLoginContent();
  void OnLogin(GtkWidget* user, GtkWidget* password);
  void OnRecover(GtkWindow* parent, GtkWidget* code_entry);
  void FlipLanguage();

  void OpenAdmin();
  void BuildAdminContent(int page);
  GtkWidget* BuildStatusTab();
  GtkWidget* BuildVideoTab();
  GtkWidget* BuildNetworkTab();
  GtkWidget* BuildUsersTab();
  void RefreshStatus();
  void OnApply();
  void OnChangeCredentials();
  void OnFactoryReset();
  GtkWidget* DeviceIdRow();
  // Message boxes in the current language, reported to message_shown.
  void Say(GtkWindow* parent, const Text& text, BoxKind kind);
  bool Ask(GtkWindow* parent, const Text& text, const char* caption);

  GtkWindow* admin_window() const { return admin_ ? GTK_WINDOW(admin_) : nullptr; }

  DesktopContext context_;
  DesktopHooks hooks_;
  Language lang_;
  bool logged_in_ = false;
  bool building_ = false;  // toggles set while building act on nothing
  GtkWidget* admin_ = nullptr;
  GtkWidget* login_ = nullptr;
  GtkWidget* about_ = nullptr;
  AdminWidgets aw_;
};

// Connects a "destroy" handler that clears the pointer.
void ClearOnDestroy(GtkWidget* window, GtkWidget** slot);

// Connects a C++ callable to a widget signal; the callable lives as long as
// the widget.
template <typename F>
void OnSignal(gpointer widget, const char* signal, F f) {
  auto* heap = new F(std::move(f));
  g_signal_connect_data(
      widget, signal, G_CALLBACK(+[](GtkWidget*, gpointer data) { (*static_cast<F*>(data))(); }), heap,
      +[](gpointer data, GClosure*) { delete static_cast<F*>(data); }, GConnectFlags(0));
}

}  // namespace lcx
