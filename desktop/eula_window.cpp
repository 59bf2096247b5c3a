// The first-run agreement window ("License Agreement — First Run", 600 x
// 560) with a loop of its own: start-up asks before any server starts.
#include "core/config.h"
#include "core/log.h"
#include "desktop/actions.h"
#include "desktop/eula_text.h"
#include "desktop/desktop.h"
#include "desktop/desktop_ui.h"
#include "desktop/gtk_util.h"
#include "platform/stop_signal_fd.h"

#include <glib-unix.h>

namespace lcx {
namespace {

struct EulaRun {
  GMainLoop* loop = nullptr;
  GtkWidget* window = nullptr;
  bool accepted = false;
};

}  // namespace

bool EnsureEulaAccepted(const DesktopContext& context, const DesktopHooks& hooks) {
  const ConfigMap config = LoadConfig(ConfigPath());
  if (EulaAccepted(config)) return true;
  if (!EnsureGtk()) {
    LogLine("Desktop: no display to ask for the license agreement on; continuing\n");
    return true;
  }
  const Language lang = LanguageFromConfig(config);
  ApplyLanguageDirection(lang);

  EulaRun run;
  run.loop = g_main_loop_new(nullptr, FALSE);
  run.window = NewWindow(Tr(lang, txt::kEulaTitle), 600, 560, false);
  g_signal_connect(run.window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer r) {
                     static_cast<EulaRun*>(r)->window = nullptr;
                     g_main_loop_quit(static_cast<EulaRun*>(r)->loop);
                   }),
                   &run);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(box), 16);
  gtk_container_add(GTK_CONTAINER(run.window), box);
  gtk_box_pack_start(GTK_BOX(box), NewHeading(Tr(lang, txt::kEulaHeading)), FALSE, FALSE, 0);

  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 8);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 8);
  std::string text = EulaPlainText(context.eula_html, lang);
  if (lang == Language::kArabic) {
    // A right-to-left mark at the head of every paragraph: Pango takes each
    // paragraph's direction from its first letter, and some begin with
    // "Lumicast".
    std::string marked = "\u200f";
    for (char c : text) {
      marked += c;
      if (c == '\n') marked += "\u200f";
    }
    text = std::move(marked);
  }
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(), -1);
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(scroll), view);
  gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);

  GtkWidget* full = NewLinkButton(Tr(lang, txt::kViewFullAgreement));
  OnSignal(full, "clicked", [&context, &hooks] {
    const std::string path = WriteEulaFile(context.eula_html);
    if (!path.empty()) hooks.open_url(path);
  });
  gtk_box_pack_start(GTK_BOX(box), full, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* agree = gtk_button_new_with_label(Tr(lang, txt::kAgree));
  gtk_style_context_add_class(gtk_widget_get_style_context(agree), "suggested-action");
  GtkWidget* decline = gtk_button_new_with_label(Tr(lang, txt::kDecline));
  OnSignal(agree, "clicked", [&run] {
    // Accepted even if the save fails: the question then comes back at the
    // next interactive start.
    if (!SaveEulaAccepted()) LogLine("Desktop: could not save eula_accepted\n");
    run.accepted = true;
    gtk_widget_destroy(run.window);
  });
  OnSignal(decline, "clicked", [&run] { gtk_widget_destroy(run.window); });
  gtk_box_pack_end(GTK_BOX(buttons), decline, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(buttons), agree, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);

  // A stop signal while the question is open counts as declining.
  UniqueFd signals = OpenStopSignalFd();
  guint signal_source = 0;
  if (signals) {
    signal_source = g_unix_fd_add(
        signals.get(), G_IO_IN,
        +[](gint fd, GIOCondition, gpointer r) -> gboolean {
          auto* open = static_cast<EulaRun*>(r);
          if (ReadStopSignal(fd) && open->window) gtk_widget_destroy(open->window);
          return G_SOURCE_CONTINUE;
        },
        &run);
  }

  gtk_widget_show_all(run.window);
  gtk_widget_grab_focus(agree);
  gtk_window_present(GTK_WINDOW(run.window));
  g_main_loop_run(run.loop);
  if (signal_source) g_source_remove(signal_source);
  g_main_loop_unref(run.loop);
  return run.accepted;
}

}  // namespace lcx
