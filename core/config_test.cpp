#include "core/config.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/protect.h"

namespace lcx {
namespace {

class ConfigFile : public ::testing::Test {
 protected:
  TempHome home_{"lcx-config"};
  std::string Read() {
    std::string s;
    ReadWholeFile(path_, s);
    return s;
  }
  void Write(const std::string& s) { ASSERT_TRUE(WriteFileSynced(path_, s)); }
  const std::string dir_ = home_.path();
  const std::string path_ = dir_ + "/lcx.cfg";
};

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000000;
}

TEST(ConfigParse, LinesAndValues) {
  const ConfigMap m = ParseConfig(
      "# rtsp_port = 1\n"
      "   # fps = 3\n"
      "RTSP_PORT = 99\r\n"
      "rtsp_port=  7000   \r\n"
      "stream = a#b\n"
      "tabbed = x\t\n"
      "only_tab =\t\n"
      "empty =\n"
      "\t  spaced key\t = v\n"
      "no equals here\n"
      "fps = 5\n"
      "fps = 15fps\n");
  const std::pair<const char*, const char*> expected[] = {
      {"RTSP_PORT", "99"},  {"rtsp_port", "7000"}, {"stream", "a#b"}, {"tabbed", "x\t"},
      {"only_tab", "\t"},   {"empty", ""},         {"spaced key", "v"}, {"fps", "15fps"},
  };
  EXPECT_EQ(m.size(), std::size(expected));
  for (auto [k, v] : expected) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(m.count(k));
    EXPECT_EQ(m.at(k), v);
  }
  EXPECT_EQ(GetInt(m, "fps", 10), 15) << "the later line wins; digits up to the first letter";
  EXPECT_EQ(GetInt(m, "empty", 10), 0) << "present but empty is 0, not the default";
  EXPECT_EQ(GetInt(m, "absent", 10), 10);
  EXPECT_EQ(GetString(m, "empty", "d"), "");
  EXPECT_EQ(GetString(m, "absent", "d"), "d");
}

TEST(ConfigParse, LeadingInteger) {
  const std::pair<const char*, int32_t> cases[] = {
      {"42", 42}, {"  -7x", -7}, {"+3", 3}, {"abc", 0}, {"", 0}, {"--background", 0},
      {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
  };
  for (auto [text, value] : cases) EXPECT_EQ(ParseLeadingInt(text), value) << text;
}

TEST_F(ConfigFile, SaveKeepsEverythingButChangedKeys) {
  Write("# comment = 1\n\nfps = 5\nunknown_key = kept\n  fps\t= 6\nbroken line\nstream = x\n");
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"fps", "12"}, {"zz_new", "a"}, {"aa_new", "b"}}));
  EXPECT_EQ(Read(),
            "# comment = 1\r\n\r\nfps = 12\r\nunknown_key = kept\r\nfps = 12\r\nbroken line\r\n"
            "stream = x\r\naa_new = b\r\nzz_new = a\r\n");
  EXPECT_FALSE(FileExists(path_ + ".tmp"));
}

TEST_F(ConfigFile, SaveNormalisesLineEndsOnly) {
  Write("a = 1\r\nb = 2\nc=3 \t\n");
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"d", "4"}}));
  EXPECT_EQ(Read(), "a = 1\r\nb = 2\r\nc=3 \t\r\nd = 4\r\n");
  EXPECT_EQ(LoadConfig(path_).at("c"), "3 \t");
}

TEST_F(ConfigFile, SaveIntoMissingFileCreatesIt) {
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"eula_accepted", "1"}}));
  EXPECT_EQ(Read(), "eula_accepted = 1\r\n");
}

// Each failing step is told apart (the web panel shows which) and leaves the
// old file as it was and no temporary of ours behind. Tests run as root, so
// the failures come from things in the way, not from permissions.
TEST_F(ConfigFile, FailedSaveTellsTheStepAndLeavesOldFile) {
  struct Case {
    const char* name;
    std::string path;  // file to save into
    std::function<void(const std::string& path)> obstruct;
    ConfigSaveResult want;
    rlim_t size_limit = 0;  // a full disk, through the file size limit
  } cases[] = {
      {"directory in the way of the temporary", "", [](const std::string& p) { mkdir((p + ".tmp").c_str(), 0700); },
       ConfigSaveResult::kOpenFailed},
      {"data folder missing", "missing-dir/lcx.cfg", nullptr, ConfigSaveResult::kOpenFailed},
      // A link at the temporary's name is not followed (see below), so the
      // disk is "full" through the file size limit.
      {"no room for the temporary", "", [](const std::string&) {}, ConfigSaveResult::kWriteFailed, 4},
      {"a directory with files where the file should be", "cfgdir",
       [](const std::string& p) {
         mkdir(p.c_str(), 0700);
         ASSERT_TRUE(WriteFileSynced(p + "/keep", "x"));
       },
       ConfigSaveResult::kMoveFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.path.empty() ? path_ : dir_ + "/" + c.path;
    if (c.path.empty()) Write("fps = 5\r\n");
    if (c.obstruct) c.obstruct(path);
    {
      std::optional<FileSizeLimit> full;
      if (c.size_limit) full.emplace(c.size_limit);
      EXPECT_EQ(SaveConfigKeysResultAt(path, {{"fps", "9"}}), c.want);
    }
    if (c.path.empty()) {
      EXPECT_EQ(Read(), "fps = 5\r\n");
    }
    struct stat st;
    const bool tmp_left = lstat((path + ".tmp").c_str(), &st) == 0;
    // Only an obstruction of the test's own making may remain.
    EXPECT_EQ(tmp_left, c.want == ConfigSaveResult::kOpenFailed && c.obstruct != nullptr);
    RemoveFile(path + ".tmp");
    rmdir((path + ".tmp").c_str());
  }
  EXPECT_FALSE(SaveConfigKeysAt(dir_ + "/missing-dir/lcx.cfg", {{"fps", "9"}}));
  EXPECT_EQ(SaveConfigKeysResultAt(path_, {{"fps", "9"}}), ConfigSaveResult::kSaved);
  EXPECT_EQ(SaveConfigKeysResultAt(path_, {{"fps", "9\n"}}), ConfigSaveResult::kRefused);
}

TEST_F(ConfigFile, SaveRefusesLineBreaksAndKeysThatWouldNotReadBack) {
  const std::string before = "admin_user = admin\r\nstream_auth = 1\r\n";
  struct Case {
    const char* name;
    ConfigMap updates;
  } cases[] = {
      {"user name carrying a second line", {{"admin_user", "bob\r\nstream_auth = 0"}}},
      {"bare LF", {{"device_name", "Hall\nstream_auth = 0"}}},
      {"bare CR", {{"device_name", "Hall\rstream_auth = 0"}}},
      {"good key beside a bad one", {{"fps", "12"}, {"stream", "x\n"}}},
      {"key with a line break", {{"fps\nstream_auth", "0"}}},
      {"key with an equals sign", {{"stream_auth=0 #", "1"}}},
      {"empty key", {{"", "1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(before);
    EXPECT_TRUE(ConfigUpdateProblem(c.updates).has_value());
    EXPECT_FALSE(SaveConfigKeysAt(path_, c.updates));
    EXPECT_EQ(Read(), before) << "nothing written";
    EXPECT_FALSE(FileExists(path_ + ".tmp"));
  }
  EXPECT_FALSE(ConfigUpdateProblem({{"device_name", "Hall = 2 # tab\there"}}).has_value())
      << "equals, hash and tab are ordinary value bytes";
}

TEST_F(ConfigFile, ConcurrentSavesLoseNothing) {
  // Two editors (web and desktop thread) saving at the same moment: each
  // rewrite must see the other's result, and no file may interleave bytes.
  constexpr int kRounds = 60;
  auto writer = [&](const std::string& key) {
    for (int i = 0; i < kRounds; ++i) ASSERT_TRUE(SaveConfigKeysAt(path_, {{key + std::to_string(i), "v"}}));
  };
  std::thread a(writer, "a"), b(writer, "b");
  a.join();
  b.join();
  ConfigMap m = LoadConfig(path_);
  EXPECT_EQ(m.size(), 2u * kRounds);
  std::string text = Read();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * kRounds);
}

TEST_F(ConfigFile, TemplatesAndSeed) {
  const std::string keys =
      "rtsp_port  = 554\r\nonvif_port = 8000\r\nfps        = 10\r\nbitrate    = 2000\r\n"
      "stream     = screenlive\r\nmain_width = 0\r\nsubstream   = 1\r\nsub_stream  = screensub\r\n"
      "sub_width   = 640\r\nsub_bitrate = 512\r\nstream_on  = 1\r\nstream_auth = 0\r\n"
      "web_admin  = 1\r\nweb_port   = 8080\r\nadmin_user = admin\r\nadmin_pass = admin\r\n"
      "device_name = Lumicast\r\n";
  EXPECT_EQ(DefaultConfigText(ConfigTemplate::kDesktop), "# Lumicast config\r\n" + keys);
  EXPECT_EQ(DefaultConfigText(ConfigTemplate::kWeb), "# \xd8\xa5\xd8\xb9\xd8\xaf\xd8\xa7\xd8\xaf\xd8\xa7\xd8\xaa "
                                                     "\xd9\x85\xd8\xad\xd8\xb1\xd9\x91\xd9\x83 Lumicast\r\n" + keys);

  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  Write("admin_pass = enc:xyz\r\nshow_icon = 0\r\n");
  ASSERT_TRUE(WriteDefaultConfigAt(path_, ConfigTemplate::kWeb));
  EXPECT_EQ(Read(), DefaultConfigText(ConfigTemplate::kWeb));
  EXPECT_FALSE(PasswordProtected()) << "a restore clears the protected-password flag";

  // The shipped seed is the desktop template.
  std::string core_dat;
  ASSERT_TRUE(ReadWholeFile(std::string(LCX_SOURCE_DIR) + "/resources/core.dat", core_dat));
  EXPECT_EQ(core_dat, DefaultConfigText(ConfigTemplate::kDesktop));

  const std::string exe_dir = dir_ + "/exe";
  MakeDirectory(exe_dir);
  const std::string fresh = dir_ + "/fresh.cfg";
  EXPECT_FALSE(SeedConfigFromCoreDat(fresh, exe_dir)) << "no core.dat: nothing written";
  EXPECT_FALSE(FileExists(fresh));
  WriteFileSynced(exe_dir + "/core.dat", "fps = 3\n");
  EXPECT_TRUE(SeedConfigFromCoreDat(fresh, exe_dir));
  EXPECT_FALSE(SeedConfigFromCoreDat(fresh, exe_dir)) << "an existing file is never replaced";
  EXPECT_EQ(LoadConfig(fresh).at("fps"), "3");
}

TEST_F(ConfigFile, DataFolder) {
  home_.env().Set("ProgramData", dir_);
  EXPECT_EQ(GetDataFolder(), dir_ + "/Halvorix");
  EXPECT_EQ(ModeOf(dir_ + "/Halvorix"), 0700u) << "created private";
  ASSERT_EQ(::chmod((dir_ + "/Halvorix").c_str(), 0755), 0);
  EXPECT_EQ(ConfigPath(), dir_ + "/Halvorix/lcx.cfg");
  EXPECT_EQ(ModeOf(dir_ + "/Halvorix"), 0700u) << "an older looser folder is tightened";
  home_.env().Unset("ProgramData");
  home_.env().Set("XDG_DATA_HOME", dir_ + "/xdg");
  MakeDirectory(dir_ + "/xdg");
  EXPECT_EQ(GetDataFolder(), dir_ + "/xdg/Halvorix");
}

// What the file holds is the password and, beside it, the sessions: its
// mode is 0600 from the moment it exists, whatever stood at the .tmp name.
TEST_F(ConfigFile, SavedFilesAreTheUsersAloneAndNoLinkIsFollowed) {
  const std::string victim = dir_ + "/victim";
  ASSERT_TRUE(WriteFileSynced(victim, "untouched"));
  ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
  ASSERT_EQ(::symlink(victim.c_str(), (path_ + ".tmp").c_str()), 0);
  ::umask(0);  // a permissive umask must not widen what we create
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"fps", "5"}}));
  ::umask(022);
  EXPECT_EQ(ModeOf(path_), 0600u);
  EXPECT_FALSE(FileExists(path_ + ".tmp"));
  std::string v;
  ASSERT_TRUE(ReadWholeFile(victim, v));
  EXPECT_EQ(v, "untouched");

  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  ASSERT_TRUE(WriteDefaultConfigAt(path_, ConfigTemplate::kDesktop));
  EXPECT_EQ(ModeOf(path_), 0600u) << "a rewrite makes a fresh file";
}

std::optional<std::string> MachineA() { return std::string("machine-a|x|0000ABCD"); }

// An old install's password, protected by the machine-only key, is written
// the new way by the next save of any setting.
TEST_F(ConfigFile, AnOldProtectedPasswordIsRenewedByTheNextSave) {
  SetProtectionKeySourceForTesting(&MachineA);
  const std::string old_pass = "enc:Ab4fkSTxpp58R8cG04/WfOvSO5zeNJt9XxJ+GKTwrPcIgqbkPMF4Uw==";
  Write("admin_pass = " + old_pass + "\r\nfps = 5\r\n");
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"fps", "6"}}));
  const std::string renewed = LoadConfig(path_).at("admin_pass");
  EXPECT_NE(renewed, old_pass);
  EXPECT_FALSE(ProtectedTheOldWay(renewed));
  EXPECT_EQ(UnprotectString(renewed), "s3cret-pass");
  EXPECT_EQ(LoadConfig(path_).at("fps"), "6");

  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"fps", "7"}}));
  EXPECT_EQ(LoadConfig(path_).at("admin_pass"), renewed) << "a new value is left as it is";
  SetProtectionKeySourceForTesting(nullptr);
}

}  // namespace
}  // namespace lcx
