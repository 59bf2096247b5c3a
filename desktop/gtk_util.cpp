#include "desktop/gtk_util.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/log.h"
#include "platform/signals.h"

#include "resources/app_icon.h"

namespace lcx {
namespace {

int ReturnFromIOError(Display*) { return 0; }

// GTK cannot go on without its display, but the camera must: the servers
// outlive a log-out or a crash of the X server. The main thread stays here
// for good, waiting for the stop signal the desktop loop would have taken.
void OnDesktopDisplayLost(Display*, void*) {
  LogLine("Desktop: the display is gone; the tray icon and windows with it, the camera keeps running\n");
  WaitForStopSignal();
  std::fflush(stdout);
  std::_Exit(0);
}

// Background RGB(244, 247, 251) and a little air round the controls.
constexpr char kCss[] =
    "window.lcx { background-color: #f4f7fb; }\n"
    "window.lcx label.lcx-heading { font-weight: bold; font-size: 120%; color: #12306e; }\n"
    "window.lcx button.lcx-link { color: #1b4fd6; padding: 2px 4px; }\n"
    "window.lcx label.lcx-warning { color: #8a5a00; }\n"
    "window.lcx .lcx-mono { font-family: monospace; font-size: 9pt; }\n";

void InstallCss() {
  GObjectPtr<GtkCssProvider> css(gtk_css_provider_new());
  gtk_css_provider_load_from_data(css.get(), kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css.get()),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

GtkWidget* NewBox(GtkWindow* parent, Language lang, const Text& text, GtkMessageType type,
                  const char* caption) {
  GtkWidget* dialog = gtk_message_dialog_new(parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), type,
                                             GTK_BUTTONS_NONE, "%s", Tr(lang, text));
  gtk_window_set_title(GTK_WINDOW(dialog), caption);
  gtk_window_set_position(GTK_WINDOW(dialog), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_widget_set_size_request(dialog, 360, -1);
  return dialog;
}

}  // namespace

bool EnsureGtk() {
  static const bool ok = [] {
    if (!gtk_init_check(nullptr, nullptr)) return false;
    // GDK's own handler for a lost connection ends the process.
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_X11_DISPLAY(display)) {
      XSetIOErrorHandler(&ReturnFromIOError);
      XSetIOErrorExitHandler(gdk_x11_display_get_xdisplay(display), &OnDesktopDisplayLost, nullptr);
    }
    InstallCss();
    return true;
  }();
  return ok;
}

void ApplyLanguageDirection(Language lang) {
  gtk_widget_set_default_direction(lang == Language::kArabic ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR);
}

GObjectPtr<GdkPixbuf> AppIconPixbuf(int size) {
  const auto png = AppIconPng(size);
  if (png.empty()) return nullptr;
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type("png", nullptr));
  if (!loader || !gdk_pixbuf_loader_write(loader.get(), png.data(), png.size(), nullptr)) return nullptr;
  if (!gdk_pixbuf_loader_close(loader.get(), nullptr)) return nullptr;
  // The loader owns its pixbuf; the caller gets a reference of its own.
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
  return pixbuf ? Adopt(GDK_PIXBUF(g_object_ref(pixbuf))) : nullptr;
}

GtkWidget* NewWindow(const char* title, int width, int height, bool resizable) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  if (!resizable) gtk_widget_set_size_request(window, width, height);
  gtk_window_set_resizable(GTK_WINDOW(window), resizable);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  gtk_style_context_add_class(gtk_widget_get_style_context(window), "lcx");
  std::vector<GObjectPtr<GdkPixbuf>> pixbufs;
  GList* icons = nullptr;
  for (int size : {16, 32, 48, 64, 128}) {
    if (auto p = AppIconPixbuf(size)) {
      icons = g_list_append(icons, p.get());
      pixbufs.push_back(std::move(p));
    }
  }
  // The window takes its own references; ours go with `pixbufs`.
  gtk_window_set_icon_list(GTK_WINDOW(window), icons);
  g_list_free(icons);
  return window;
}

// Left-to-right marks on both sides: a trailing "/" of a URL then sits
// between two left-to-right characters and stays where it belongs.
std::string LeftToRight(const std::string& text) { return "\u200e" + text + "\u200e"; }

GtkWidget* NewLabel(const std::string& text, bool wrap) {
  // A right-to-left mark first: otherwise Pango takes the direction from the
  // first strong letter, and "Lumicast — ..." would be laid out left to right.
  const bool rtl = gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL;
  GtkWidget* label = gtk_label_new(((rtl ? "\u200f" : "") + text).c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);  // the start side: right in Arabic
  if (wrap) {
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  }
  return label;
}

GtkWidget* NewHeading(const std::string& text) {
  GtkWidget* label = NewLabel(text, true);
  gtk_style_context_add_class(gtk_widget_get_style_context(label), "lcx-heading");
  return label;
}

GtkWidget* NewLinkButton(const std::string& text) {
  GtkWidget* button = gtk_button_new_with_label(text.c_str());
  gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
  gtk_style_context_add_class(gtk_widget_get_style_context(button), "lcx-link");
  gtk_widget_set_halign(button, GTK_ALIGN_START);
  return button;
}

void AddRow(GtkWidget* grid, int row, const std::string& label, GtkWidget* field) {
  gtk_grid_attach(GTK_GRID(grid), NewLabel(label), 0, row, 1, 1);
  gtk_widget_set_hexpand(field, TRUE);
  gtk_grid_attach(GTK_GRID(grid), field, 1, row, 1, 1);
}

void ShowMessage(GtkWindow* parent, Language lang, const Text& text, BoxKind kind) {
  const GtkMessageType type = kind == BoxKind::kError     ? GTK_MESSAGE_ERROR
                              : kind == BoxKind::kWarning ? GTK_MESSAGE_WARNING
                                                          : GTK_MESSAGE_INFO;
  GtkWidget* dialog = NewBox(parent, lang, text, type, kind == BoxKind::kInfo ? "OK" : "!");
  gtk_dialog_add_button(GTK_DIALOG(dialog), Tr(lang, txt::kOk), GTK_RESPONSE_OK);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

bool AskOkCancel(GtkWindow* parent, Language lang, const Text& text, const char* caption) {
  GtkWidget* dialog = NewBox(parent, lang, text, GTK_MESSAGE_QUESTION, caption);
  gtk_dialog_add_button(GTK_DIALOG(dialog), Tr(lang, txt::kCancel), GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(dialog), Tr(lang, txt::kOk), GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  // Enter confirms and Escape cancels, as in every question box.
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));
  const bool ok = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
  gtk_widget_destroy(dialog);
  return ok;
}

std::string EntryText(GtkWidget* entry) { return gtk_entry_get_text(GTK_ENTRY(entry)); }

}  // namespace lcx
