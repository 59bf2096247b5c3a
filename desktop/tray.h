// The tray icon: a StatusNotifier item (AppIndicator) while a watcher owns
// org.kde.StatusNotifierWatcher on the session bus, else an XEmbed icon
// (GtkStatusIcon), switched whenever the watcher comes or goes. An XEmbed
// icon docks again by itself when a new tray manager appears, so a visible
// icon comes back after the panel restarts and a hidden one stays hidden.
// Main thread only.
#pragma once

#include <functional>
#include <memory>

#include "desktop/texts.h"

namespace lcx {

// The menu's commands, in the numbering the program has always used.
enum class TrayCommand {
  kOpenPanel = 200,
  kOpenWeb = 201,
  kShowIcon = 202,
  kExit = 203,
  kAbout = 204,
  kShareAgain = 205,  // only in the menu of a tray made with offer_share_again
};

class Tray {
 public:
  // Called with every command but kShowIcon, which the tray applies itself
  // (and reports through on_shown_changed).
  using CommandFn = std::function<void(TrayCommand)>;
  using ShownFn = std::function<void(bool shown)>;

  // offer_share_again: the menu has "Share the screen again" (the screen
  // comes through the desktop's portal, which the user may refuse or stop).
  Tray(Language lang, bool shown, CommandFn on_command, ShownFn on_shown_changed, bool offer_share_again = false);
  ~Tray();
  Tray(const Tray&) = delete;
  Tray& operator=(const Tray&) = delete;

  bool shown() const;
  // Shows or hides the icon; does not save anything.
  void SetShown(bool shown);
  // Rebuilds the menu and tool tip in another language.
  void SetLanguage(Language lang);
  // Takes the icon off the tray before the program ends.
  void Remove();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace lcx
