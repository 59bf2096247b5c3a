#include "desktop/service.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

TEST(DesktopService, UnitStartsTheQuotedExecutableAsTheService) {
  const std::string text = ServiceUnitText("/opt/Lumi cast/100%/$x/\"q\"/lcx_onvif");
  EXPECT_NE(text.find("\nDescription=Lumicast Camera Service\n"), std::string::npos);
  EXPECT_NE(text.find("\nExecStart=\"/opt/Lumi cast/100%%/$$x/\\\"q\\\"/lcx_onvif\" --service\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nType=notify\n"), std::string::npos);
  EXPECT_NE(text.find("\nKillMode=process\n"), std::string::npos) << "stopping must leave the engine running";
  EXPECT_NE(text.find("\nWantedBy=default.target\n"), std::string::npos);
  EXPECT_NE(text.find("\nAfter=graphical-session.target\n"), std::string::npos);
  EXPECT_NE(text.find("\nWantedBy=graphical-session.target\n"), std::string::npos);
}

TEST(DesktopService, ShowEnvironmentIsParsedWithItsQuoting) {
  const auto env = ParseShowEnvironment(
      "DISPLAY=:0\n"
      "HOME=/home/a\n"
      "XAUTHORITY=$'/run/user/1000/x auth\\n\\'1\\''\n"
      "BYTE=$'\\x41b'\n"
      "EMPTY=\n"
      "no equals sign\n");
  EXPECT_EQ(env.at("DISPLAY"), ":0");
  EXPECT_EQ(env.at("XAUTHORITY"), "/run/user/1000/x auth\n'1'");
  EXPECT_EQ(env.at("BYTE"), "Ab");
  EXPECT_EQ(env.at("EMPTY"), "");
  EXPECT_EQ(env.size(), 5u);

  EXPECT_EQ(SessionIdentity(env), ":0\n");
  EXPECT_EQ(SessionIdentity({{"DISPLAY", ":1"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}), ":1\n/run/user/1000");
  EXPECT_EQ(SessionIdentity({{"WAYLAND_DISPLAY", "wayland-0"}}), "wayland-0\n");
  EXPECT_EQ(SessionIdentity({{"DISPLAY", ""}, {"HOME", "/h"}}), "") << "no graphical session";
  EXPECT_EQ(SessionIdentity({{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_RUNTIME_DIR", "/run/user/5"}}),
            "wayland-1\n/run/user/5")
      << "a Wayland session without Xwayland";
}

TEST(DesktopService, EngineIsLookedForByNameUserAndSession) {
  const uid_t me = 1000;
  const pid_t self = 50;
  const std::string session = ":0\n/run/user/1000";
  auto identity_of = [](pid_t pid) -> std::optional<std::string> {
    if (pid == 13) return std::nullopt;  // environment unreadable
    if (pid == 12) return ":1\n/run/user/1000";
    if (pid == 14) return ":0\n/tmp/elsewhere";
    return ":0\n/run/user/1000";
  };
  struct Case {
    const char* name;
    std::vector<ProcessInfo> processes;
    bool found;
  };
  const Case cases[] = {
      {"none", {{7, me, "bash"}}, false},
      {"an engine of ours on the display", {{7, me, "bash"}, {11, me, "lcx_onvif"}}, true},
      {"the service's own process", {{self, me, "lcx_onvif"}}, false},
      {"another user's engine", {{11, 1001, "lcx_onvif"}}, false},
      {"an engine on another display", {{12, me, "lcx_onvif"}}, false},
      {"an engine with another runtime folder", {{14, me, "lcx_onvif"}}, false},
      {"an engine whose environment cannot be read", {{13, me, "lcx_onvif"}}, false},
      {"a name that only starts the same", {{11, me, "lcx_onvif_old"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EngineRunsInSession(c.processes, me, self, session, identity_of), c.found);
  }
}

}  // namespace
}  // namespace lcx
