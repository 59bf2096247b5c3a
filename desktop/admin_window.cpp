// The admin window ("Lumicast — Control Panel | Halvorix", 724 x 600, not
// resizable): Status, Video, Network and Users tabs over "Apply & restart".
// Fields are filled from the configuration file each time it is built.
#include <algorithm>
#include <iterator>

#include "core/config.h"
#include "core/log.h"
#include "desktop/actions.h"
#include "desktop/desktop_ui.h"
#include "desktop/gtk_util.h"
#include "video/capture_source.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

GtkWidget* NewGrid() {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 10);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  return grid;
}

// A tab page: padded, scrolling only if a language's texts need more room.
GtkWidget* TabPage(GtkWidget* content) {
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(scroll), content);
  return scroll;
}

GtkWidget* NumberEntry(const std::string& value) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
  gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_DIGITS);
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 8);
  gtk_entry_set_max_length(GTK_ENTRY(entry), 10);
  gtk_widget_set_halign(entry, GTK_ALIGN_START);
  return entry;
}

GtkWidget* Check(const char* label, bool active) {
  GtkWidget* check = gtk_check_button_new_with_label(label);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), active);
  return check;
}

bool Active(GtkWidget* toggle) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)); }

// Width choices; a width the file holds that is not offered is added, so
// applying other settings does not change it behind the user's back.
GtkWidget* WidthCombo(Language lang, const int32_t* choices, size_t count, int32_t current) {
  GtkWidget* combo = gtk_combo_box_text_new();
  std::vector<int32_t> widths(choices, choices + count);
  if (std::find(widths.begin(), widths.end(), current) == widths.end()) widths.push_back(current);
  for (int32_t w : widths) {
    const std::string id = std::to_string(w);
    const std::string label = w == 0 ? Tr(lang, txt::kFullScreen) : id + Tr(lang, txt::kWidthPixels);
    gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(combo), id.c_str(), label.c_str());
  }
  gtk_combo_box_set_active_id(GTK_COMBO_BOX(combo), std::to_string(current).c_str());
  gtk_widget_set_halign(combo, GTK_ALIGN_START);
  return combo;
}

int32_t ComboWidth(GtkWidget* combo) {
  const gchar* id = gtk_combo_box_get_active_id(GTK_COMBO_BOX(combo));
  return id ? ParseLeadingInt(id) : 0;
}

void Pack(GtkWidget* box, GtkWidget* child) { gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0); }

}  // namespace

void DesktopUi::OpenAdmin() {
  admin_ = NewWindow(Tr(lang_, txt::kAdminTitle), 724, 600, false);
  ClearOnDestroy(admin_, &admin_);
  BuildAdminContent(0);
  gtk_window_present(GTK_WINDOW(admin_));
}

void DesktopUi::BuildAdminContent(int page) {
  if (GtkWidget* old = gtk_bin_get_child(GTK_BIN(admin_))) gtk_widget_destroy(old);
  aw_ = {};
  building_ = true;
  gtk_window_set_title(GTK_WINDOW(admin_), Tr(lang_, txt::kAdminTitle));
  gtk_widget_set_direction(admin_, gtk_widget_get_default_direction());

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 12);
  gtk_container_add(GTK_CONTAINER(admin_), outer);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  if (GdkPixbuf* icon = AppIconPixbuf(32)) {
    gtk_box_pack_start(GTK_BOX(top), gtk_image_new_from_pixbuf(icon), FALSE, FALSE, 0);
    g_object_unref(icon);
  }
  gtk_box_pack_start(GTK_BOX(top), NewHeading(Tr(lang_, txt::kAdminTitle)), TRUE, TRUE, 0);
  GtkWidget* lang_button = gtk_button_new_with_label(Tr(lang_, txt::kLanguageButton));
  OnSignal(lang_button, "clicked", [this] { FlipLanguage(); });
  GtkWidget* about = gtk_button_new_with_label(Tr(lang_, txt::kAboutButton));
  OnSignal(about, "clicked", [this] { ShowAbout(admin_window()); });
  gtk_box_pack_end(GTK_BOX(top), lang_button, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(top), about, FALSE, FALSE, 0);
  Pack(outer, top);

  aw_.notebook = gtk_notebook_new();
  gtk_notebook_append_page(GTK_NOTEBOOK(aw_.notebook), BuildStatusTab(), gtk_label_new(Tr(lang_, txt::kTabStatus)));
  gtk_notebook_append_page(GTK_NOTEBOOK(aw_.notebook), BuildVideoTab(), gtk_label_new(Tr(lang_, txt::kTabVideo)));
  gtk_notebook_append_page(GTK_NOTEBOOK(aw_.notebook), BuildNetworkTab(),
                           gtk_label_new(Tr(lang_, txt::kTabNetwork)));
  gtk_notebook_append_page(GTK_NOTEBOOK(aw_.notebook), BuildUsersTab(), gtk_label_new(Tr(lang_, txt::kTabUsers)));
  gtk_box_pack_start(GTK_BOX(outer), aw_.notebook, TRUE, TRUE, 0);

  GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* apply = gtk_button_new_with_label(Tr(lang_, txt::kApplyRestart));
  gtk_style_context_add_class(gtk_widget_get_style_context(apply), "suggested-action");
  OnSignal(apply, "clicked", [this] { OnApply(); });
  gtk_box_pack_end(GTK_BOX(bottom), apply, FALSE, FALSE, 0);
  Pack(outer, bottom);

  gtk_widget_show_all(admin_);
  gtk_notebook_set_current_page(GTK_NOTEBOOK(aw_.notebook), page);
  building_ = false;
}

// ---- Status ----------------------------------------------------------------

GtkWidget* DesktopUi::BuildStatusTab() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  aw_.status_text = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  Pack(box, aw_.status_text);
  Pack(box, DeviceIdRow());

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* web = gtk_button_new_with_label(Tr(lang_, txt::kOpenWebInBrowser));
  OnSignal(web, "clicked", [this] { OpenWebPanel(); });
  GtkWidget* refresh = gtk_button_new_with_label(Tr(lang_, txt::kRefresh));
  OnSignal(refresh, "clicked", [this] { RefreshStatus(); });
  aw_.stream_button = gtk_button_new_with_label("");
  OnSignal(aw_.stream_button, "clicked", [this] {
    ToggleStreamPaused();
    RefreshStatus();
  });
  Pack(buttons, web);
  Pack(buttons, refresh);
  Pack(buttons, aw_.stream_button);
  if (context_.share_again) {
    GtkWidget* share = gtk_button_new_with_label(Tr(lang_, txt::kMenuShareAgain));
    OnSignal(share, "clicked", [] { AskToShareScreenAgain(); });
    Pack(buttons, share);
  }
  Pack(box, buttons);
  RefreshStatus();
  return TabPage(box);
}

void DesktopUi::RefreshStatus() {
  gtk_container_foreach(GTK_CONTAINER(aw_.status_text), [](GtkWidget* w, gpointer) { gtk_widget_destroy(w); },
                        nullptr);
  const std::string& ip = context_.address;
  const bool paused = StreamPaused.load();
  const std::string lines[] = {
      Tr(lang_, txt::kDeviceAddress) + ip,
      "RTSP : " + LeftToRight("rtsp://" + ip + ":" + std::to_string(context_.rtsp_port) + "/" + context_.main_stream),
      "ONVIF: " + LeftToRight("http://" + ip + ":" + std::to_string(context_.onvif_port) + "/onvif/device_service"),
      context_.web_admin
          ? Tr(lang_, txt::kWebPanel) + LeftToRight("http://" + ip + ":" + std::to_string(context_.web_port) + "/")
          : std::string(Tr(lang_, txt::kWebPanelOff)),
      Tr(lang_, paused ? txt::kStreamStopped : txt::kStreamRunning),
      Tr(lang_, txt::kVersion) + context_.version,
  };
  for (const std::string& line : lines) {
    GtkWidget* label = NewLabel(line, true);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);  // addresses can be copied
    gtk_widget_set_can_focus(label, FALSE);  // or opening the window selects the first line
    Pack(aw_.status_text, label);
  }
  gtk_widget_show_all(aw_.status_text);
  gtk_button_set_label(GTK_BUTTON(aw_.stream_button), Tr(lang_, paused ? txt::kStartStream : txt::kStopStream));
}

// ---- Video -----------------------------------------------------------------

GtkWidget* DesktopUi::BuildVideoTab() {
  const AdminFields f = AdminFieldsFromConfig(LoadConfig(ConfigPath()));
  GtkWidget* grid = NewGrid();
  aw_.main_width = WidthCombo(lang_, kMainWidthChoices, std::size(kMainWidthChoices), f.main_width);
  aw_.fps = NumberEntry(f.fps);
  aw_.bitrate = NumberEntry(f.bitrate);
  aw_.substream = Check(Tr(lang_, txt::kEnableSub), f.substream);
  aw_.sub_width = WidthCombo(lang_, kSubWidthChoices, std::size(kSubWidthChoices), f.sub_width);
  aw_.sub_bitrate = NumberEntry(f.sub_bitrate);
  AddRow(grid, 0, Tr(lang_, txt::kMainResolution), aw_.main_width);
  AddRow(grid, 1, Tr(lang_, txt::kFps), aw_.fps);
  AddRow(grid, 2, Tr(lang_, txt::kMainQuality), aw_.bitrate);
  gtk_grid_attach(GTK_GRID(grid), aw_.substream, 0, 3, 2, 1);
  AddRow(grid, 4, Tr(lang_, txt::kSubResolution), aw_.sub_width);
  AddRow(grid, 5, Tr(lang_, txt::kSubQuality), aw_.sub_bitrate);
  return TabPage(grid);
}

// ---- Network ---------------------------------------------------------------

GtkWidget* DesktopUi::BuildNetworkTab() {
  const AdminFields f = AdminFieldsFromConfig(LoadConfig(ConfigPath()));
  GtkWidget* grid = NewGrid();
  aw_.rtsp_port = NumberEntry(f.rtsp_port);
  aw_.onvif_port = NumberEntry(f.onvif_port);
  aw_.web_port = NumberEntry(f.web_port);
  aw_.web_admin = Check(Tr(lang_, txt::kEnableWeb), f.web_admin);
  aw_.stream_auth = Check(Tr(lang_, txt::kSecureStream), f.stream_auth);
  aw_.device_name = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(aw_.device_name), f.device_name.c_str());
  gtk_entry_set_max_length(GTK_ENTRY(aw_.device_name), 48);
  aw_.autostart = Check(Tr(lang_, txt::kAutostart), AutostartEnabled());
  aw_.show_icon = Check(Tr(lang_, txt::kShowTrayIcon), icon_shown());

  AddRow(grid, 0, Tr(lang_, txt::kRtspPort), aw_.rtsp_port);
  AddRow(grid, 1, Tr(lang_, txt::kOnvifPort), aw_.onvif_port);
  AddRow(grid, 2, Tr(lang_, txt::kWebPort), aw_.web_port);
  gtk_grid_attach(GTK_GRID(grid), aw_.web_admin, 0, 3, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), aw_.stream_auth, 0, 4, 2, 1);
  AddRow(grid, 5, Tr(lang_, txt::kDeviceName), aw_.device_name);
  gtk_grid_attach(GTK_GRID(grid), aw_.autostart, 0, 6, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), aw_.show_icon, 0, 7, 2, 1);

  OnSignal(aw_.stream_auth, "toggled", [this] {
    if (!building_ && Active(aw_.stream_auth))
      Say(admin_window(), txt::kSecureWarning, BoxKind::kWarning);
  });
  OnSignal(aw_.autostart, "toggled", [this] {
    if (building_) return;
    // Acts at once; a failure is silent, and the box shows what is there.
    SetAutostart(Active(aw_.autostart), context_.exe_path, context_.exe_dir);
  });
  OnSignal(aw_.show_icon, "toggled", [this] {
    if (building_) return;
    const bool shown = Active(aw_.show_icon);
    set_icon_shown(shown);
    if (!shown) Say(admin_window(), txt::kIconHiddenNotice, BoxKind::kInfo);
  });
  return TabPage(grid);
}

void DesktopUi::IconShownChanged(bool shown) {
  if (!admin_ || !aw_.show_icon) return;
  building_ = true;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(aw_.show_icon), shown);
  building_ = false;
}

// ---- Users -----------------------------------------------------------------

GtkWidget* DesktopUi::BuildUsersTab() {
  const ConfigMap config = LoadConfig(ConfigPath());
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);

  GtkWidget* grid = NewGrid();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  aw_.user = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(aw_.user), GetString(config, "admin_user", "admin").c_str());
  gtk_entry_set_max_length(GTK_ENTRY(aw_.user), 48);
  aw_.password = gtk_entry_new();
  aw_.confirm = gtk_entry_new();
  for (GtkWidget* e : {aw_.password, aw_.confirm}) {
    gtk_entry_set_visibility(GTK_ENTRY(e), FALSE);
    gtk_entry_set_max_length(GTK_ENTRY(e), 128);  // longer than allowed, so "too long" can be told
  }
  AddRow(grid, 0, Tr(lang_, txt::kUsername), aw_.user);
  AddRow(grid, 1, Tr(lang_, txt::kNewPassword), aw_.password);
  AddRow(grid, 2, Tr(lang_, txt::kConfirmPassword), aw_.confirm);
  Pack(box, grid);
  Pack(box, NewLabel(Tr(lang_, txt::kCredentialsHint), true));
  GtkWidget* change = gtk_button_new_with_label(Tr(lang_, txt::kChangeCredentials));
  gtk_widget_set_halign(change, GTK_ALIGN_START);
  OnSignal(change, "clicked", [this] { OnChangeCredentials(); });
  Pack(box, change);

  Pack(box, gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
  Pack(box, NewHeading(Tr(lang_, txt::kRecoveryHeading)));
  Pack(box, NewLabel(Tr(lang_, txt::kRecoveryText), true));
  Pack(box, DeviceIdRow());
  GtkWidget* code_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  Pack(code_row, NewLabel(Tr(lang_, txt::kRecoveryCode)));
  aw_.recovery_code = gtk_entry_new();
  gtk_widget_set_direction(aw_.recovery_code, GTK_TEXT_DIR_LTR);
  gtk_box_pack_start(GTK_BOX(code_row), aw_.recovery_code, TRUE, TRUE, 0);
  GtkWidget* recover = gtk_button_new_with_label(Tr(lang_, txt::kRecover));
  OnSignal(recover, "clicked", [this] { OnRecover(admin_window(), aw_.recovery_code); });
  Pack(code_row, recover);
  Pack(box, code_row);

  Pack(box, gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
  Pack(box, NewHeading(Tr(lang_, txt::kFactoryHeading)));
  GtkWidget* warning = NewLabel(Tr(lang_, txt::kFactoryWarning), true);
  gtk_style_context_add_class(gtk_widget_get_style_context(warning), "lcx-warning");
  Pack(box, warning);
  GtkWidget* reset = gtk_button_new_with_label(Tr(lang_, txt::kFactoryButton));
  gtk_style_context_add_class(gtk_widget_get_style_context(reset), "destructive-action");
  gtk_widget_set_halign(reset, GTK_ALIGN_START);
  OnSignal(reset, "clicked", [this] { OnFactoryReset(); });
  Pack(box, reset);
  return TabPage(box);
}

// ---- actions ---------------------------------------------------------------

void DesktopUi::OnApply() {
  AdminFields f;
  f.main_width = ComboWidth(aw_.main_width);
  f.fps = EntryText(aw_.fps);
  f.bitrate = EntryText(aw_.bitrate);
  f.substream = Active(aw_.substream);
  f.sub_width = ComboWidth(aw_.sub_width);
  f.sub_bitrate = EntryText(aw_.sub_bitrate);
  f.rtsp_port = EntryText(aw_.rtsp_port);
  f.onvif_port = EntryText(aw_.onvif_port);
  f.web_port = EntryText(aw_.web_port);
  f.web_admin = Active(aw_.web_admin);
  f.stream_auth = Active(aw_.stream_auth);
  f.device_name = EntryText(aw_.device_name);
  const ConfigMap updates = ApplyUpdates(f);
  if (!Ask(admin_window(), txt::kAskApply, "OK")) return;
  if (!SaveConfigKeys(updates)) {
    Say(admin_window(), txt::kSaveFailed, BoxKind::kError);
    return;
  }
  LogLine("Desktop: settings saved, restarting\n");
  hooks_.relaunch();
}

void DesktopUi::OnChangeCredentials() {
  const CredentialsOutcome outcome =
      ChangeCredentials(EntryText(aw_.user), EntryText(aw_.password), EntryText(aw_.confirm));
  const bool saved = outcome == CredentialsOutcome::kSaved;
  Say(admin_window(), MessageFor(outcome), saved ? BoxKind::kInfo : BoxKind::kError);
  if (saved) {
    LogLine("Desktop: administrator credentials changed, restarting\n");
    hooks_.relaunch();
  }
}

void DesktopUi::OnFactoryReset() {
  if (!Ask(admin_window(), txt::kAskFactoryReset, Tr(lang_, txt::kFactoryHeading))) return;
  if (!FactoryReset()) {
    Say(admin_window(), txt::kSaveFailed, BoxKind::kError);
    return;
  }
  LogLine("Desktop: factory reset, restarting\n");
  hooks_.relaunch();
}

}  // namespace lcx
