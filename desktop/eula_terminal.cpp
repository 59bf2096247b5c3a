#include "desktop/eula_terminal.h"

#include <iostream>

#include "core/config.h"
#include "core/log.h"
#include "desktop/actions.h"
#include "desktop/eula_text.h"
#include "platform/stop_signal_fd.h"

namespace lcx {

std::string AgreementTerminalText(const std::string& eula_html) {
  return "===== " + std::string(txt::kEulaTitle.en) + " =====\n\n" + EulaPlainText(eula_html, Language::kEnglish) +
         "\n===== " + txt::kEulaTitle.ar + " =====\n\n" + EulaPlainText(eula_html, Language::kArabic);
}

bool IsYes(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const std::string word = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
  if (word.size() != 3) return false;
  for (size_t i = 0; i < 3; ++i) {
    if ((word[i] | 0x20) != "yes"[i]) return false;
  }
  return true;
}

std::string HowToAcceptText(const std::string& exe_path) {
  return "The license agreement has not been accepted, and no answer came on standard input.\n"
         "  Read it:    " + exe_path + " --agreement-text\n"
         "  Accept it:  " + exe_path + " --accept-agreement\n"
         "then start again (or answer on standard input: echo yes | scripts/run.sh).\n";
}

AgreementAnswer AskAgreement(const DesktopContext& context, const std::function<InputLine(std::string*)>& read_line,
                             std::ostream& out) {
  if (EulaAccepted(LoadConfig(ConfigPath()))) return AgreementAnswer::kAccepted;
  out << AgreementTerminalText(context.eula_html)
      << "\nType yes to accept the license agreement and start the camera (anything else declines): "
      << std::flush;
  std::string line;
  switch (read_line(&line)) {
    case InputLine::kEnd:
      out << "\n" << HowToAcceptText(context.exe_path) << std::flush;
      return AgreementAnswer::kUnanswered;
    case InputLine::kStopped:
      out << "\n" << std::flush;
      return AgreementAnswer::kDeclined;  // as a stop signal while the window is open
    case InputLine::kLine:
      break;
  }
  if (!IsYes(line)) return AgreementAnswer::kDeclined;
  // Accepted even if the save fails, as in the window: the question then
  // comes back at the next interactive start.
  if (!SaveEulaAccepted()) LogLine("Desktop: could not save eula_accepted\n");
  return AgreementAnswer::kAccepted;
}

AgreementAnswer AskAgreementOnTerminal(const DesktopContext& context) {
  const UniqueFd signals = OpenStopSignalFd();
  const bool terminal = InputIsTerminal();
  return AskAgreement(
      context,
      [&](std::string* line) {
        const InputLine read = ReadInputLine(signals.get(), line);
        // A terminal echoes what was typed; a piped answer is shown here.
        if (read == InputLine::kLine && !terminal) std::cout << *line << "\n";
        return read;
      },
      std::cout);
}

int PrintAgreementRole(const std::string& eula_html) {
  std::cout << AgreementTerminalText(eula_html) << std::flush;
  return 0;
}

int AcceptAgreementRole() {
  if (!SaveEulaAccepted()) {
    std::cerr << "Could not save the acceptance in " << ConfigPath() << "\n";
    return 1;
  }
  std::cout << "License agreement accepted (eula_accepted = 1 in " << ConfigPath() << ").\n";
  return 0;
}

}  // namespace lcx
