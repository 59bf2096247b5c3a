// The login window ("Login — Control Panel", 470 x 300): user name and
// password, the language button and the unfolding recovery section; after a
// sign-in with the factory password the same window asks for a new one
// before the admin window opens. Main thread only; the GTK window is cleared
// by its "destroy" signal, so a closed window is built anew from the
// configuration the next time.
#pragma once

#include <gtk/gtk.h>

namespace lcx {

class DesktopUi;

class LoginWindow {
 public:
  explicit LoginWindow(DesktopUi& ui) : ui_(ui) {}
  LoginWindow(const LoginWindow&) = delete;
  LoginWindow& operator=(const LoginWindow&) = delete;

  bool is_open() const { return window_ != nullptr; }
  void Open();
  // Rebuilt in the current language and direction.
  void Rebuild();

 private:
  void OnLogin(GtkWidget* user, GtkWidget* password);
  void BuildFactoryPassword();
  void OnNewPassword(GtkWidget* password, GtkWidget* confirm);

  DesktopUi& ui_;
  GtkWidget* window_ = nullptr;
  bool factory_step_ = false;  // showing the factory password's replacement
};

}  // namespace lcx
