#include "desktop/actions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <memory>

#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/digest.h"
#include "security/protect.h"
#include "security/recovery_code.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

std::optional<std::string> FixedKeyMaterial() { return std::string("desktop-test-machine|x|0000ABCD"); }

// A private data folder, config folder and temporary folder per test.
class DesktopActions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    env_.Set("ProgramData", dir_);
    env_.Set("XDG_CONFIG_HOME", dir_ + "/cfg");
    env_.Set("TMPDIR", dir_);
    SetProtectionKeySourceForTesting(&FixedKeyMaterial);
  }
  void TearDown() override { SetProtectionKeySourceForTesting(nullptr); }

  void WriteConfig(const std::string& text) { ASSERT_TRUE(WriteFileSynced(ConfigPath(), text)); }
  ConfigMap Config() { return LoadConfig(ConfigPath()); }
  std::string ConfigText() {
    std::string text;
    ReadWholeFile(ConfigPath(), text);
    return text;
  }
  TestDir tmp_{"lcx-desktop"};
  ScopedEnv env_;
  std::string dir_;
};

TEST_F(DesktopActions, ApplyClampsNumbersAndWritesFlags) {
  struct Case {
    const char* name;
    const char* key;
    std::string typed;
    const char* stored;
  };
  const Case cases[] = {
      {"fps 0 is raised to 1", "fps", "0", "1"},
      {"fps of letters reads as 0, stored as 1", "fps", "abc", "1"},
      {"fps 99 is lowered to 60", "fps", "99", "60"},
      {"fps 15 with letters after it", "fps", "15fps", "15"},
      {"main bit rate above the range", "bitrate", "99999", "16384"},
      {"main bit rate below the range", "bitrate", "100", "256"},
      {"sub bit rate below the range", "sub_bitrate", "10", "64"},
      {"sub bit rate above the range", "sub_bitrate", "5000", "2048"},
      {"port 0", "rtsp_port", "0", "1"},
      {"port above 65535", "onvif_port", "70000", "65535"},
      {"negative port", "web_port", "-5", "1"},
      {"port in range with blanks before it", "web_port", "  8081", "8081"},
      {"motion sensitivity above 100 %", "motion_sensitivity", "101", "100"},
      {"motion sensitivity 0 turns it off", "motion_sensitivity", "0", "0"},
      {"motion hold of 0 s raised to 1", "motion_hold_s", "0", "1"},
      {"motion hold of 30 s", "motion_hold_s", "30", "30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AdminFields f;
    if (std::string(c.key) == "fps") f.fps = c.typed;
    if (std::string(c.key) == "bitrate") f.bitrate = c.typed;
    if (std::string(c.key) == "sub_bitrate") f.sub_bitrate = c.typed;
    if (std::string(c.key) == "rtsp_port") f.rtsp_port = c.typed;
    if (std::string(c.key) == "onvif_port") f.onvif_port = c.typed;
    if (std::string(c.key) == "web_port") f.web_port = c.typed;
    if (std::string(c.key) == "motion_sensitivity") f.motion_sensitivity = c.typed;
    if (std::string(c.key) == "motion_hold_s") f.motion_hold_s = c.typed;
    EXPECT_EQ(ApplyUpdates(f).at(c.key), c.stored);
  }

  AdminFields f;
  f.substream = false;
  f.web_admin = false;
  f.stream_auth = true;
  f.main_width = 1280;
  f.sub_width = 320;
  const ConfigMap u = ApplyUpdates(f);
  EXPECT_EQ(u.at("substream"), "0");
  EXPECT_EQ(u.at("web_admin"), "0");
  EXPECT_EQ(u.at("web_tls"), "0");
  EXPECT_EQ(u.at("stream_auth"), "1");
  EXPECT_EQ(u.at("main_width"), "1280");
  EXPECT_EQ(u.at("sub_width"), "320");
  EXPECT_EQ(u.at("monitor"), "");
  EXPECT_EQ(u.at("push_url"), "");
  EXPECT_EQ(u.size(), 17u) << "the seventeen keys of Apply & restart";

  // Widths the file holds outside the choices get the engine's clamp (the
  // sub width once only had to be 1 or more).
  f.sub_width = 1;
  f.main_width = 5000;
  EXPECT_EQ(ApplyUpdates(f).at("sub_width"), "320");
  EXPECT_EQ(ApplyUpdates(f).at("main_width"), "4096");
  f.sub_width = 2000;
  EXPECT_EQ(ApplyUpdates(f).at("sub_width"), "1280");
}

// The text fields: saved only when the table's rule accepts them, and Apply
// names the first one refused instead of leaving it out unseen.
TEST_F(DesktopActions, TextFieldsAreSavedOnlyWhenTheSharedRuleAcceptsThem) {
  struct Case {
    const char* key;
    std::string value;
    const Text* refusal;  // nullptr: saved
  };
  const Case cases[] = {
      {"device_name", "", &txt::kInvalidDeviceName},
      {"device_name", std::string(48, 'n'), nullptr},
      {"device_name", std::string(49, 'n'), &txt::kInvalidDeviceName},
      {"device_name", "Office PC 2", nullptr},
      {"device_name", "كاميرا", nullptr},
      {"device_name", "Hall ", &txt::kInvalidDeviceName},
      {"device_name", "a\tb", &txt::kInvalidDeviceName},
      {"device_name", "bad \xff byte", &txt::kInvalidDeviceName},
      {"monitor", "", nullptr},
      {"monitor", "DP-1-2", nullptr},
      {"monitor", " DP-1", &txt::kInvalidMonitor},
      {"monitor", "شاشة", &txt::kInvalidMonitor},
      {"push_url", "", nullptr},
      {"push_url", "rtsp://pub:pa:ss@10.0.0.9:8554/live/cam", nullptr},
      {"push_url", "http://10.0.0.9/live", &txt::kInvalidPushUrl},
      {"push_url", "rtsp://10.0.0.9:0/live", &txt::kInvalidPushUrl},
      {"push_url", "rtsp://10.0.0.9/a\tb", &txt::kInvalidPushUrl},
      {"push_url", "rtsp://relay/" + std::string(243, 'p'), &txt::kInvalidPushUrl},  // 256 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.value);
    AdminFields f;
    if (std::string(c.key) == "device_name") f.device_name = c.value;
    if (std::string(c.key) == "monitor") f.monitor = c.value;
    if (std::string(c.key) == "push_url") f.push_url = c.value;
    const ConfigMap u = ApplyUpdates(f);
    EXPECT_EQ(InvalidFieldMessage(f), c.refusal);
    EXPECT_EQ(u.count(c.key), c.refusal ? 0u : 1u);
    if (!c.refusal) {
      EXPECT_EQ(u.at(c.key), c.value);
    }
  }
}

TEST_F(DesktopActions, FieldsShowWhatTheEngineUses) {
  const AdminFields empty = AdminFieldsFromConfig({});
  // Once 554, which Apply then wrote, moving RTSP away from where it served.
  EXPECT_EQ(empty.rtsp_port, "8554");
  EXPECT_EQ(AdminFieldsFromConfig({}, SettingDefaultsFromArgs({"9000", "9001"})).onvif_port, "9001");
  EXPECT_EQ(empty.onvif_port, "8000");
  EXPECT_EQ(empty.fps, "10");
  EXPECT_EQ(empty.sub_width, 640);
  EXPECT_TRUE(empty.web_admin);
  EXPECT_FALSE(empty.stream_auth);
  EXPECT_EQ(empty.device_name, "Lumicast");
  EXPECT_EQ(empty.monitor, "");
  EXPECT_EQ(empty.push_url, "");
  EXPECT_EQ(empty.motion_sensitivity, "2");
  EXPECT_EQ(empty.motion_hold_s, "5");

  const AdminFields f = AdminFieldsFromConfig(
      {{"rtsp_port", "9554"}, {"fps", ""}, {"main_width", "1000"}, {"stream_auth", "2"}, {"device_name", ""}});
  EXPECT_EQ(f.rtsp_port, "9554");
  EXPECT_EQ(f.fps, "1") << "present but empty reads as 0, which the engine raises to 1";
  EXPECT_EQ(f.main_width, 1000) << "a width not offered is kept";
  EXPECT_TRUE(f.stream_auth);
  EXPECT_EQ(f.device_name, "");
}

TEST_F(DesktopActions, LoginComparesWithTheFileAsItIsNow) {
  const std::string protected_pass = *ProtectString("s3cret");
  struct Case {
    const char* name;
    ConfigMap config;
    const char* user;
    const char* password;
    bool ok;
  };
  const Case cases[] = {
      {"no keys: admin/admin", {}, "admin", "admin", true},
      {"no keys, wrong password", {}, "admin", "admin2", false},
      {"user name differs in case", {}, "Admin", "admin", false},
      {"protected password", {{"admin_user", "boss"}, {"admin_pass", protected_pass}}, "boss", "s3cret", true},
      {"protected password typed as stored", {{"admin_pass", protected_pass}}, "admin", protected_pass.c_str(),
       false},
      {"undecryptable value never matches", {{"admin_pass", "enc:AAAA"}}, "admin", "", false},
      {"empty password never matches", {{"admin_pass", ""}}, "admin", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckDesktopLogin(c.config, c.user, c.password), c.ok);
  }
}

TEST_F(DesktopActions, ChangeCredentialsValidatesBeforeSaving) {
  WriteConfig("admin_user = admin\r\nadmin_pass = admin\r\n");
  struct Case {
    const char* name;
    std::string user, password, confirm;
    CredentialsOutcome outcome;
  };
  const Case cases[] = {
      {"same user, no password", "admin", "", "", CredentialsOutcome::kNothingToChange},
      // Once kept silently: the password then went under the old name and "Saved" was shown.
      {"user of 33 bytes", std::string(33, 'u'), "", "", CredentialsOutcome::kInvalidUserName},
      // Basic authentication could never match it.
      {"user with a colon", "op:1", "pw", "pw", CredentialsOutcome::kInvalidUserName},
      {"Arabic user (the web panel refuses it)", "مدير", "", "", CredentialsOutcome::kInvalidUserName},
      {"password with a control byte", "admin", "p\x01w", "p\x01w", CredentialsOutcome::kInvalidPassword},
      {"passwords differ", "admin", "one", "two", CredentialsOutcome::kPasswordsDiffer},
      {"only the confirmation given", "admin", "", "x", CredentialsOutcome::kPasswordsDiffer},
      {"65 bytes", "admin", std::string(65, 'p'), std::string(65, 'p'), CredentialsOutcome::kPasswordTooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChangeCredentials(c.user, c.password, c.confirm), c.outcome);
    EXPECT_EQ(ConfigText(), "admin_user = admin\r\nadmin_pass = admin\r\n") << "nothing written";
    EXPECT_FALSE(PasswordProtected());
  }
  EXPECT_EQ(MessageFor(CredentialsOutcome::kPasswordsDiffer).en, std::string("Passwords do not match."));
}

TEST_F(DesktopActions, ChangeCredentialsSavesTheUserAloneOrAProtectedPassword) {
  WriteConfig("# mine\r\nadmin_user = admin\r\nadmin_pass = admin\r\n");
  EXPECT_EQ(ChangeCredentials("operator", "", ""), CredentialsOutcome::kSaved);
  EXPECT_EQ(ConfigText(), "# mine\r\nadmin_user = operator\r\nadmin_pass = admin\r\n");
  EXPECT_FALSE(PasswordProtected()) << "the password stays plain";

  const std::string longest(64, 'p');
  EXPECT_EQ(ChangeCredentials("", longest, longest), CredentialsOutcome::kSaved);
  const ConfigMap c = Config();
  EXPECT_EQ(c.at("admin_user"), "operator") << "an empty user name keeps the stored one";
  EXPECT_EQ(c.at("admin_pass").rfind("enc:", 0), 0u);
  EXPECT_EQ(UnprotectString(c.at("admin_pass")), longest);
  EXPECT_TRUE(PasswordProtected());
  EXPECT_TRUE(CheckDesktopLogin(c, "operator", longest));
}

TEST_F(DesktopActions, TheFactoryPasswordIsReplacedBeforeTheAdminWindow) {
  WriteConfig("admin_user = boss\r\nadmin_pass = admin\r\n");
  EXPECT_TRUE(FactoryPasswordInForce(Config()));
  EXPECT_FALSE(FactoryPasswordInForce({{"admin_pass", "s3cret-pw"}}));
  EXPECT_TRUE(FactoryPasswordInForce({})) << "an absent key is the factory admin";
  struct Case {
    const char* name;
    std::string password, confirm;
    FactoryPasswordOutcome outcome;
  };
  const Case cases[] = {
      {"passwords differ", "longenough1", "longenough2", FactoryPasswordOutcome::kPasswordsDiffer},
      {"the factory one again", "admin", "admin", FactoryPasswordOutcome::kStillFactory},
      {"seven bytes", "seven77", "seven77", FactoryPasswordOutcome::kTooShort},
      {"65 bytes", std::string(65, 'p'), std::string(65, 'p'), FactoryPasswordOutcome::kInvalidPassword},
      {"a control byte", "abc\x01" "defgh", "abc\x01" "defgh", FactoryPasswordOutcome::kInvalidPassword},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReplaceFactoryPassword(c.password, c.confirm), c.outcome);
    EXPECT_EQ(ConfigText(), "admin_user = boss\r\nadmin_pass = admin\r\n") << "nothing written";
  }
  EXPECT_EQ(MessageFor(FactoryPasswordOutcome::kTooShort).en, std::string("The password must be at least 8 characters."));
  EXPECT_EQ(ReplaceFactoryPassword("eight888", "eight888"), FactoryPasswordOutcome::kSaved);
  const ConfigMap c = Config();
  EXPECT_TRUE(CheckDesktopLogin(c, "boss", "eight888"));
  EXPECT_FALSE(FactoryPasswordInForce(c));
  EXPECT_TRUE(PasswordProtected());
}

// An RSA key made for the test, with codes signed the way the maker signs.
class RecoveryKey {
 public:
  RecoveryKey() {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr),
                                                                    EVP_PKEY_CTX_free);
    EVP_PKEY_keygen_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), 2048);
    EVP_PKEY* raw = nullptr;
    EVP_PKEY_keygen(ctx.get(), &raw);
    key_.reset(raw);
  }
  std::string Blob() const {
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    EVP_PKEY_get_bn_param(key_.get(), "n", &n);
    EVP_PKEY_get_bn_param(key_.get(), "e", &e);
    RsaPublicKey pub;
    pub.bit_length = 2048;
    pub.modulus.resize(BN_num_bytes(n));
    pub.exponent.resize(BN_num_bytes(e));
    BN_bn2bin(n, reinterpret_cast<unsigned char*>(pub.modulus.data()));
    BN_bn2bin(e, reinterpret_cast<unsigned char*>(pub.exponent.data()));
    BN_free(n);
    BN_free(e);
    return BuildRsaPublicBlob(pub);
  }
  std::string Code(const std::string& machine_id) const {
    const std::string message = RecoveryMessage(machine_id);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key_.get());
    size_t size = 0;
    EVP_DigestSign(md.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()),
                   message.size());
    std::string sig(size, '\0');
    EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(sig.data()), &size,
                   reinterpret_cast<const unsigned char*>(message.data()), message.size());
    sig.resize(size);
    return Base64Encode(sig);
  }

 private:
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{nullptr, EVP_PKEY_free};
};

TEST_F(DesktopActions, RecoveryAcceptsOnlyThisMachinesCode) {
  static const RecoveryKey key;
  DesktopContext context;
  context.recovery_key_blob = key.Blob();
  ASSERT_EQ(context.recovery_key_blob.size(), 283u);
  DesktopHooks hooks = DefaultDesktopHooks(context);
  const std::string id(64, 'a');
  hooks.machine_id = [id] { return id; };

  WriteConfig("admin_user = boss\r\nadmin_pass = " + *ProtectString("lost") + "\r\n");
  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  const std::string before = ConfigText();
  EXPECT_EQ(RecoverWithCode("", hooks), RecoveryOutcome::kEmptyCode);
  EXPECT_EQ(RecoverWithCode(" \n", hooks), RecoveryOutcome::kEmptyCode);
  EXPECT_EQ(RecoverWithCode(key.Code(std::string(64, 'b')), hooks), RecoveryOutcome::kInvalidCode)
      << "a code for another machine";
  EXPECT_EQ(RecoverWithCode("bm90IGEgc2lnbmF0dXJl", hooks), RecoveryOutcome::kInvalidCode);
  EXPECT_EQ(ConfigText(), before);
  EXPECT_TRUE(PasswordProtected());

  EXPECT_EQ(RecoverWithCode(key.Code(id), hooks), RecoveryOutcome::kRecovered);
  EXPECT_EQ(ConfigText(), "admin_user = admin\r\nadmin_pass = admin\r\n");
  EXPECT_FALSE(PasswordProtected()) << "plain admin must be accepted after the relaunch";
  EXPECT_EQ(MessageFor(RecoveryOutcome::kInvalidCode).en, std::string("Invalid code for this device."));
}

TEST_F(DesktopActions, FactoryResetWritesTheEnglishTemplate) {
  WriteConfig("lang = en\r\nshow_icon = 0\r\neula_accepted = 1\r\nfps = 30\r\n");
  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  ASSERT_TRUE(FactoryReset());
  EXPECT_EQ(ConfigText().rfind("# Lumicast config\r\n", 0), 0u);
  const ConfigMap c = Config();
  EXPECT_EQ(c.count("lang") + c.count("show_icon") + c.count("eula_accepted"), 0u);
  EXPECT_EQ(c.at("fps"), "10");
  EXPECT_FALSE(PasswordProtected());
  EXPECT_EQ(LanguageFromConfig(c), Language::kArabic);
  EXPECT_FALSE(EulaAccepted(c)) << "the next interactive start asks again";
}

TEST_F(DesktopActions, ImmediateSwitchesSaveTheirKey) {
  WriteConfig("stream_on = 1\r\n");
  StreamPaused.store(false);
  EXPECT_TRUE(ToggleStreamPaused());
  EXPECT_TRUE(StreamPaused.load());
  EXPECT_EQ(Config().at("stream_on"), "0");
  EXPECT_FALSE(ToggleStreamPaused());
  EXPECT_FALSE(StreamPaused.load());
  EXPECT_EQ(Config().at("stream_on"), "1");

  ASSERT_TRUE(SaveShowIcon(false));
  ASSERT_TRUE(SaveLanguage(Language::kEnglish));
  EXPECT_EQ(ConfigText(), "stream_on = 1\r\nshow_icon = 0\r\nlang = en\r\n");
  EXPECT_EQ(LanguageFromConfig(Config()), Language::kEnglish);
  ASSERT_TRUE(SaveLanguage(Language::kArabic));
  EXPECT_EQ(Config().at("lang"), "ar");
}

TEST_F(DesktopActions, LanguageIsEnglishOnlyForExactlyEn) {
  EXPECT_EQ(LanguageFromConfig({}), Language::kArabic);
  EXPECT_EQ(LanguageFromConfig({{"lang", "en"}}), Language::kEnglish);
  for (const char* other : {"EN", "en ", "english", ""}) {
    EXPECT_EQ(LanguageFromConfig({{"lang", other}}), Language::kArabic) << other;
  }
}

TEST_F(DesktopActions, AutostartEntryRunsTheProgramInTheBackground) {
  const std::string exe = "/opt/My Apps/50% \"cam\"/$HOME/lcx_onvif";
  const std::string text = AutostartEntryText(exe, "/opt/My Apps");
  EXPECT_NE(text.find("\nExec=\"/opt/My Apps/50%% \\\\\"cam\\\\\"/\\\\$HOME/lcx_onvif\" --background\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nPath=/opt/My Apps\n"), std::string::npos);
  EXPECT_NE(text.find("\nComment=Lumicast\n"), std::string::npos);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);

  EXPECT_EQ(AutostartPath(), dir_ + "/cfg/autostart/Lumicast.desktop");
  EXPECT_FALSE(AutostartEnabled());
  ASSERT_TRUE(SetAutostart(true, "/usr/bin/lcx_onvif", "/usr/bin"));
  EXPECT_TRUE(AutostartEnabled());
  std::string written;
  ASSERT_TRUE(ReadWholeFile(AutostartPath(), written));
  EXPECT_EQ(written, AutostartEntryText("/usr/bin/lcx_onvif", "/usr/bin"));
  ASSERT_TRUE(SetAutostart(false, "", ""));
  EXPECT_FALSE(AutostartEnabled());
  EXPECT_TRUE(SetAutostart(false, "", "")) << "deleting a missing entry is no failure";
}

TEST_F(DesktopActions, EulaIsAcceptedOnlyByExactlyOne) {
  EXPECT_FALSE(EulaAccepted({}));
  EXPECT_FALSE(EulaAccepted({{"eula_accepted", "01"}}));
  EXPECT_FALSE(EulaAccepted({{"eula_accepted", "yes"}}));
  EXPECT_TRUE(EulaAccepted({{"eula_accepted", "1"}}));
  ASSERT_TRUE(SaveEulaAccepted());
  EXPECT_EQ(ConfigText(), "eula_accepted = 1\r\n") << "a first save creates the file with just this key";

  // A fresh private name in the user's own runtime folder, never a fixed one in a shared folder.
  env_.Unset("XDG_RUNTIME_DIR");
  const std::string path = WriteEulaFile("<html>x</html>");
  const std::string folder = dir_ + "/lumicast-" + std::to_string(::getuid());
  EXPECT_EQ(path.rfind(folder + "/Lumicast_eula-", 0), 0u) << path;
  EXPECT_NE(WriteEulaFile("<html>x</html>"), path);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::string page;
  ASSERT_TRUE(ReadWholeFile(path, page));
  EXPECT_EQ(page, "<html>x</html>");
}

}  // namespace
}  // namespace lcx
