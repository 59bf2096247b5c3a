#include "desktop/eula_terminal.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/config.h"
#include "desktop/actions.h"
#include "platform/temp_dir_testing.h"

namespace lcx {
namespace {

const char kPage[] =
    "<body><article id=\"ar\"><p>نص عربي</p></article>"
    "<article id=\"en\"><h2>Agreement</h2><p>Use at your own risk.</p></article></body>";

class TerminalAgreement : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    env_.Set("ProgramData", tmp_.path());
    env_.Set("XDG_CONFIG_HOME", tmp_.Sub("cfg"));
    context_.exe_path = "/opt/lcx/lcx_onvif";
    context_.eula_html = kPage;
  }
  TestDir tmp_{"lcx-agreement"};
  ScopedEnv env_;
  DesktopContext context_;
};

TEST_F(TerminalAgreement, AnswersAndWhatIsSaved) {
  struct Case {
    const char* name;
    InputLine read;
    const char* line;
    AgreementAnswer answer;
    bool saved;
    const char* said;  // in the output after the question
  } cases[] = {
      {"yes", InputLine::kLine, "yes", AgreementAnswer::kAccepted, true, ""},
      {"YES with blanks", InputLine::kLine, "  YES ", AgreementAnswer::kAccepted, true, ""},
      {"no", InputLine::kLine, "no", AgreementAnswer::kDeclined, false, ""},
      {"an empty line declines", InputLine::kLine, "", AgreementAnswer::kDeclined, false, ""},
      {"y is not yes", InputLine::kLine, "y", AgreementAnswer::kDeclined, false, ""},
      {"yes please is not yes", InputLine::kLine, "yes please", AgreementAnswer::kDeclined, false, ""},
      {"Ctrl-C declines, as in the window", InputLine::kStopped, "", AgreementAnswer::kDeclined, false, ""},
      {"no input at all tells how to accept", InputLine::kEnd, "", AgreementAnswer::kUnanswered, false,
       "  Accept it:  /opt/lcx/lcx_onvif --accept-agreement\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SaveConfigKeys({{"eula_accepted", "0"}}));
    std::ostringstream out;
    int reads = 0;
    const AgreementAnswer answer = AskAgreement(
        context_,
        [&](std::string* line) {
          ++reads;
          *line = c.line;
          return c.read;
        },
        out);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(EulaAccepted(LoadConfig(ConfigPath())), c.saved);
    const std::string text = out.str();
    EXPECT_NE(text.find("Agreement\nUse at your own risk.\n"), std::string::npos) << text;
    EXPECT_NE(text.find("نص عربي\n"), std::string::npos) << text;
    const std::string question = "Type yes to accept";
    ASSERT_NE(text.find(question), std::string::npos) << text;
    EXPECT_NE(text.find(c.said, text.find(question)), std::string::npos) << text;
  }
}

TEST_F(TerminalAgreement, AskedOnceThenNeverAgain) {
  ASSERT_EQ(AcceptAgreementRole(), 0);
  EXPECT_EQ(LoadConfig(ConfigPath()).at("eula_accepted"), "1") << "as the window saves it";
  std::ostringstream out;
  bool read = false;
  EXPECT_EQ(AskAgreement(
                context_,
                [&](std::string*) {
                  read = true;
                  return InputLine::kEnd;
                },
                out),
            AgreementAnswer::kAccepted);
  EXPECT_FALSE(read);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace lcx
