// The SOAP envelope every ONVIF answer travels in (1.2, or 1.1 to a client
// that asked in 1.1), its faults, the first element of a request's Body, and
// the placeholders ({IP}, {STREAM}, ...) that the operations leave in their
// answers. Pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lcx {

struct OnvifService;

enum class SoapVersion { k12, k11 };

// 1.1 when the request's envelope is in the SOAP 1.1 namespace only; 1.2
// otherwise (also for bodies that are no envelope at all).
SoapVersion SoapVersionOf(std::string_view body);
// "application/soap+xml; charset=utf-8" or, for 1.1, "text/xml; charset=utf-8".
const char* SoapContentType(SoapVersion version);

// Prologue (XML declaration, the envelope with its five namespaces, the
// body's opening tag) + body + the closing tags. No SOAP header.
std::string WrapSoapEnvelope(std::string_view body);
std::string WrapSoapEnvelope(std::string_view body, SoapVersion version);

// A fault: who is to blame (the caller: env:Sender, else env:Receiver), the
// ONVIF subcode and, where the standard names one, the particular one below
// it ("ter:InvalidArgVal" then "ter:NoProfile"), and the reason text.
struct SoapFault {
  bool sender = false;
  const char* subcode = "";
  const char* inner_subcode = nullptr;
  const char* reason = "";
};
// The Fault element (1.1: faultcode env:Client or env:Server, faultstring).
std::string BuildSoapFault(const SoapFault& fault, SoapVersion version);
// The faults the operations answer with.
inline constexpr SoapFault kActionNotSupportedFault{false, "ter:ActionNotSupported", nullptr,
                                                    "Optional Action Not Implemented"};
inline constexpr SoapFault kNoProfileFault{true, "ter:InvalidArgVal", "ter:NoProfile", "No such profile"};
inline constexpr SoapFault kNoConfigFault{true, "ter:InvalidArgVal", "ter:NoConfig", "No such configuration"};
inline constexpr SoapFault kNotWellFormedFault{true, "ter:WellFormed", nullptr, "Not a SOAP envelope with a Body"};
inline constexpr SoapFault kNoOperationFault{true, "ter:Tag", nullptr, "The Body names no operation"};
// The profiles are made from the settings: none can be added or removed.
inline constexpr SoapFault kMaxProfilesFault{false, "ter:Action", "ter:MaxNVTProfiles",
                                             "The profiles are fixed; use an existing one"};
inline constexpr SoapFault kFixedProfileFault{true, "ter:Action", "ter:DeletionOfFixedProfile",
                                              "The fixed profile cannot be deleted"};
// The computer keeps its own time; the program never sets the clock.
inline constexpr SoapFault kClockNotSetFault{false, "ter:ActionNotSupported", nullptr,
                                             "The device does not set the clock: it keeps the computer's time"};
inline constexpr SoapFault kStreamSetupFault{true, "ter:InvalidArgVal", "ter:InvalidStreamSetup",
                                             "Unknown stream type or transport"};

// What an operation answers: its response element, or a fault.
struct OperationAnswer {
  std::string element;
  std::optional<SoapFault> fault;
};

// The HTTP status SOAP clients expect with a fault: 1.2 binds the caller's
// faults to 400 and the server's to 500; 1.1 uses 500 for every fault.
const char* SoapFaultStatus(const SoapFault& fault, SoapVersion version);

// The first element inside the request's Body: its local name and the
// namespace its prefix (or the default namespace) is bound to.
struct SoapOperation {
  std::string name;
  std::string ns;
};
enum class BodyShape {
  kOperation,  // the Body holds an element
  kEmptyBody,  // a Body with no element in it
  kNoBody,     // no Envelope with a Body: not a SOAP request
};
BodyShape FindSoapOperation(std::string_view body, SoapOperation* operation);

// "&", "<" and ">" as entities, for text taken from outside (a probe's
// MessageID, the host's names).
std::string EscapeXmlText(std::string_view text);

// Replaces every occurrence, resuming after the inserted value.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);
// The eight placeholders in their fixed order, values inserted unescaped.
void SubstitutePlaceholders(const OnvifService& service, std::string& envelope);

}  // namespace lcx
