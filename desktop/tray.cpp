#include "desktop/tray.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <string>

#include "core/log.h"
#include "desktop/gtk_util.h"
#include "platform/system.h"
#include "resources/app_icon.h"

// GtkStatusIcon is deprecated in GTK 3 but is the only XEmbed tray icon it
// has; it is what tray hosts without StatusNotifier support show.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace lcx {
namespace {

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";

// AppIndicator takes an icon by name from a folder: our own PNGs, written
// once to the runtime folder (private to the user).
std::string IndicatorIconFolder() {
  const std::string runtime = RuntimeDir();
  if (runtime.empty()) return {};
  const std::string dir = runtime + "/lumicast-icons";
  MakeDirectories(dir);
  for (int size : {22, 24, 32, 48, 64, 128}) {
    const auto png = AppIconPng(size);
    const std::string sized = dir + "/" + std::to_string(size);
    MakeDirectories(sized);
    WriteFileSynced(sized + "/lumicast.png", {reinterpret_cast<const char*>(png.data()), png.size()});
  }
  const auto png = AppIconPng(64);
  WriteFileSynced(dir + "/lumicast.png", {reinterpret_cast<const char*>(png.data()), png.size()});
  return dir;
}

bool SessionBusConfigured() {
  // Without an address GLib would start a bus of its own (dbus-launch) just
  // to find no watcher on it.
  if (GetEnv("DBUS_SESSION_BUS_ADDRESS").value_or("").size() > 0) return true;
  return FileExists(RuntimeDir() + "/bus");
}

}  // namespace

struct Tray::Impl {
  Language lang;
  bool shown;
  CommandFn on_command;
  ShownFn on_shown_changed;
  bool offer_share_again = false;
  GObjectPtr<GtkWidget> menu{};  // our reference, taken from the floating one
  GtkWidget* show_item = nullptr;  // owned by the menu
  GObjectPtr<GtkStatusIcon> status_icon{};
  GObjectPtr<AppIndicator> indicator{};
  guint watch_id = 0;
  bool removed = false;
  bool updating_menu = false;

  void BuildMenu() {
    ApplyLanguageDirection(lang);
    // Destroying takes the menu off screen and drops its children; the
    // reference we took goes with the reset (once it was never released).
    if (menu) gtk_widget_destroy(menu.get());
    menu.reset(GTK_WIDGET(g_object_ref_sink(gtk_menu_new())));
    GtkWidget* const shell = menu.get();
    auto add = [this, shell](const Text& text, TrayCommand command) {
      GtkWidget* item = command == TrayCommand::kShowIcon ? gtk_check_menu_item_new_with_label(Tr(lang, text))
                                                          : gtk_menu_item_new_with_label(Tr(lang, text));
      g_object_set_data(G_OBJECT(item), "lcx-command", GINT_TO_POINTER(static_cast<int>(command)));
      g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* it, gpointer self) {
                         static_cast<Impl*>(self)->Command(static_cast<TrayCommand>(
                             GPOINTER_TO_INT(g_object_get_data(G_OBJECT(it), "lcx-command"))));
                       }),
                       this);
      gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
      return item;
    };
    add(txt::kMenuOpenPanel, TrayCommand::kOpenPanel);
    add(txt::kMenuOpenWeb, TrayCommand::kOpenWeb);
    add(txt::kMenuAbout, TrayCommand::kAbout);
    if (offer_share_again) add(txt::kMenuShareAgain, TrayCommand::kShareAgain);
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), gtk_separator_menu_item_new());
    show_item = add(txt::kMenuShowIcon, TrayCommand::kShowIcon);
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), gtk_separator_menu_item_new());
    add(txt::kMenuExit, TrayCommand::kExit);
    SyncCheck();
    gtk_widget_show_all(shell);
    if (indicator) SetIndicatorMenu();
  }

  void SyncCheck() {
    updating_menu = true;
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(show_item), shown);
    updating_menu = false;
  }

  void Command(TrayCommand command) {
    if (command == TrayCommand::kShowIcon) {
      if (updating_menu) return;
      SetShown(!shown);
      on_shown_changed(shown);
      return;
    }
    on_command(command);
  }

  void SetShown(bool on) {
    shown = on;
    SyncCheck();
    if (status_icon) gtk_status_icon_set_visible(status_icon.get(), on);
    if (indicator)
      app_indicator_set_status(indicator.get(), on ? APP_INDICATOR_STATUS_ACTIVE : APP_INDICATOR_STATUS_PASSIVE);
  }

  void SetIndicatorMenu() {
    app_indicator_set_menu(indicator.get(), GTK_MENU(menu.get()));
    // The host's middle click (or its "activate") opens the control panel.
    GListPtr items(gtk_container_get_children(GTK_CONTAINER(menu.get())));
    if (items) app_indicator_set_secondary_activate_target(indicator.get(), GTK_WIDGET(items->data));
  }

  void UseStatusIcon() {
    DropIndicator();
    if (status_icon || removed) return;
    status_icon.reset(gtk_status_icon_new_from_pixbuf(AppIconPixbuf(64).get()));
    GtkStatusIcon* const si = status_icon.get();
    gtk_status_icon_set_name(si, "lumicast");
    gtk_status_icon_set_title(si, "Lumicast");
    gtk_status_icon_set_tooltip_text(si, Tr(lang, txt::kTrayTip));
    g_signal_connect(si, "size-changed", G_CALLBACK(+[](GtkStatusIcon* icon, gint size, gpointer) {
                       // The smallest drawn size that fills the slot.
                       int pick = 256;
                       for (int s : kAppIconSizes)
                         if (s >= size) { pick = s; break; }
                       if (auto p = AppIconPixbuf(pick)) gtk_status_icon_set_from_pixbuf(icon, p.get());
                       return TRUE;
                     }),
                     nullptr);
    g_signal_connect(si, "button-press-event",
                     G_CALLBACK(+[](GtkStatusIcon*, GdkEventButton* event, gpointer self) {
                       if (event->button == 1 && event->type == GDK_2BUTTON_PRESS)
                         static_cast<Impl*>(self)->on_command(TrayCommand::kOpenPanel);
                       return FALSE;
                     }),
                     this);
    g_signal_connect(si, "popup-menu", G_CALLBACK(+[](GtkStatusIcon*, guint, guint, gpointer self) {
                       auto* impl = static_cast<Impl*>(self);
                       gtk_menu_popup_at_pointer(GTK_MENU(impl->menu.get()), gtk_get_current_event());
                     }),
                     this);
    gtk_status_icon_set_visible(si, shown);
  }

  void DropStatusIcon() {
    if (!status_icon) return;
    gtk_status_icon_set_visible(status_icon.get(), FALSE);
    status_icon.reset();
  }

  void UseIndicator() {
    DropStatusIcon();
    if (indicator || removed) return;
    const std::string folder = IndicatorIconFolder();
    indicator.reset(app_indicator_new_with_path("lumicast", "lumicast", APP_INDICATOR_CATEGORY_APPLICATION_STATUS,
                                                folder.c_str()));
    app_indicator_set_title(indicator.get(), Tr(lang, txt::kTrayTip));
    SetIndicatorMenu();
    app_indicator_set_status(indicator.get(), shown ? APP_INDICATOR_STATUS_ACTIVE : APP_INDICATOR_STATUS_PASSIVE);
    LogLine("Desktop: tray icon as a StatusNotifier item\n");
  }

  void DropIndicator() {
    if (!indicator) return;
    app_indicator_set_status(indicator.get(), APP_INDICATOR_STATUS_PASSIVE);
    indicator.reset();
  }
};

Tray::Tray(Language lang, bool shown, CommandFn on_command, ShownFn on_shown_changed, bool offer_share_again)
    : impl_(new Impl{lang, shown, std::move(on_command), std::move(on_shown_changed), offer_share_again}) {
  impl_->BuildMenu();
  impl_->UseStatusIcon();
  if (SessionBusConfigured()) {
    impl_->watch_id = g_bus_watch_name(
        G_BUS_TYPE_SESSION, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, gpointer self) { static_cast<Impl*>(self)->UseIndicator(); },
        +[](GDBusConnection*, const gchar*, gpointer self) { static_cast<Impl*>(self)->UseStatusIcon(); },
        impl_.get(), nullptr);
  }
}

Tray::~Tray() {
  Remove();
  if (impl_->menu) gtk_widget_destroy(impl_->menu.get());
}

bool Tray::shown() const { return impl_->shown; }
void Tray::SetShown(bool shown) { impl_->SetShown(shown); }

void Tray::SetLanguage(Language lang) {
  impl_->lang = lang;
  impl_->BuildMenu();
  if (impl_->status_icon) gtk_status_icon_set_tooltip_text(impl_->status_icon.get(), Tr(lang, txt::kTrayTip));
  if (impl_->indicator) app_indicator_set_title(impl_->indicator.get(), Tr(lang, txt::kTrayTip));
}

void Tray::Remove() {
  impl_->removed = true;
  if (impl_->watch_id) g_bus_unwatch_name(impl_->watch_id);
  impl_->watch_id = 0;
  impl_->DropStatusIcon();
  impl_->DropIndicator();
}

}  // namespace lcx
