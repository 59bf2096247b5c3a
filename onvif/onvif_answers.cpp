#include "onvif/onvif_answers.h"

#include "onvif/onvif_auth.h"
#include "onvif/onvif_operations.h"
#include "onvif/onvif_service.h"
#include "onvif/soap_envelope.h"

namespace lcx {
namespace {

constexpr const char* kNotAuthorizedFault =
    "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized</env:Value>"
    "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Sender not authorized</env:Text></env:Reason>"
    "</env:Fault>";

std::string Challenge(std::string_view nonce, bool stale) {
  return std::string("WWW-Authenticate: Digest realm=\"") + kOnvifRealm + "\", qop=\"auth\", nonce=\"" +
         std::string(nonce) + (stale ? "\", stale=true\r\n" : "\"\r\n");
}

}  // namespace

bool IsSnapshotRequest(std::string_view request) {
  return request.substr(0, 4) == "GET " && request.find("napshot") != std::string_view::npos;
}

std::string EmptyAnswer(std::string_view status) {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string SnapshotChallenge(std::string_view nonce, bool stale) {
  return "HTTP/1.1 401 Unauthorized\r\n" + Challenge(nonce, stale) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string AnswerSnapshot(const OnvifService& service, const OnvifAuthState& auth, std::string_view request,
                           const SnapshotEncoder& encode) {
  if (service.auth_enabled) {
    HttpAuthResult result = CheckHttpAuth(service, request, "GET", auth);
    if (result != HttpAuthResult::kAccepted) {
      return SnapshotChallenge(OnvifDigestNonce(service, auth), result == HttpAuthResult::kStale);
    }
  }
  std::vector<uint8_t> jpeg;
  if (!encode(service.width, service.height, jpeg) || jpeg.empty()) {
    return EmptyAnswer("500 Internal Server Error");
  }
  std::string out = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-cache\r\nContent-Length: " +
                    std::to_string(jpeg.size()) + "\r\nConnection: close\r\n\r\n";
  out.append(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  return out;
}

std::string AnswerSoapCall(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                           std::string_view body) {
  HttpAuthResult http = HttpAuthResult::kRefused;
  bool authorised = !service.auth_enabled || !IsProtectedOperation(body) || CheckWsSecurity(service, body, auth) ||
                    (http = CheckHttpAuth(service, request, "POST", auth)) == HttpAuthResult::kAccepted;
  if (!authorised) {
    std::string envelope = WrapSoapEnvelope(kNotAuthorizedFault);
    return "HTTP/1.1 401 Unauthorized\r\n" + Challenge(OnvifDigestNonce(service, auth), http == HttpAuthResult::kStale) +
           "Content-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " + std::to_string(envelope.size()) +
           "\r\nConnection: close\r\n\r\n" + envelope;
  }
  std::string envelope = DispatchOnvifOperation(service, body);
  SubstitutePlaceholders(service, envelope);
  return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
         std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" + envelope;
}

std::string AnswerOnvifRequest(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                               std::string_view body, const SnapshotEncoder& encode) {
  return IsSnapshotRequest(request) ? AnswerSnapshot(service, auth, request, encode)
                                    : AnswerSoapCall(service, auth, request, body);
}

}  // namespace lcx
