#include "desktop/login_window.h"

#include "core/config.h"
#include "core/log.h"
#include "desktop/actions.h"
#include "desktop/desktop_ui.h"
#include "desktop/gtk_util.h"

namespace lcx {

void LoginWindow::Open() {
  if (window_) {
    gtk_window_present(GTK_WINDOW(window_));
    return;
  }
  window_ = NewWindow(Tr(ui_.language(), txt::kLoginTitle), 470, 300, true);
  ClearOnDestroy(window_, &window_);
  factory_step_ = false;
  Rebuild();
  gtk_window_present(GTK_WINDOW(window_));
}

void LoginWindow::Rebuild() {
  const Language lang = ui_.language();
  if (GtkWidget* old = gtk_bin_get_child(GTK_BIN(window_))) gtk_widget_destroy(old);
  if (factory_step_) {
    BuildFactoryPassword();
    return;
  }
  gtk_window_set_title(GTK_WINDOW(window_), Tr(lang, txt::kLoginTitle));
  gtk_widget_set_direction(window_, gtk_widget_get_default_direction());

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 18);
  gtk_container_add(GTK_CONTAINER(window_), outer);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(top), NewHeading(Tr(lang, txt::kLoginHeading)), TRUE, TRUE, 0);
  GtkWidget* lang_button = gtk_button_new_with_label(Tr(lang, txt::kLanguageButton));
  OnSignal(lang_button, "clicked", [this] { ui_.FlipLanguage(); });
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
  AddRow(grid, 0, Tr(lang, txt::kUsername), user);
  AddRow(grid, 1, Tr(lang, txt::kPassword), password);
  gtk_box_pack_start(GTK_BOX(outer), grid, FALSE, FALSE, 0);

  GtkWidget* login = gtk_button_new_with_label(Tr(lang, txt::kLoginButton));
  gtk_style_context_add_class(gtk_widget_get_style_context(login), "suggested-action");
  gtk_widget_set_can_default(login, TRUE);
  gtk_window_set_default(GTK_WINDOW(window_), login);
  OnSignal(login, "clicked", [this, user, password] { OnLogin(user, password); });
  OnSignal(user, "activate", [password] { gtk_widget_grab_focus(password); });
  gtk_box_pack_start(GTK_BOX(outer), login, FALSE, FALSE, 0);

  GtkWidget* forgot = NewLinkButton(Tr(lang, txt::kForgot));
  gtk_box_pack_start(GTK_BOX(outer), forgot, FALSE, FALSE, 0);

  GtkWidget* recovery = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  for (const Text* step : {&txt::kRecoverStep1, &txt::kRecoverStep2, &txt::kRecoverStep3, &txt::kRecoverStep4})
    gtk_box_pack_start(GTK_BOX(recovery), NewLabel(Tr(lang, *step), true), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(recovery), DeviceIdRow(lang, ui_.hooks().machine_id()), FALSE, FALSE, 0);
  GtkWidget* code_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(code_row), NewLabel(Tr(lang, txt::kRecoveryCode)), FALSE, FALSE, 0);
  GtkWidget* code = gtk_entry_new();
  gtk_widget_set_direction(code, GTK_TEXT_DIR_LTR);  // Base64
  gtk_box_pack_start(GTK_BOX(code_row), code, TRUE, TRUE, 0);
  GtkWidget* recover = gtk_button_new_with_label(Tr(lang, txt::kRecover));
  OnSignal(recover, "clicked", [this, code] { ui_.Recover(GTK_WINDOW(window_), code); });
  gtk_box_pack_start(GTK_BOX(code_row), recover, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(recovery), code_row, FALSE, FALSE, 0);

  GtkWidget* revealer = gtk_revealer_new();
  gtk_revealer_set_transition_type(GTK_REVEALER(revealer), GTK_REVEALER_TRANSITION_TYPE_NONE);
  gtk_container_add(GTK_CONTAINER(revealer), recovery);
  gtk_box_pack_start(GTK_BOX(outer), revealer, FALSE, FALSE, 0);
  OnSignal(forgot, "clicked", [revealer] {
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer), !gtk_revealer_get_reveal_child(GTK_REVEALER(revealer)));
  });

  gtk_widget_show_all(window_);
  gtk_widget_grab_focus(user);
}

void LoginWindow::OnLogin(GtkWidget* user, GtkWidget* password) {
  // The file is read again on every attempt, so a change made meanwhile by
  // the web panel counts at once.
  const ConfigMap config = LoadConfig(ConfigPath());
  if (!CheckDesktopLogin(config, EntryText(user), EntryText(password))) {
    ui_.Say(GTK_WINDOW(window_), txt::kInvalidLogin, BoxKind::kError);
    return;
  }
  if (FactoryPasswordInForce(config)) {
    factory_step_ = true;
    Rebuild();
    return;
  }
  gtk_widget_destroy(window_);  // clears window_
  ui_.LoggedIn();
}

void LoginWindow::BuildFactoryPassword() {
  const Language lang = ui_.language();
  gtk_window_set_title(GTK_WINDOW(window_), Tr(lang, txt::kFactoryPasswordTitle));
  gtk_widget_set_direction(window_, gtk_widget_get_default_direction());

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 18);
  gtk_container_add(GTK_CONTAINER(window_), outer);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(top), NewHeading(Tr(lang, txt::kFactoryPasswordHeading)), TRUE, TRUE, 0);
  GtkWidget* lang_button = gtk_button_new_with_label(Tr(lang, txt::kLanguageButton));
  OnSignal(lang_button, "clicked", [this] { ui_.FlipLanguage(); });
  gtk_box_pack_end(GTK_BOX(top), lang_button, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outer), top, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outer), NewLabel(Tr(lang, txt::kFactoryPasswordText), true), FALSE, FALSE, 0);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 10);
  GtkWidget* password = gtk_entry_new();
  GtkWidget* confirm = gtk_entry_new();
  for (GtkWidget* entry : {password, confirm}) {
    gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
    gtk_entry_set_max_length(GTK_ENTRY(entry), 128);
  }
  gtk_entry_set_activates_default(GTK_ENTRY(confirm), TRUE);
  AddRow(grid, 0, Tr(lang, txt::kNewPassword), password);
  AddRow(grid, 1, Tr(lang, txt::kConfirmPassword), confirm);
  gtk_box_pack_start(GTK_BOX(outer), grid, FALSE, FALSE, 0);

  GtkWidget* save = gtk_button_new_with_label(Tr(lang, txt::kSaveAndContinue));
  gtk_style_context_add_class(gtk_widget_get_style_context(save), "suggested-action");
  gtk_widget_set_can_default(save, TRUE);
  gtk_window_set_default(GTK_WINDOW(window_), save);
  OnSignal(save, "clicked", [this, password, confirm] { OnNewPassword(password, confirm); });
  OnSignal(password, "activate", [confirm] { gtk_widget_grab_focus(confirm); });
  gtk_box_pack_start(GTK_BOX(outer), save, FALSE, FALSE, 0);

  gtk_widget_show_all(window_);
  gtk_widget_grab_focus(password);
}

void LoginWindow::OnNewPassword(GtkWidget* password, GtkWidget* confirm) {
  const FactoryPasswordOutcome outcome = ReplaceFactoryPassword(EntryText(password), EntryText(confirm));
  if (outcome != FactoryPasswordOutcome::kSaved) {
    ui_.Say(GTK_WINDOW(window_), MessageFor(outcome), BoxKind::kError);
    return;
  }
  ui_.Say(GTK_WINDOW(window_), MessageFor(outcome), BoxKind::kInfo);
  LogLine("Desktop: factory password replaced, restarting\n");
  gtk_widget_destroy(window_);  // clears window_
  // The restart hands the new password to every server; the admin window
  // opens after signing in with it.
  ui_.hooks().relaunch();
}

}  // namespace lcx
