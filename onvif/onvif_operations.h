// Device and media operations: the SOAP body is matched by plain substring
// search in a fixed order, and the answer is assembled from fixed fragments
// with the placeholders ({IP}, {STREAM}, ...) still in it.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace lcx {

struct OnvifService;

inline constexpr const char* kOnvifDeviceNs = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char* kOnvifMediaNs = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr const char* kOnvifScopePrefix = "onvif://www.onvif.org/";

// Whole answer envelope for a request body; uses the system clock.
std::string DispatchOnvifOperation(const OnvifService& service, std::string_view body);
// The same with the UTC time given, for tests.
std::string DispatchOnvifOperationAt(const OnvifService& service, std::string_view body,
                                     const std::tm& utc);

std::string BuildProfileXml(std::string_view token, std::string_view name,
                            std::string_view source_config_token, std::string_view encoder_config_token,
                            std::string_view width, std::string_view height, std::string_view fps,
                            std::string_view bitrate);

// The four scope URIs, in the order GetScopes and ProbeMatches list them.
std::string ScopeUri(int index, const OnvifService& service);

}  // namespace lcx
