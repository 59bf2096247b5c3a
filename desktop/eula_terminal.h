// The first-run agreement asked on the terminal instead of in a window, for
// a start on a screen nobody sees (the run command's private Xvfb): the
// plain text, then "yes" to accept. Saved as the window saves it
// (SaveEulaAccepted), so it is asked once either way. Main thread only.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "desktop/desktop_context.h"
#include "platform/input_line.h"

namespace lcx {

enum class AgreementAnswer {
  kAccepted,    // already, or "yes" now (saved)
  kDeclined,    // any other line, or a stop signal meanwhile
  kUnanswered,  // the input ended first: told how to accept instead
};

// Both languages' plain text, English first (a terminal lays Arabic out
// poorly, but it is the program's first language and stays).
std::string AgreementTerminalText(const std::string& eula_html);
// "yes" in any case, blanks round it allowed.
bool IsYes(const std::string& line);
// What to run to read and accept the agreement without a terminal.
std::string HowToAcceptText(const std::string& exe_path);

// The question with its input and output as seams: `read_line` is
// ReadInputLine's shape.
AgreementAnswer AskAgreement(const DesktopContext& context, const std::function<InputLine(std::string*)>& read_line,
                             std::ostream& out);
// The same on standard input and output, a stop signal ending the wait.
AgreementAnswer AskAgreementOnTerminal(const DesktopContext& context);

// "--agreement-text": prints the text; "--accept-agreement": saves the
// acceptance (0) or says it could not (1).
int PrintAgreementRole(const std::string& eula_html);
int AcceptAgreementRole();

}  // namespace lcx
