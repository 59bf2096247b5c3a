// The desktop's process-wide state: language, the signed-in flag and the
// three windows (login_window, admin_window, about_window; the EULA window
// has its own loop in eula_window.cpp), with what they share. One object,
// owned by the desktop entry, used on the main thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "desktop/about_window.h"
#include "desktop/admin_window.h"
#include "desktop/desktop_context.h"
#include "desktop/gtk_util.h"
#include "desktop/login_window.h"
#include "desktop/texts.h"

namespace lcx {

class DesktopUi {
 public:
  DesktopUi(DesktopContext context, DesktopHooks hooks);
  DesktopUi(const DesktopUi&) = delete;
  DesktopUi& operator=(const DesktopUi&) = delete;

  Language language() const { return lang_; }
  const DesktopContext& context() const { return context_; }
  const DesktopHooks& hooks() const { return hooks_; }

  // Tray and second start: the admin window when it exists or somebody has
  // signed in, else the login window.
  void ShowAdmin();
  void ShowAbout(GtkWindow* parent);
  void OpenWebPanel();
  // Writes the agreement page to the temporary folder and opens it.
  void ViewAgreement();
  // A successful login: the login window is gone, the admin window opens.
  void LoggedIn();
  // Flips the language, saves it and rebuilds every open window.
  void FlipLanguage();
  // The recovery button of the login and admin windows.
  void Recover(GtkWindow* parent, GtkWidget* code_entry);
  // Message boxes in the current language, reported to message_shown.
  void Say(GtkWindow* parent, const Text& text, BoxKind kind);
  bool Ask(GtkWindow* parent, const Text& text, const char* caption);

  // The tray icon's switch, shared by the tray menu and the admin window.
  std::function<bool()> icon_shown;
  std::function<void(bool)> set_icon_shown;
  // Told after the language switch, so the tray speaks the same language.
  std::function<void(Language)> language_changed;
  // The tray menu switched the icon: the admin window's box follows.
  void IconShownChanged(bool shown) { admin_.IconShownChanged(shown); }

 private:
  DesktopContext context_;
  DesktopHooks hooks_;
  Language lang_;
  bool logged_in_ = false;
  LoginWindow login_{*this};
  AdminWindow admin_{*this};
  AboutWindow about_{*this};
};

// The device identifier row of the login and admin windows: label, the
// identifier left to right, and a copy button.
GtkWidget* DeviceIdRow(Language lang, const std::string& machine_id);

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
