// The SOAP 1.2 envelope every ONVIF answer travels in, and the placeholders
// ({IP}, {STREAM}, ...) that the operations leave in their answers. Pure.
#pragma once

#include <string>
#include <string_view>

namespace lcx {

struct OnvifService;

// Prologue (XML declaration, the envelope with its five namespaces, the
// body's opening tag) + body + the closing tags. No SOAP header.
std::string WrapSoapEnvelope(std::string_view body);
// Replaces every occurrence, resuming after the inserted value.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);
// The eight placeholders in their fixed order, values inserted unescaped.
void SubstitutePlaceholders(const OnvifService& service, std::string& envelope);

}  // namespace lcx
