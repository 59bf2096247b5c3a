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
  const std::string dir = RuntimeDir() + "/lumicast-icons";
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
  GtkWidget* menu = nullptr;
  GtkWidget* show_item = nullptr;
  GtkStatusIcon* status_icon = nullptr;
  AppIndicator* indicator = nullptr;
  guint watch_id = 0;
  bool removed = false;
  bool updating_menu = false;

  void BuildMenu() {
    ApplyLanguageDirection(lang);
    if (menu) gtk_widget_destroy(menu);
    menu = gtk_menu_new();
    g_object_ref_sink(menu);
    auto add = [this](const Text& text, TrayCommand command) {
      GtkWidget* item = command == TrayCommand::kShowIcon ? gtk_check_menu_item_new_with_label(Tr(lang, text))
                                                          : gtk_menu_item_new_with_label(Tr(lang, text));
      g_object_set_data(G_OBJECT(item), "lcx-command", GINT_TO_POINTER(static_cast<int>(command)));
      g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* it, gpointer self) {
                         static_cast<Impl*>(self)->Command(static_cast<TrayCommand>(
                             GPOINTER_TO_INT(g_object_get_data(G_OBJECT(it), "lcx-command"))));
                       }),
                       this);
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
      return item;
    };
    add(txt::kMenuOpenPanel, TrayCommand::kOpenPanel);
    add(txt::kMenuOpenWeb, TrayCommand::kOpenWeb);
    add(txt::kMenuAbout, TrayCommand::kAbout);
    if (offer_share_again) add(txt::kMenuShareAgain, TrayCommand::kShareAgain);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    show_item = add(txt::kMenuShowIcon, TrayCommand::kShowIcon);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    add(txt::kMenuExit, TrayCommand::kExit);
    SyncCheck();
    gtk_widget_show_all(menu);
    if (indicator) app_indicator_set_menu(indicator, GTK_MENU(menu));
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
    if (status_icon) gtk_status_icon_set_visible(status_icon, on);
    if (indicator)
      app_indicator_set_status(indicator, on ? APP_INDICATOR_STATUS_ACTIVE : APP_INDICATOR_STATUS_PASSIVE);
  }

  void UseStatusIcon() {
    DropIndicator();
    if (status_icon || removed) return;
    GdkPixbuf* pixbuf = AppIconPixbuf(64);
    status_icon = gtk_status_icon_new_from_pixbuf(pixbuf);
    if (pixbuf) g_object_unref(pixbuf);
    gtk_status_icon_set_name(status_icon, "lumicast");
    gtk_status_icon_set_title(status_icon, "Lumicast");
    gtk_status_icon_set_tooltip_text(status_icon, Tr(lang, txt::kTrayTip));
    g_signal_connect(status_icon, "size-changed", G_CALLBACK(+[](GtkStatusIcon* icon, gint size, gpointer) {
                       // The smallest drawn size that fills the slot.
                       int pick = 256;
                       for (int s : kAppIconSizes)
                         if (s >= size) { pick = s; break; }
                       if (GdkPixbuf* p = AppIconPixbuf(pick)) {
                         gtk_status_icon_set_from_pixbuf(icon, p);
                         g_object_unref(p);
                       }
                       return TRUE;
                     }),
                     nullptr);
    g_signal_connect(status_icon, "button-press-event",
                     G_CALLBACK(+[](GtkStatusIcon*, GdkEventButton* event, gpointer self) {
                       if (event->button == 1 && event->type == GDK_2BUTTON_PRESS)
                         static_cast<Impl*>(self)->on_command(TrayCommand::kOpenPanel);
                       return FALSE;
                     }),
                     this);
    g_signal_connect(status_icon, "popup-menu", G_CALLBACK(+[](GtkStatusIcon*, guint, guint, gpointer self) {
                       auto* impl = static_cast<Impl*>(self);
                       gtk_menu_popup_at_pointer(GTK_MENU(impl->menu), gtk_get_current_event());
                     }),
                     this);
    gtk_status_icon_set_visible(status_icon, shown);
  }

  void DropStatusIcon() {
    if (!status_icon) return;
    gtk_status_icon_set_visible(status_icon, FALSE);
    g_object_unref(status_icon);
    status_icon = nullptr;
  }

  void UseIndicator() {
    DropStatusIcon();
    if (indicator || removed) return;
    const std::string folder = IndicatorIconFolder();
    indicator = app_indicator_new_with_path("lumicast", "lumicast", APP_INDICATOR_CATEGORY_APPLICATION_STATUS,
                                            folder.c_str());
    app_indicator_set_title(indicator, Tr(lang, txt::kTrayTip));
    app_indicator_set_menu(indicator, GTK_MENU(menu));
    // The host's middle click (or its "activate") opens the control panel.
    app_indicator_set_secondary_activate_target(indicator,
                                                GTK_WIDGET(gtk_container_get_children(GTK_CONTAINER(menu))->data));
    app_indicator_set_status(indicator, shown ? APP_INDICATOR_STATUS_ACTIVE : APP_INDICATOR_STATUS_PASSIVE);
    LogLine("Desktop: tray icon as a StatusNotifier item\n");
  }

  void DropIndicator() {
    if (!indicator) return;
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(indicator);
    indicator = nullptr;
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
  if (impl_->menu) {
    gtk_widget_destroy(impl_->menu);
    g_object_unref(impl_->menu);
  }
}

bool Tray::shown() const { return impl_->shown; }
void Tray::SetShown(bool shown) { impl_->SetShown(shown); }

void Tray::SetLanguage(Language lang) {
  impl_->lang = lang;
  impl_->BuildMenu();
  if (impl_->status_icon) gtk_status_icon_set_tooltip_text(impl_->status_icon, Tr(lang, txt::kTrayTip));
  if (impl_->indicator) app_indicator_set_title(impl_->indicator, Tr(lang, txt::kTrayTip));
}

void Tray::Remove() {
  impl_->removed = true;
  if (impl_->watch_id) g_bus_unwatch_name(impl_->watch_id);
  impl_->watch_id = 0;
  impl_->DropStatusIcon();
  impl_->DropIndicator();
}

}  // namespace lcx
