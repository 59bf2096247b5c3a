// The ScreenCast portal conversation over the session bus (GDBus):
// CreateSession -> SelectSources (one monitor, cursor embedded, persist_mode 2
// with the stored restore token) -> Start -> OpenPipeWireRemote, then
// watching for the end of the session. Every call blocks the calling thread
// (the capture's own worker, never the desktop loop) and runs the signals on
// a main context of that thread only. Interrupt may be called from any
// thread. The connection is private: closing it ends the portal's session.
#pragma once

#include <glib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace lcx {

enum class PortalFailure {
  kNone,
  kNoBus,      // no session bus
  kNoPortal,   // nothing answers org.freedesktop.portal.ScreenCast
  kRefused,    // the user said no in the desktop's dialog
  kTimedOut,   // a call went unanswered
  kFailed,     // the portal answered with an error
  kClosed,     // the desktop ended the session, or the portal left the bus
  kInterrupted,
};

struct PortalGrant {
  UniqueFd pipewire;  // a PipeWire connection that only sees the shared node
  uint32_t node = 0;
  int width = 0, height = 0;  // the portal's word on the size; 0 when not said
  std::string restore_token;  // empty when the portal gave none
  bool token_supported = false;  // the portal takes persist_mode (version 4 and later)
};

// The object path a portal request of this connection gets for `token`.
std::string PortalRequestPath(std::string_view unique_name, std::string_view token);
// SelectSources' options (a floating a{sv}): monitors only, one of them, the
// cursor drawn in when the portal offers that, and persistence with the
// stored token from version 4 of the interface.
GVariant* SelectSourcesOptions(const std::string& handle_token, uint32_t version, uint32_t cursor_modes,
                               const std::string& restore_token);
// Reads Start's results (a{sv}) into the grant: the first stream's node and
// size, and the restore token. False when there is no stream.
bool ReadStartResults(GVariant* results, PortalGrant* grant);

class PortalSession {
 public:
  PortalSession();
  ~PortalSession();
  PortalSession(const PortalSession&) = delete;
  PortalSession& operator=(const PortalSession&) = delete;

  // Runs the whole conversation; false with the failure and a reason for the
  // log. `first_timeout_ms` bounds the first call (a backend that is being
  // started may stall it for many seconds); the dialog's answer to Start may
  // take as long as the user needs.
  bool Start(const std::string& restore_token, int first_timeout_ms, PortalGrant* grant, PortalFailure* failure,
             std::string* why);
  // After Start: runs the session's signals for up to `ms` milliseconds or
  // until Interrupt; true once the desktop closed the session or the portal
  // left the bus.
  bool WaitForClose(int ms);
  // After WaitForClose said closed: true when the portal itself left the bus
  // (it ended or crashed), false when the desktop closed the session.
  bool portal_left() const;
  // Ends a Start or WaitForClose in progress, from any thread.
  void Interrupt();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace lcx
