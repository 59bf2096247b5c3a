// The ScreenCast portal over a private session-bus connection. Requests are
// answered by a Response signal on a path derived from our unique name and a
// token, so the signal is subscribed before the call is made. Threads: one
// caller at a time; the state's main context is pushed as the thread's
// default for every call, so GDBus delivers our signals there and nowhere
// else; Interrupt only touches atomics, the cancellable and the context.
#include "video/portal_session.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <atomic>
#include <functional>

namespace lcx {
namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";

constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kCursorHidden = 1, kCursorEmbedded = 2;
constexpr uint32_t kPersistUntilRevoked = 2;

struct ErrorPtr {
  GError* error = nullptr;
  ~ErrorPtr() {
    if (error) g_error_free(error);
  }
  const char* message() const { return error ? error->message : "unknown error"; }
};

struct VariantPtr {
  GVariant* v = nullptr;
  ~VariantPtr() {
    if (v) g_variant_unref(v);
  }
};

PortalFailure FailureOf(const GError* e) {
  if (!e) return PortalFailure::kFailed;
  if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return PortalFailure::kInterrupted;
  if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) || g_error_matches(e, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
      g_error_matches(e, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) || g_error_matches(e, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY))
    return PortalFailure::kTimedOut;
  for (GDBusError code : {G_DBUS_ERROR_SERVICE_UNKNOWN, G_DBUS_ERROR_NAME_HAS_NO_OWNER, G_DBUS_ERROR_UNKNOWN_METHOD,
                          G_DBUS_ERROR_UNKNOWN_INTERFACE, G_DBUS_ERROR_UNKNOWN_OBJECT, G_DBUS_ERROR_UNKNOWN_PROPERTY,
                          G_DBUS_ERROR_SPAWN_EXEC_FAILED, G_DBUS_ERROR_SPAWN_CHILD_EXITED}) {
    if (g_error_matches(e, G_DBUS_ERROR, code)) return PortalFailure::kNoPortal;
  }
  return PortalFailure::kFailed;
}

struct Response {
  bool done = false;
  uint32_t code = 2;
  VariantPtr results;
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                gpointer user) {
  auto* r = static_cast<Response*>(user);
  if (r->done || !g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
  g_variant_get(params, "(u@a{sv})", &r->code, &r->results.v);
  r->done = true;
}

}  // namespace

struct PortalSession::State {
  GMainContext* context = g_main_context_new();
  GCancellable* cancel = g_cancellable_new();
  GDBusConnection* bus = nullptr;
  std::string session_path;
  guint closed_subscription = 0;
  guint owner_watch = 0;
  bool closed = false;
  bool portal_gone = false;
  int tokens = 0;
  std::atomic<bool> interrupted{false};

  ~State() {
    g_main_context_push_thread_default(context);
    if (closed_subscription) g_dbus_connection_signal_unsubscribe(bus, closed_subscription);
    if (owner_watch) g_bus_unwatch_name(owner_watch);
    if (bus) {
      // The portal ends every session of a peer that leaves the bus.
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    g_object_unref(cancel);
    g_main_context_unref(context);
  }

  std::string NextToken() { return "lcx" + std::to_string(getpid()) + "_" + std::to_string(++tokens); }

  // Runs the context until done() or the time is up (timeout_ms < 0: no
  // limit) or Interrupt.
  bool RunUntil(const std::function<bool()>& done, int timeout_ms) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
    while (!done() && !interrupted.load()) {
      guint wait_ms = 1000;
      if (timeout_ms >= 0) {
        const gint64 left = deadline - g_get_monotonic_time();
        if (left <= 0) return false;
        wait_ms = static_cast<guint>(left / 1000 + 1);
      }
      GSource* tick = g_timeout_source_new(wait_ms);
      g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
      g_source_attach(tick, context);
      g_main_context_iteration(context, TRUE);
      g_source_destroy(tick);
      g_source_unref(tick);
    }
    return done();
  }

  bool GetUint(const char* property, int timeout_ms, uint32_t* out, PortalFailure* failure, std::string* why) {
    ErrorPtr e;
    VariantPtr reply;
    reply.v = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                                          g_variant_new("(ss)", kScreenCast, property), G_VARIANT_TYPE("(v)"),
                                          G_DBUS_CALL_FLAGS_NONE, timeout_ms, cancel, &e.error);
    if (!reply.v) {
      *failure = FailureOf(e.error);
      *why = std::string("the ScreenCast portal's ") + property + ": " + e.message();
      return false;
    }
    VariantPtr value;
    g_variant_get(reply.v, "(v)", &value.v);
    if (!g_variant_is_of_type(value.v, G_VARIANT_TYPE_UINT32)) {
      *failure = PortalFailure::kFailed;
      *why = std::string("the ScreenCast portal's ") + property + " is not a number";
      return false;
    }
    *out = g_variant_get_uint32(value.v);
    return true;
  }

  // Calls `method` with `args` (floating; its options carry `token`) and
  // waits for the request's Response.
  bool Request(const char* method, GVariant* args, const std::string& token, int call_timeout_ms,
               int answer_timeout_ms, Response* r, PortalFailure* failure, std::string* why) {
    const std::string path = PortalRequestPath(g_dbus_connection_get_unique_name(bus), token);
    const guint sub = g_dbus_connection_signal_subscribe(bus, kPortalName, "org.freedesktop.portal.Request",
                                                         "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                         &OnResponse, r, nullptr);
    ErrorPtr e;
    VariantPtr reply;
    reply.v = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kScreenCast, method, args,
                                          G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, call_timeout_ms, cancel,
                                          &e.error);
    guint other_sub = 0;
    if (reply.v) {
      const char* handle = nullptr;
      g_variant_get(reply.v, "(&o)", &handle);
      // Portals before version 0.9 chose the path themselves.
      if (path != handle) {
        other_sub = g_dbus_connection_signal_subscribe(bus, kPortalName, "org.freedesktop.portal.Request",
                                                       "Response", handle, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                       &OnResponse, r, nullptr);
      }
    }
    bool answered = false;
    if (reply.v) answered = RunUntil([r] { return r->done; }, answer_timeout_ms);
    g_dbus_connection_signal_unsubscribe(bus, sub);
    if (other_sub) g_dbus_connection_signal_unsubscribe(bus, other_sub);
    if (!reply.v) {
      *failure = FailureOf(e.error);
      *why = std::string("the ScreenCast portal's ") + method + " failed: " + e.message();
      return false;
    }
    if (!answered) {
      *failure = interrupted.load() ? PortalFailure::kInterrupted : PortalFailure::kTimedOut;
      *why = std::string("the ScreenCast portal did not answer ") + method;
      return false;
    }
    if (r->code == 1) {
      *failure = PortalFailure::kRefused;
      *why = "the user did not share the screen";
      return false;
    }
    if (r->code != 0) {
      *failure = PortalFailure::kFailed;
      *why = std::string("the ScreenCast portal refused ") + method + " (response " + std::to_string(r->code) + ")";
      return false;
    }
    return true;
  }
};

namespace {

// Pushes a context as the thread's default for a scope.
struct ContextScope {
  GMainContext* context;
  explicit ContextScope(GMainContext* c) : context(c) { g_main_context_push_thread_default(c); }
  ~ContextScope() { g_main_context_pop_thread_default(context); }
};

}  // namespace

std::string PortalRequestPath(std::string_view unique_name, std::string_view token) {
  std::string sender(unique_name.substr(unique_name.starts_with(':') ? 1 : 0));
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return "/org/freedesktop/portal/desktop/request/" + sender + "/" + std::string(token);
}

GVariant* SelectSourcesOptions(const std::string& handle_token, uint32_t version, uint32_t cursor_modes,
                               const std::string& restore_token) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(handle_token.c_str()));
  g_variant_builder_add(&b, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
  g_variant_builder_add(&b, "{sv}", "multiple", g_variant_new_boolean(FALSE));
  if (cursor_modes & kCursorEmbedded) {
    g_variant_builder_add(&b, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorEmbedded));
  } else if (cursor_modes & kCursorHidden) {
    g_variant_builder_add(&b, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorHidden));
  }
  if (version >= 4) {
    g_variant_builder_add(&b, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
    if (!restore_token.empty())
      g_variant_builder_add(&b, "{sv}", "restore_token", g_variant_new_string(restore_token.c_str()));
  }
  return g_variant_builder_end(&b);
}

bool ReadStartResults(GVariant* results, PortalGrant* grant) {
  if (!results || !g_variant_is_of_type(results, G_VARIANT_TYPE_VARDICT)) return false;
  const char* token = nullptr;
  if (g_variant_lookup(results, "restore_token", "&s", &token)) grant->restore_token = token;
  VariantPtr streams;
  streams.v = g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
  if (!streams.v || g_variant_n_children(streams.v) < 1) return false;
  VariantPtr props;
  g_variant_get_child(streams.v, 0, "(u@a{sv})", &grant->node, &props.v);
  gint32 w = 0, h = 0;
  if (g_variant_lookup(props.v, "size", "(ii)", &w, &h) && w > 0 && h > 0) {
    grant->width = w;
    grant->height = h;
  }
  return true;
}

PortalSession::PortalSession() : state_(std::make_unique<State>()) {}
PortalSession::~PortalSession() = default;

void PortalSession::Interrupt() {
  state_->interrupted.store(true);
  g_cancellable_cancel(state_->cancel);
  g_main_context_wakeup(state_->context);
}

bool PortalSession::Start(const std::string& restore_token, int first_timeout_ms, PortalGrant* grant,
                          PortalFailure* failure, std::string* why) {
  State& s = *state_;
  ContextScope scope(s.context);
  *failure = PortalFailure::kNone;
  ErrorPtr e;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, s.cancel, &e.error);
  if (!address) {
    *failure = PortalFailure::kNoBus;
    *why = std::string("no session bus: ") + e.message();
    return false;
  }
  s.bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, s.cancel, &e.error);
  g_free(address);
  if (!s.bus) {
    *failure = PortalFailure::kNoBus;
    *why = std::string("cannot reach the session bus: ") + e.message();
    return false;
  }
  g_dbus_connection_set_exit_on_close(s.bus, FALSE);

  // The first call may wait for the portal to be started by the bus.
  uint32_t version = 0, cursor_modes = 0;
  if (!s.GetUint("version", first_timeout_ms, &version, failure, why)) return false;
  if (!s.GetUint("AvailableCursorModes", first_timeout_ms, &cursor_modes, failure, why)) cursor_modes = 0;
  grant->token_supported = version >= 4;

  Response created;
  const std::string create_token = s.NextToken();
  GVariantBuilder opts;
  g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(create_token.c_str()));
  g_variant_builder_add(&opts, "{sv}", "session_handle_token", g_variant_new_string(s.NextToken().c_str()));
  if (!s.Request("CreateSession", g_variant_new("(a{sv})", &opts), create_token, first_timeout_ms, first_timeout_ms,
                 &created, failure, why))
    return false;
  const char* session = nullptr;
  if (!g_variant_lookup(created.results.v, "session_handle", "&s", &session) || !session) {
    *failure = PortalFailure::kFailed;
    *why = "the ScreenCast portal's CreateSession gave no session";
    return false;
  }
  s.session_path = session;
  s.closed_subscription = g_dbus_connection_signal_subscribe(
      s.bus, kPortalName, "org.freedesktop.portal.Session", "Closed", s.session_path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer user) {
        static_cast<State*>(user)->closed = true;
      },
      &s, nullptr);

  Response selected;
  const std::string select_token = s.NextToken();
  if (!s.Request("SelectSources",
                 g_variant_new("(o@a{sv})", s.session_path.c_str(),
                               SelectSourcesOptions(select_token, version, cursor_modes, restore_token)),
                 select_token, first_timeout_ms, first_timeout_ms, &selected, failure, why))
    return false;

  // Start shows the desktop's dialog unless the token restores the choice:
  // the user takes the time they need.
  Response started;
  const std::string start_token = s.NextToken();
  GVariantBuilder start_opts;
  g_variant_builder_init(&start_opts, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&start_opts, "{sv}", "handle_token", g_variant_new_string(start_token.c_str()));
  if (!s.Request("Start", g_variant_new("(osa{sv})", s.session_path.c_str(), "", &start_opts), start_token,
                 first_timeout_ms, -1, &started, failure, why))
    return false;
  if (!ReadStartResults(started.results.v, grant)) {
    *failure = PortalFailure::kFailed;
    *why = "the ScreenCast portal's Start gave no stream";
    return false;
  }

  GUnixFDList* fds = nullptr;
  VariantPtr reply;
  GVariantBuilder none;
  g_variant_builder_init(&none, G_VARIANT_TYPE_VARDICT);
  reply.v = g_dbus_connection_call_with_unix_fd_list_sync(
      s.bus, kPortalName, kPortalPath, kScreenCast, "OpenPipeWireRemote",
      g_variant_new("(oa{sv})", s.session_path.c_str(), &none), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE,
      first_timeout_ms, nullptr, &fds, s.cancel, &e.error);
  if (!reply.v) {
    *failure = FailureOf(e.error);
    *why = std::string("the ScreenCast portal's OpenPipeWireRemote failed: ") + e.message();
    return false;
  }
  gint32 index = -1;
  g_variant_get(reply.v, "(h)", &index);
  const int fd = fds ? g_unix_fd_list_get(fds, index, &e.error) : -1;
  if (fds) g_object_unref(fds);
  if (fd < 0) {
    *failure = PortalFailure::kFailed;
    *why = "the ScreenCast portal gave no PipeWire connection";
    return false;
  }
  grant->pipewire.reset(fd);

  s.owner_watch = g_bus_watch_name_on_connection(
      s.bus, kPortalName, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
      [](GDBusConnection*, const gchar*, gpointer user) {
        auto* state = static_cast<State*>(user);
        state->closed = state->portal_gone = true;
      },
      &s, nullptr);
  return true;
}

bool PortalSession::WaitForClose(int ms) {
  State& s = *state_;
  ContextScope scope(s.context);
  s.RunUntil([&s] { return s.closed; }, ms);
  return s.closed;
}

}  // namespace lcx

namespace lcx {
bool PortalSession::portal_left() const { return state_->portal_gone; }
}  // namespace lcx
