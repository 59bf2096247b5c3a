// The ScreenCast portal's texts: the request path we listen on, the options
// SelectSources is sent, and what is read from Start's answer (as the
// portals on GNOME, KDE and wlroots shape it).
#include "video/portal_session.h"

#include <gtest/gtest.h>

#include <string>

namespace lcx {
namespace {

std::string Print(GVariant* v) {
  g_variant_ref_sink(v);
  gchar* text = g_variant_print(v, FALSE);
  std::string s = text;
  g_free(text);
  g_variant_unref(v);
  return s;
}

TEST(PortalTexts, RequestPathIsMadeFromTheUniqueName) {
  EXPECT_EQ(PortalRequestPath(":1.42", "lcx7_1"), "/org/freedesktop/portal/desktop/request/1_42/lcx7_1");
  EXPECT_EQ(PortalRequestPath(":1.2.3", "t"), "/org/freedesktop/portal/desktop/request/1_2_3/t");
}

TEST(PortalTexts, SelectSourcesAsksForOneMonitorKeptUntilRevoked) {
  struct Case {
    uint32_t version, cursor_modes;
    const char* token;
    const char* want;
  } cases[] = {
      {4, 7, "",
       "{'handle_token': <'h'>, 'types': <uint32 1>, 'multiple': <false>, 'cursor_mode': <uint32 2>, "
       "'persist_mode': <uint32 2>}"},
      {5, 3, "0f1e-token",
       "{'handle_token': <'h'>, 'types': <uint32 1>, 'multiple': <false>, 'cursor_mode': <uint32 2>, "
       "'persist_mode': <uint32 2>, 'restore_token': <'0f1e-token'>}"},
      // Version 3 knows no persistence: the token would be an error there.
      {3, 1, "0f1e-token", "{'handle_token': <'h'>, 'types': <uint32 1>, 'multiple': <false>, 'cursor_mode': <uint32 1>}"},
      {2, 0, "", "{'handle_token': <'h'>, 'types': <uint32 1>, 'multiple': <false>}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Print(SelectSourcesOptions("h", c.version, c.cursor_modes, c.token)), c.want) << c.version;
  }
}

TEST(PortalTexts, StartResultsGiveNodeSizeAndToken) {
  struct Case {
    const char* results;
    bool ok;
    uint32_t node;
    int width, height;
    const char* token;
  } cases[] = {
      {"{'streams': <[(uint32 35, {'position': <(0, 0)>, 'size': <(1280, 720)>, 'source_type': <uint32 1>})]>,"
       " 'restore_token': <'43ac860b'>, 'persist_mode': <uint32 2>}",
       true, 35, 1280, 720, "43ac860b"},
      {"{'streams': <[(uint32 71, @a{sv} {})]>}", true, 71, 0, 0, ""},  // no size said: the stream's format tells
      {"{'streams': <[(uint32 9, {'size': <(-5, 720)>})]>}", true, 9, 0, 0, ""},
      {"{'restore_token': <'x'>}", false, 0, 0, 0, "x"},
      {"{'streams': <@a(ua{sv}) []>}", false, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.results);
    GError* error = nullptr;
    GVariant* v = g_variant_parse(G_VARIANT_TYPE_VARDICT, c.results, nullptr, nullptr, &error);
    ASSERT_NE(v, nullptr) << (error ? error->message : "");
    PortalGrant grant;
    EXPECT_EQ(ReadStartResults(v, &grant), c.ok);
    g_variant_unref(v);
    if (c.ok) {
      EXPECT_EQ(grant.node, c.node);
    }
    EXPECT_EQ(grant.width, c.width);
    EXPECT_EQ(grant.height, c.height);
    EXPECT_EQ(grant.restore_token, c.token);
  }
}

}  // namespace
}  // namespace lcx
