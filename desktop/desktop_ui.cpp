// The login and about windows, the language switch and the shared actions
// of DesktopUi; the admin window is in admin_window.cpp.
#include "desktop/desktop_ui.h"

#include "core/config.h"
#include "core/log.h"
#include "desktop/actions.h"
#include "desktop/gtk_util.h"
#include "platform/system.h"

namespace lcx {

void ClearOnDestroy(GtkWidget* window, GtkWidget** slot) {
  g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     *static_cast<GtkWidget**>(data) = nullptr;
                   }),
                   slot);
}

DesktopUi::DesktopUi(DesktopContext context, DesktopHooks hooks)
    : context_(std::move(context)),
      hooks_(std::move(hooks)),
      lang_(LanguageFromConfig(LoadConfig(ConfigPath()))) {
  ApplyLanguageDirection(lang_);
}

void DesktopUi::ShowAdmin() {
  if (admin_) {
    gtk_window_deiconify(GTK_WINDOW(admin_));
    gtk_window_present(GTK_WINDOW(admin_));
  } else if (logged_in_) {
    OpenAdmin();
  } else {
    OpenLogin();
  }
}

void DesktopUi::OpenWebPanel() { hooks_.open_url("http://127.0.0.1:" + std::to_string(context_.web_port) + "/"); }

void DesktopUi::ViewAgreement() {
  const std::string path = WriteEulaFile(context_.eula_html);
  if (path.empty()) {
    LogLine("Desktop: could not write the license agreement to %s\n", TempDir().c_str());
    return;
  }
  hooks_.open_url(path);
}

void DesktopUi::FlipLanguage() {
  lang_ = Flipped(lang_);
  SaveLanguage(lang_);
  ApplyLanguageDirection(lang_);
  if (language_changed) language_changed(lang_);
  // Open windows are rebuilt in the new language and direction.
  if (login_) BuildLoginContent();
  if (admin_) BuildAdminContent(gtk_notebook_get_current_page(GTK_NOTEBOOK(aw_.notebook)));
  if (about_) {
    GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(about_));
    gtk_widget_destroy(about_);  // clears about_
    ShowAbout(parent);
  }
}

void DesktopUi::Say(GtkWindow* parent, const Text& text, BoxKind kind) {
  if (hooks_.message_shown) hooks_.message_shown(kind == BoxKind::kInfo ? "OK" : "!", Tr(lang_, text));
  ShowMessage(parent, lang_, text, kind);
}

bool DesktopUi::Ask(GtkWindow* parent, const Text& text, const char* caption) {
  if (hooks_.message_shown) hooks_.message_shown(caption, Tr(lang_, text));
  return AskOkCancel(parent, lang_, text, caption);
}

// ---- login -----------------------------------------------------------------

void DesktopUi::OpenLogin() {
  if (login_) {
    gtk_window_present(GTK_WINDOW(login_));
    return;
  }
  login_ = NewWindow(Tr(lang_, txt::kLoginTitle), 470, 300, true);
  ClearOnDestroy(login_, &login_);
  BuildLoginContent();
  gtk_window_present(GTK_WINDOW(login_));
}

GtkWidget* DesktopUi::DeviceIdRow() {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(row), NewLabel(Tr(lang_, txt::kDeviceId)), FALSE, FALSE, 0);
  // The identifier is Latin hex: kept left to right inside either layout.
  const std::string id = hooks_.machine_id();
  GtkWidget* value = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(value), id.c_str());
  gtk_editable_set_editable(GTK_EDITABLE(value), FALSE);
  gtk_widget_set_direction(value, GTK_TEXT_DIR_LTR);
  gtk_entry_set_width_chars(GTK_ENTRY(value), 64);
  gtk_style_context_add_class(gtk_widget_get_style_context(value), "lcx-mono");
  gtk_box_pack_start(GTK_BOX(row), value, TRUE, TRUE, 0);
  GtkWidget* copy = gtk_button_new_with_label(Tr(lang_, txt::kCopy));
  OnSignal(copy, "clicked", [id] {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), id.c_str(), -1);
  });
  gtk_box_pack_start(GTK_BOX(row), copy, FALSE, FALSE, 0);
  return row;
}

void DesktopUi::BuildLoginContent() {
  if (GtkWidget* old = gtk_bin_get_child(GTK_BIN(login_))) gtk_widget_destroy(old);
  gtk_window_set_title(GTK_WINDOW(login_), Tr(lang_, txt::kLoginTitle));
  gtk_widget_set_direction(login_, gtk_widget_get_default_direction());

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 18);
  gtk_container_add(GTK_CONTAINER(login_), outer);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(top), NewHeading(Tr(lang_, txt::kLoginHeading)), TRUE, TRUE, 0);
  GtkWidget* lang_button = gtk_button_new_with_label(Tr(lang_, txt::kLanguageButton));
  OnSignal(lang_button, "clicked", [this] { FlipLanguage(); });
  gtk_box_pack_end(GTK_BOX(top), lang_button, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outer), top, FALSE, FALSE, 0);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 10);
  GtkWidget* user = gtk_entry_new();
  GtkWidget* password = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(password), TRUE);
  gtk_entry_set_max_length(GTK_ENTRY(user), 64);
  gtk_entry_set_max_length(GTK_ENTRY(password), 128);
  AddRow(grid, 0, Tr(lang_, txt::kUsername), user);
  AddRow(grid, 1, Tr(lang_, txt::kPassword), password);
  gtk_box_pack_start(GTK_BOX(outer), grid, FALSE, FALSE, 0);

  GtkWidget* login = gtk_button_new_with_label(Tr(lang_, txt::kLoginButton));
  gtk_style_context_add_class(gtk_widget_get_style_context(login), "suggested-action");
  gtk_widget_set_can_default(login, TRUE);
  gtk_window_set_default(GTK_WINDOW(login_), login);
  OnSignal(login, "clicked", [this, user, password] { OnLogin(user, password); });
  OnSignal(user, "activate", [password] { gtk_widget_grab_focus(password); });
  gtk_box_pack_start(GTK_BOX(outer), login, FALSE, FALSE, 0);

  GtkWidget* forgot = NewLinkButton(Tr(lang_, txt::kForgot));
  gtk_box_pack_start(GTK_BOX(outer), forgot, FALSE, FALSE, 0);

  GtkWidget* recovery = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  for (const Text* step : {&txt::kRecoverStep1, &txt::kRecoverStep2, &txt::kRecoverStep3, &txt::kRecoverStep4})
    gtk_box_pack_start(GTK_BOX(recovery), NewLabel(Tr(lang_, *step), true), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(recovery), DeviceIdRow(), FALSE, FALSE, 0);
  GtkWidget* code_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(code_row), NewLabel(Tr(lang_, txt::kRecoveryCode)), FALSE, FALSE, 0);
  GtkWidget* code = gtk_entry_new();
  gtk_widget_set_direction(code, GTK_TEXT_DIR_LTR);  // Base64
  gtk_box_pack_start(GTK_BOX(code_row), code, TRUE, TRUE, 0);
  GtkWidget* recover = gtk_button_new_with_label(Tr(lang_, txt::kRecover));
  OnSignal(recover, "clicked", [this, code] { OnRecover(GTK_WINDOW(login_), code); });
  gtk_box_pack_start(GTK_BOX(code_row), recover, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(recovery), code_row, FALSE, FALSE, 0);

  GtkWidget* revealer = gtk_revealer_new();
  gtk_revealer_set_transition_type(GTK_REVEALER(revealer), GTK_REVEALER_TRANSITION_TYPE_NONE);
  gtk_container_add(GTK_CONTAINER(revealer), recovery);
  gtk_box_pack_start(GTK_BOX(outer), revealer, FALSE, FALSE, 0);
  OnSignal(forgot, "clicked", [revealer] {
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer), !gtk_revealer_get_reveal_child(GTK_REVEALER(revealer)));
  });

  gtk_widget_show_all(login_);
  gtk_widget_grab_focus(user);
}

void DesktopUi::OnLogin(GtkWidget* user, GtkWidget* password) {
  // The file is read again on every attempt, so a change made meanwhile by
  // the web panel counts at once.
  if (!CheckDesktopLogin(LoadConfig(ConfigPath()), EntryText(user), EntryText(password))) {
    Say(GTK_WINDOW(login_), txt::kInvalidLogin, BoxKind::kError);
    return;
  }
  logged_in_ = true;
  gtk_widget_destroy(login_);
  OpenAdmin();
}

void DesktopUi::OnRecover(GtkWindow* parent, GtkWidget* code_entry) {
  const RecoveryOutcome outcome = RecoverWithCode(EntryText(code_entry), hooks_);
  if (outcome != RecoveryOutcome::kRecovered) {
    Say(parent, MessageFor(outcome), BoxKind::kError);
    return;
  }
  LogLine("Desktop: password recovered via vendor HWID code -> reset to admin/admin\n");
  Say(parent, MessageFor(outcome), BoxKind::kInfo);
  hooks_.relaunch();
}

// ---- about -----------------------------------------------------------------

void DesktopUi::ShowAbout(GtkWindow* parent) {
  if (about_) {
    gtk_window_present(GTK_WINDOW(about_));
    return;
  }
  about_ = NewWindow(Tr(lang_, txt::kAboutTitle), 420, 260, false);
  ClearOnDestroy(about_, &about_);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(about_), parent);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(box), 18);
  gtk_container_add(GTK_CONTAINER(about_), box);
  GtkWidget* head = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  if (GdkPixbuf* icon = AppIconPixbuf(64)) {
    gtk_box_pack_start(GTK_BOX(head), gtk_image_new_from_pixbuf(icon), FALSE, FALSE, 0);
    g_object_unref(icon);
  }
  GtkWidget* name = NewHeading("Lumicast");
  gtk_box_pack_start(GTK_BOX(head), name, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), head, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), NewLabel(Tr(lang_, txt::kAboutDescription), true), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), NewLabel(std::string(Tr(lang_, txt::kVersion)) + context_.version), FALSE,
                     FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), NewLabel(Tr(lang_, txt::kMaker)), FALSE, FALSE, 0);
  GtkWidget* license = NewLinkButton(Tr(lang_, txt::kViewLicense));
  OnSignal(license, "clicked", [this] { ViewAgreement(); });
  gtk_box_pack_start(GTK_BOX(box), license, FALSE, FALSE, 0);
  GtkWidget* close = gtk_button_new_with_label(Tr(lang_, txt::kClose));
  gtk_widget_set_halign(close, GTK_ALIGN_END);
  GtkWidget* window = about_;
  OnSignal(close, "clicked", [window] { gtk_widget_destroy(window); });
  gtk_box_pack_end(GTK_BOX(box), close, FALSE, FALSE, 0);
  gtk_widget_show_all(about_);
  gtk_window_present(GTK_WINDOW(about_));
}

}  // namespace lcx
