#include "desktop/admin_window.h"

#include <algorithm>
#include <iterator>

#include "core/config.h"
#include "core/log.h"
#include "desktop/actions.h"
#include "desktop/desktop_ui.h"
#include "desktop/gtk_util.h"
#include "video/capture_source.h"
#include "video/motion_detector.h"
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

GtkWidget* TextEntry(const std::string& value, int max_length, int width_chars) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
  gtk_entry_set_max_length(GTK_ENTRY(entry), max_length);
  gtk_entry_set_width_chars(GTK_ENTRY(entry), width_chars);
  gtk_widget_set_direction(entry, GTK_TEXT_DIR_LTR);  // names and URLs read left to right
  return entry;
}

// A hint under a field, across both columns.
void AddHint(GtkWidget* grid, int row, const char* text) {
  GtkWidget* hint = NewLabel(text, true);
  gtk_style_context_add_class(gtk_widget_get_style_context(hint), "dim-label");
  gtk_grid_attach(GTK_GRID(grid), hint, 0, row, 2, 1);
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

Language AdminWindow::lang() const { return ui_.language(); }

void AdminWindow::Open() {
  window_ = NewWindow(Tr(lang(), txt::kAdminTitle), 724, 600, false);
  ClearOnDestroy(window_, &window_);
  Build(0);
  gtk_window_present(GTK_WINDOW(window_));
}

void AdminWindow::Present() {
  gtk_window_deiconify(GTK_WINDOW(window_));
  gtk_window_present(GTK_WINDOW(window_));
}

void AdminWindow::Rebuild() { Build(gtk_notebook_get_current_page(GTK_NOTEBOOK(w_.notebook))); }

void AdminWindow::Build(int page) {
  if (GtkWidget* old = gtk_bin_get_child(GTK_BIN(window_))) gtk_widget_destroy(old);
  w_ = {};
  building_ = true;
  gtk_window_set_title(GTK_WINDOW(window_), Tr(lang(), txt::kAdminTitle));
  gtk_widget_set_direction(window_, gtk_widget_get_default_direction());

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 12);
  gtk_container_add(GTK_CONTAINER(window_), outer);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  if (auto icon = AppIconPixbuf(32)) {
    gtk_box_pack_start(GTK_BOX(top), gtk_image_new_from_pixbuf(icon.get()), FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(top), NewHeading(Tr(lang(), txt::kAdminTitle)), TRUE, TRUE, 0);
  GtkWidget* lang_button = gtk_button_new_with_label(Tr(lang(), txt::kLanguageButton));
  OnSignal(lang_button, "clicked", [this] { ui_.FlipLanguage(); });
  GtkWidget* about = gtk_button_new_with_label(Tr(lang(), txt::kAboutButton));
  OnSignal(about, "clicked", [this] { ui_.ShowAbout(window()); });
  gtk_box_pack_end(GTK_BOX(top), lang_button, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(top), about, FALSE, FALSE, 0);
  Pack(outer, top);

  w_.notebook = gtk_notebook_new();
  gtk_notebook_append_page(GTK_NOTEBOOK(w_.notebook), BuildStatusTab(), gtk_label_new(Tr(lang(), txt::kTabStatus)));
  gtk_notebook_append_page(GTK_NOTEBOOK(w_.notebook), BuildVideoTab(), gtk_label_new(Tr(lang(), txt::kTabVideo)));
  gtk_notebook_append_page(GTK_NOTEBOOK(w_.notebook), BuildNetworkTab(),
                           gtk_label_new(Tr(lang(), txt::kTabNetwork)));
  gtk_notebook_append_page(GTK_NOTEBOOK(w_.notebook), BuildUsersTab(), gtk_label_new(Tr(lang(), txt::kTabUsers)));
  gtk_box_pack_start(GTK_BOX(outer), w_.notebook, TRUE, TRUE, 0);

  GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* apply = gtk_button_new_with_label(Tr(lang(), txt::kApplyRestart));
  gtk_style_context_add_class(gtk_widget_get_style_context(apply), "suggested-action");
  OnSignal(apply, "clicked", [this] { OnApply(); });
  gtk_box_pack_end(GTK_BOX(bottom), apply, FALSE, FALSE, 0);
  Pack(outer, bottom);

  gtk_widget_show_all(window_);
  gtk_notebook_set_current_page(GTK_NOTEBOOK(w_.notebook), page);
  building_ = false;
}

// ---- Status ----------------------------------------------------------------

GtkWidget* AdminWindow::BuildStatusTab() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  w_.status_text = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  Pack(box, w_.status_text);
  Pack(box, DeviceIdRow(lang(), ui_.hooks().machine_id()));

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* web = gtk_button_new_with_label(Tr(lang(), txt::kOpenWebInBrowser));
  OnSignal(web, "clicked", [this] { ui_.OpenWebPanel(); });
  GtkWidget* refresh = gtk_button_new_with_label(Tr(lang(), txt::kRefresh));
  OnSignal(refresh, "clicked", [this] { RefreshStatus(); });
  w_.stream_button = gtk_button_new_with_label("");
  OnSignal(w_.stream_button, "clicked", [this] {
    ToggleStreamPaused();
    RefreshStatus();
  });
  Pack(buttons, web);
  Pack(buttons, refresh);
  Pack(buttons, w_.stream_button);
  if (ui_.context().share_again) {
    GtkWidget* share = gtk_button_new_with_label(Tr(lang(), txt::kMenuShareAgain));
    OnSignal(share, "clicked", [] { AskToShareScreenAgain(); });
    Pack(buttons, share);
  }
  Pack(box, buttons);
  RefreshStatus();
  return TabPage(box);
}

void AdminWindow::RefreshStatus() {
  gtk_container_foreach(GTK_CONTAINER(w_.status_text), [](GtkWidget* w, gpointer) { gtk_widget_destroy(w); },
                        nullptr);
  const std::string& ip = ui_.context().address;
  const bool paused = StreamPaused.load();
  const std::string rtsp_url =
      "rtsp://" + ip + ":" + std::to_string(ui_.context().rtsp_port) + "/" + ui_.context().main_stream;
  const std::string lines[] = {
      Tr(lang(), txt::kDeviceAddress) + ip,
      // One URL for TCP, UDP and the HTTP tunnel: the recorder picks its transport.
      "RTSP : " + LeftToRight(rtsp_url + "  (TCP, UDP, HTTP)"),
      "Multicast: " + LeftToRight(rtsp_url + "/multicast (" + ui_.context().multicast_group + ":" +
                                  std::to_string(ui_.context().multicast_port) + ")"),
      "ONVIF: " + LeftToRight("http://" + ip + ":" + std::to_string(ui_.context().onvif_port) + "/onvif/device_service"),
      ui_.context().web_admin
          ? Tr(lang(), txt::kWebPanel) + LeftToRight((ui_.context().web_tls ? "https://" : "http://") + ip + ":" +
                                                    std::to_string(ui_.context().web_port) + "/")
          : std::string(Tr(lang(), txt::kWebPanelOff)),
      Tr(lang(), paused ? txt::kStreamStopped : txt::kStreamRunning),
      Tr(lang(), CurrentMotion() ? txt::kMotionNow : txt::kMotionNone),
      Tr(lang(), txt::kVersion) + ui_.context().version,
  };
  for (const std::string& line : lines) {
    GtkWidget* label = NewLabel(line, true);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);  // addresses can be copied
    gtk_widget_set_can_focus(label, FALSE);  // or opening the window selects the first line
    Pack(w_.status_text, label);
  }
  gtk_widget_show_all(w_.status_text);
  gtk_button_set_label(GTK_BUTTON(w_.stream_button), Tr(lang(), paused ? txt::kStartStream : txt::kStopStream));
}

// ---- Video -----------------------------------------------------------------

GtkWidget* AdminWindow::BuildVideoTab() {
  const AdminFields f = AdminFieldsFromConfig(LoadConfig(ConfigPath()), ui_.context().defaults);
  GtkWidget* grid = NewGrid();
  w_.main_width = WidthCombo(lang(), kMainWidthChoices, std::size(kMainWidthChoices), f.main_width);
  w_.fps = NumberEntry(f.fps);
  w_.bitrate = NumberEntry(f.bitrate);
  w_.substream = Check(Tr(lang(), txt::kEnableSub), f.substream);
  w_.sub_width = WidthCombo(lang(), kSubWidthChoices, std::size(kSubWidthChoices), f.sub_width);
  w_.sub_bitrate = NumberEntry(f.sub_bitrate);
  AddRow(grid, 0, Tr(lang(), txt::kMainResolution), w_.main_width);
  AddRow(grid, 1, Tr(lang(), txt::kFps), w_.fps);
  AddRow(grid, 2, Tr(lang(), txt::kMainQuality), w_.bitrate);
  gtk_grid_attach(GTK_GRID(grid), w_.substream, 0, 3, 2, 1);
  AddRow(grid, 4, Tr(lang(), txt::kSubResolution), w_.sub_width);
  AddRow(grid, 5, Tr(lang(), txt::kSubQuality), w_.sub_bitrate);
  w_.monitor = TextEntry(f.monitor, 64, 16);
  gtk_widget_set_halign(w_.monitor, GTK_ALIGN_START);
  AddRow(grid, 6, Tr(lang(), txt::kMonitor), w_.monitor);
  AddHint(grid, 7, Tr(lang(), txt::kMonitorHint));
  w_.motion_sensitivity = NumberEntry(f.motion_sensitivity);
  w_.motion_hold_s = NumberEntry(f.motion_hold_s);
  AddRow(grid, 8, Tr(lang(), txt::kMotionSensitivity), w_.motion_sensitivity);
  AddRow(grid, 9, Tr(lang(), txt::kMotionHold), w_.motion_hold_s);
  AddHint(grid, 10, Tr(lang(), txt::kMotionHint));
  return TabPage(grid);
}

// ---- Network ---------------------------------------------------------------

GtkWidget* AdminWindow::BuildNetworkTab() {
  const AdminFields f = AdminFieldsFromConfig(LoadConfig(ConfigPath()), ui_.context().defaults);
  GtkWidget* grid = NewGrid();
  w_.rtsp_port = NumberEntry(f.rtsp_port);
  w_.onvif_port = NumberEntry(f.onvif_port);
  w_.web_port = NumberEntry(f.web_port);
  w_.web_admin = Check(Tr(lang(), txt::kEnableWeb), f.web_admin);
  w_.web_tls = Check(Tr(lang(), txt::kWebTls), f.web_tls);
  w_.stream_auth = Check(Tr(lang(), txt::kSecureStream), f.stream_auth);
  w_.device_name = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(w_.device_name), f.device_name.c_str());
  gtk_entry_set_max_length(GTK_ENTRY(w_.device_name), 48);
  w_.autostart = Check(Tr(lang(), txt::kAutostart), AutostartEnabled());
  w_.show_icon = Check(Tr(lang(), txt::kShowTrayIcon), ui_.icon_shown());

  AddRow(grid, 0, Tr(lang(), txt::kRtspPort), w_.rtsp_port);
  AddRow(grid, 1, Tr(lang(), txt::kOnvifPort), w_.onvif_port);
  AddRow(grid, 2, Tr(lang(), txt::kWebPort), w_.web_port);
  gtk_grid_attach(GTK_GRID(grid), w_.web_admin, 0, 3, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), w_.web_tls, 0, 4, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), w_.stream_auth, 0, 5, 2, 1);
  AddRow(grid, 6, Tr(lang(), txt::kDeviceName), w_.device_name);
  w_.push_url = TextEntry(f.push_url, 255, 40);
  AddRow(grid, 7, Tr(lang(), txt::kPushUrl), w_.push_url);
  AddHint(grid, 8, Tr(lang(), txt::kPushUrlHint));
  gtk_grid_attach(GTK_GRID(grid), w_.autostart, 0, 9, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), w_.show_icon, 0, 10, 2, 1);

  OnSignal(w_.stream_auth, "toggled", [this] {
    if (!building_ && Active(w_.stream_auth))
      ui_.Say(window(), txt::kSecureWarning, BoxKind::kWarning);
  });
  OnSignal(w_.autostart, "toggled", [this] {
    if (building_) return;
    // Acts at once; a failure is silent, and the box shows what is there.
    SetAutostart(Active(w_.autostart), ui_.context().exe_path, ui_.context().exe_dir);
  });
  OnSignal(w_.show_icon, "toggled", [this] {
    if (building_) return;
    const bool shown = Active(w_.show_icon);
    ui_.set_icon_shown(shown);
    if (!shown) ui_.Say(window(), txt::kIconHiddenNotice, BoxKind::kInfo);
  });
  return TabPage(grid);
}

void AdminWindow::IconShownChanged(bool shown) {
  if (!window_ || !w_.show_icon) return;
  building_ = true;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w_.show_icon), shown);
  building_ = false;
}

// ---- Users -----------------------------------------------------------------

GtkWidget* AdminWindow::BuildUsersTab() {
  const ConfigMap config = LoadConfig(ConfigPath());
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);

  GtkWidget* grid = NewGrid();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  w_.user = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(w_.user), SettingText(config, "admin_user").c_str());
  gtk_entry_set_max_length(GTK_ENTRY(w_.user), 32);
  w_.password = gtk_entry_new();
  w_.confirm = gtk_entry_new();
  for (GtkWidget* e : {w_.password, w_.confirm}) {
    gtk_entry_set_visibility(GTK_ENTRY(e), FALSE);
    gtk_entry_set_max_length(GTK_ENTRY(e), 128);  // longer than allowed, so "too long" can be told
  }
  AddRow(grid, 0, Tr(lang(), txt::kUsername), w_.user);
  AddRow(grid, 1, Tr(lang(), txt::kNewPassword), w_.password);
  AddRow(grid, 2, Tr(lang(), txt::kConfirmPassword), w_.confirm);
  Pack(box, grid);
  Pack(box, NewLabel(Tr(lang(), txt::kCredentialsHint), true));
  GtkWidget* change = gtk_button_new_with_label(Tr(lang(), txt::kChangeCredentials));
  gtk_widget_set_halign(change, GTK_ALIGN_START);
  OnSignal(change, "clicked", [this] { OnChangeCredentials(); });
  Pack(box, change);

  Pack(box, gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
  Pack(box, NewHeading(Tr(lang(), txt::kRecoveryHeading)));
  Pack(box, NewLabel(Tr(lang(), txt::kRecoveryText), true));
  Pack(box, DeviceIdRow(lang(), ui_.hooks().machine_id()));
  GtkWidget* code_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  Pack(code_row, NewLabel(Tr(lang(), txt::kRecoveryCode)));
  w_.recovery_code = gtk_entry_new();
  gtk_widget_set_direction(w_.recovery_code, GTK_TEXT_DIR_LTR);
  gtk_box_pack_start(GTK_BOX(code_row), w_.recovery_code, TRUE, TRUE, 0);
  GtkWidget* recover = gtk_button_new_with_label(Tr(lang(), txt::kRecover));
  OnSignal(recover, "clicked", [this] { ui_.Recover(window(), w_.recovery_code); });
  Pack(code_row, recover);
  Pack(box, code_row);

  Pack(box, gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
  Pack(box, NewHeading(Tr(lang(), txt::kFactoryHeading)));
  GtkWidget* warning = NewLabel(Tr(lang(), txt::kFactoryWarning), true);
  gtk_style_context_add_class(gtk_widget_get_style_context(warning), "lcx-warning");
  Pack(box, warning);
  GtkWidget* reset = gtk_button_new_with_label(Tr(lang(), txt::kFactoryButton));
  gtk_style_context_add_class(gtk_widget_get_style_context(reset), "destructive-action");
  gtk_widget_set_halign(reset, GTK_ALIGN_START);
  OnSignal(reset, "clicked", [this] { OnFactoryReset(); });
  Pack(box, reset);
  return TabPage(box);
}

// ---- actions ---------------------------------------------------------------

void AdminWindow::OnApply() {
  AdminFields f;
  f.main_width = ComboWidth(w_.main_width);
  f.fps = EntryText(w_.fps);
  f.bitrate = EntryText(w_.bitrate);
  f.substream = Active(w_.substream);
  f.sub_width = ComboWidth(w_.sub_width);
  f.sub_bitrate = EntryText(w_.sub_bitrate);
  f.rtsp_port = EntryText(w_.rtsp_port);
  f.onvif_port = EntryText(w_.onvif_port);
  f.web_port = EntryText(w_.web_port);
  f.web_admin = Active(w_.web_admin);
  f.web_tls = Active(w_.web_tls);
  f.stream_auth = Active(w_.stream_auth);
  f.device_name = EntryText(w_.device_name);
  f.monitor = EntryText(w_.monitor);
  f.push_url = EntryText(w_.push_url);
  f.motion_sensitivity = EntryText(w_.motion_sensitivity);
  f.motion_hold_s = EntryText(w_.motion_hold_s);
  // Said, not dropped: a name left out of the save looked saved.
  if (const Text* problem = InvalidFieldMessage(f)) {
    ui_.Say(window(), *problem, BoxKind::kError);
    return;
  }
  const ConfigMap updates = ApplyUpdates(f);
  if (!ui_.Ask(window(), txt::kAskApply, "OK")) return;
  if (!SaveConfigKeys(updates)) {
    ui_.Say(window(), txt::kSaveFailed, BoxKind::kError);
    return;
  }
  LogLine("Desktop: settings saved, restarting\n");
  ui_.hooks().relaunch();
}

void AdminWindow::OnChangeCredentials() {
  const CredentialsOutcome outcome =
      ChangeCredentials(EntryText(w_.user), EntryText(w_.password), EntryText(w_.confirm));
  const bool saved = outcome == CredentialsOutcome::kSaved;
  ui_.Say(window(), MessageFor(outcome), saved ? BoxKind::kInfo : BoxKind::kError);
  if (saved) {
    LogLine("Desktop: administrator credentials changed, restarting\n");
    ui_.hooks().relaunch();
  }
}

void AdminWindow::OnFactoryReset() {
  if (!ui_.Ask(window(), txt::kAskFactoryReset, Tr(lang(), txt::kFactoryHeading))) return;
  if (!FactoryReset()) {
    ui_.Say(window(), txt::kSaveFailed, BoxKind::kError);
    return;
  }
  LogLine("Desktop: factory reset, restarting\n");
  ui_.hooks().relaunch();
}

}  // namespace lcx
