// Device, media and event operations: the ten operations recorders have always
// called are recognised by plain substring search in a fixed order; any
// other call by the Body's first element (its name and namespace), so a
// name that another contains ("GetVideoEncoderConfiguration" in
// "...Options") or that two services share (GetServiceCapabilities) is told
// apart. The answer is assembled from fixed fragments with the placeholders
// ({IP}, {STREAM}, ...) still in it; calls nobody answers get a fault.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "onvif/media_configuration.h"
#include "onvif/soap_envelope.h"

namespace lcx {

struct OnvifService;

inline constexpr const char* kOnvifDeviceNs = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char* kOnvifMediaNs = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr const char* kOnvifScopePrefix = "onvif://www.onvif.org/";

// The answer envelope, in the SOAP version of the request, and its HTTP
// status ("200 OK", or the fault's).
struct SoapAnswer {
  std::string status = "200 OK";
  SoapVersion version = SoapVersion::k12;
  std::string envelope;
};
// Uses the system clock. `target` is the request's path: it names the
// event subscription a pull-point call is for. An event pull may block
// (within the event service's limits).
SoapAnswer AnswerOnvifOperation(const OnvifService& service, std::string_view body, std::string_view target = {});
// The same with the UTC time given, for tests.
SoapAnswer AnswerOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc,
                                  std::string_view target = {});

// Just the envelope of the above.
std::string DispatchOnvifOperation(const OnvifService& service, std::string_view body);
std::string DispatchOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc);

// The four scope URIs, in the order GetScopes and ProbeMatches list them.
std::string ScopeUri(int index, const OnvifService& service);

}  // namespace lcx
