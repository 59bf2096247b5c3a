// The about window: description, version, the agreement link and "Close".
// Main thread only; cleared by its "destroy" signal.
#pragma once

#include <gtk/gtk.h>

namespace lcx {

class DesktopUi;

class AboutWindow {
 public:
  explicit AboutWindow(DesktopUi& ui) : ui_(ui) {}
  AboutWindow(const AboutWindow&) = delete;
  AboutWindow& operator=(const AboutWindow&) = delete;

  bool is_open() const { return window_ != nullptr; }
  // Over `parent` when given; an open window is brought to the front.
  void Show(GtkWindow* parent);
  // Closed and opened again over the same parent in the current language.
  void Rebuild();

 private:
  DesktopUi& ui_;
  GtkWidget* window_ = nullptr;
};

}  // namespace lcx
