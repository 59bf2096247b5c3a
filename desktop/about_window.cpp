#include "desktop/about_window.h"

#include <string>

#include "desktop/desktop_ui.h"
#include "desktop/gtk_util.h"

namespace lcx {

void AboutWindow::Show(GtkWindow* parent) {
  if (window_) {
    gtk_window_present(GTK_WINDOW(window_));
    return;
  }
  const Language lang = ui_.language();
  window_ = NewWindow(Tr(lang, txt::kAboutTitle), 420, 260, false);
  ClearOnDestroy(window_, &window_);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(window_), parent);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(box), 18);
  gtk_container_add(GTK_CONTAINER(window_), box);
  GtkWidget* head = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  if (auto icon = AppIconPixbuf(64)) {
    gtk_box_pack_start(GTK_BOX(head), gtk_image_new_from_pixbuf(icon.get()), FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(head), NewHeading("Lumicast"), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), head, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), NewLabel(Tr(lang, txt::kAboutDescription), true), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), NewLabel(std::string(Tr(lang, txt::kVersion)) + ui_.context().version), FALSE,
                     FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), NewLabel(Tr(lang, txt::kMaker)), FALSE, FALSE, 0);
  GtkWidget* license = NewLinkButton(Tr(lang, txt::kViewLicense));
  OnSignal(license, "clicked", [this] { ui_.ViewAgreement(); });
  gtk_box_pack_start(GTK_BOX(box), license, FALSE, FALSE, 0);
  GtkWidget* close = gtk_button_new_with_label(Tr(lang, txt::kClose));
  gtk_widget_set_halign(close, GTK_ALIGN_END);
  GtkWidget* window = window_;
  OnSignal(close, "clicked", [window] { gtk_widget_destroy(window); });
  gtk_box_pack_end(GTK_BOX(box), close, FALSE, FALSE, 0);
  gtk_widget_show_all(window_);
  gtk_window_present(GTK_WINDOW(window_));
}

void AboutWindow::Rebuild() {
  GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(window_));
  gtk_widget_destroy(window_);  // clears window_
  Show(parent);
}

}  // namespace lcx
