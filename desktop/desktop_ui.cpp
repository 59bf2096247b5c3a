// DesktopUi: the language switch, the signed-in flag and the actions the
// windows share; each window is a class of its own file.
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
  if (admin_.is_open()) {
    admin_.Present();
  } else if (logged_in_) {
    admin_.Open();
  } else {
    login_.Open();
  }
}

void DesktopUi::ShowAbout(GtkWindow* parent) { about_.Show(parent); }

void DesktopUi::LoggedIn() {
  logged_in_ = true;
  admin_.Open();
}

void DesktopUi::OpenWebPanel() {
  hooks_.open_url(std::string(context_.web_tls ? "https://" : "http://") + "127.0.0.1:" +
                  std::to_string(context_.web_port) + "/");
}

void DesktopUi::ViewAgreement() {
  const std::string path = WriteEulaFile(context_.eula_html);
  if (path.empty()) {
    LogLine("Desktop: could not write the license agreement to %s\n", RuntimeDir().c_str());
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
  if (login_.is_open()) login_.Rebuild();
  if (admin_.is_open()) admin_.Rebuild();
  if (about_.is_open()) about_.Rebuild();
}

void DesktopUi::Recover(GtkWindow* parent, GtkWidget* code_entry) {
  const RecoveryOutcome outcome = RecoverWithCode(EntryText(code_entry), hooks_);
  if (outcome != RecoveryOutcome::kRecovered) {
    Say(parent, MessageFor(outcome), BoxKind::kError);
    return;
  }
  LogLine("Desktop: password recovered via vendor HWID code -> reset to admin/admin\n");
  Say(parent, MessageFor(outcome), BoxKind::kInfo);
  hooks_.relaunch();
}

void DesktopUi::Say(GtkWindow* parent, const Text& text, BoxKind kind) {
  if (hooks_.message_shown) hooks_.message_shown(kind == BoxKind::kInfo ? "OK" : "!", Tr(lang_, text));
  ShowMessage(parent, lang_, text, kind);
}

bool DesktopUi::Ask(GtkWindow* parent, const Text& text, const char* caption) {
  if (hooks_.message_shown) hooks_.message_shown(caption, Tr(lang_, text));
  return AskOkCancel(parent, lang_, text, caption);
}

GtkWidget* DeviceIdRow(Language lang, const std::string& machine_id) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(row), NewLabel(Tr(lang, txt::kDeviceId)), FALSE, FALSE, 0);
  // The identifier is Latin hex: kept left to right inside either layout.
  GtkWidget* value = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(value), machine_id.c_str());
  gtk_editable_set_editable(GTK_EDITABLE(value), FALSE);
  gtk_widget_set_direction(value, GTK_TEXT_DIR_LTR);
  gtk_entry_set_width_chars(GTK_ENTRY(value), 64);
  gtk_style_context_add_class(gtk_widget_get_style_context(value), "lcx-mono");
  gtk_box_pack_start(GTK_BOX(row), value, TRUE, TRUE, 0);
  GtkWidget* copy = gtk_button_new_with_label(Tr(lang, txt::kCopy));
  OnSignal(copy, "clicked", [machine_id] {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), machine_id.c_str(), -1);
  });
  gtk_box_pack_start(GTK_BOX(row), copy, FALSE, FALSE, 0);
  return row;
}

}  // namespace lcx
