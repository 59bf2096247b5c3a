// The Host, Origin and peer-key checks, as browsers, rebinding pages and raw
// clients send them.
#include "web/web_guard.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

RequestHead Head(const std::string& fields) {
  RequestHead head;
  ParseRequestHead("POST /save HTTP/1.1\r\n" + fields + "\r\n", head);
  return head;
}

TEST(WebGuard, HostOfAuthority) {
  struct Case {
    const char* value;
    const char* host;  // nullptr: malformed
  } cases[] = {
      {"cam", "cam"},
      {"CAM.Local.:8080", "cam.local"},
      {"192.168.1.40:8080", "192.168.1.40"},
      {"[::1]:8080", "::1"},
      {"[FE80::1]", "fe80::1"},
      {"::1", nullptr},             // a bare IPv6 literal
      {"[::1", nullptr},
      {"[nothost]:80", nullptr},
      {"cam:", nullptr},
      {"cam:80x", nullptr},
      {"cam:123456", nullptr},
      {"", nullptr},
      {":8080", nullptr},
      {"evil.example@cam", nullptr},
      {"cam\x01", nullptr},
      {"a b", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::optional<std::string> host = HostOfAuthority(c.value);
    if (c.host) {
      ASSERT_TRUE(host);
      EXPECT_EQ(*host, c.host);
    } else {
      EXPECT_FALSE(host) << *host;
    }
  }
}

TEST(WebGuard, OnlyThisMachinesNamesAndAddresses) {
  const HostPolicy policy = MakeHostPolicy("studio-pc", " cam.lan , Other.Example,", {"192.168.1.40", "fe80::1"});
  struct Case {
    const char* fields;
    bool allowed;
  } cases[] = {
      {"Host: 192.168.1.40:8080\r\n", true},
      {"Host: [fe80:0::1]:8080\r\n", true},
      {"Host: 10.0.0.5:8080\r\n", true},  // the address the connection arrived on
      {"Host: 127.0.0.2:8080\r\n", true},
      {"Host: [::1]\r\n", true},
      {"Host: localhost:8080\r\n", true},
      {"Host: STUDIO-PC\r\n", true},
      {"Host: studio-pc.local:8080\r\n", true},
      {"Host: cam.lan\r\n", true},
      {"Host: other.example\r\n", true},
      {"Host: evil.example\r\n", false},  // a rebound name
      {"Host: 192.168.1.41\r\n", false},
      {"Host: studio-pc.evil.example\r\n", false},
      {"Host: localhost.evil.example\r\n", false},
      {"", false},
      {"Host: localhost\r\nHost: evil.example\r\n", false},
      {"Host: 0x7f.1\r\n", false},  // not a dotted quad, and no name of ours
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    EXPECT_EQ(HostAllowed(policy, Head(c.fields), "10.0.0.5"), c.allowed);
  }
  EXPECT_FALSE(HostAllowed(MakeHostPolicy("", "", {}), Head("Host: .local\r\n"), ""));
}

TEST(WebGuard, StateChangesOnlyFromTheOwnOrigin) {
  struct Case {
    const char* name;
    const char* fields;
    bool allowed;
  } cases[] = {
      {"Chromium's fetch from the panel", "Host: 192.168.1.40:8080\r\nOrigin: http://192.168.1.40:8080\r\n"
                                          "Sec-Fetch-Site: same-origin\r\n", true},
      {"over TLS", "Host: cam:8443\r\nOrigin: https://cam:8443\r\n", true},
      {"case of scheme and host", "Host: Cam:8080\r\nOrigin: HTTP://cam:8080\r\n", true},
      {"curl: neither field", "Host: cam:8080\r\n", true},
      {"Referer only, own", "Host: cam:8080\r\nReferer: http://cam:8080/?x#y\r\n", true},
      {"another port of the same address", "Host: cam:8080\r\nOrigin: http://cam:8000\r\n", false},
      {"a foreign page", "Host: cam:8080\r\nOrigin: http://evil.example\r\n", false},
      {"a sandboxed frame", "Host: cam:8080\r\nOrigin: null\r\n", false},
      {"Referer of another site", "Host: cam:8080\r\nReferer: http://evil.example/cam:8080\r\n", false},
      {"Referer without a scheme", "Host: cam:8080\r\nReferer: cam:8080\r\n", false},
      {"own Origin but cross-site fetch", "Host: cam:8080\r\nOrigin: http://cam:8080\r\nSec-Fetch-Site: cross-site\r\n",
       false},
      {"two Origins", "Host: cam:8080\r\nOrigin: http://cam:8080\r\nOrigin: http://evil.example\r\n", false},
      {"prefix of the own origin", "Host: cam:8080\r\nOrigin: http://cam:80\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SameOriginRequest(Head(c.fields)), c.allowed);
  }
}

TEST(WebGuard, PeerKeys) {
  EXPECT_EQ(PeerKey("127.0.0.2"), "127.0.0.2");
  EXPECT_EQ(PeerKey("::ffff:10.0.0.7"), "10.0.0.7");
  EXPECT_EQ(PeerKey("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
  EXPECT_EQ(PeerKey("2001:db8:1:2:bbbb::9"), PeerKey("2001:db8:1:2:aaaa::1"));
  EXPECT_NE(PeerKey("2001:db8:1:3::1"), PeerKey("2001:db8:1:2::1"));
  EXPECT_EQ(PeerKey(""), "");
}

}  // namespace
}  // namespace lcx
