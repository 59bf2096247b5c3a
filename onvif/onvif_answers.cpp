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
// The same refusal to a SOAP 1.1 client.
constexpr SoapFault kNotAuthorized11{true, "ter:NotAuthorized", nullptr, "Sender not authorized"};

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
  const SoapVersion version = SoapVersionOf(body);
  const std::string content_type = std::string("Content-Type: ") + SoapContentType(version) + "\r\n";
  if (!authorised) {
    std::string envelope = version == SoapVersion::k12
                               ? WrapSoapEnvelope(kNotAuthorizedFault)
                               : WrapSoapEnvelope(BuildSoapFault(kNotAuthorized11, version), version);
    return "HTTP/1.1 401 Unauthorized\r\n" + Challenge(OnvifDigestNonce(service, auth), http == HttpAuthResult::kStale) +
           content_type + "Content-Length: " + std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" +
           envelope;
  }
  // The request target names an event subscription.
  std::string_view target = request.substr(0, request.find('\r'));
  target = target.substr(target.find(' ') == std::string_view::npos ? target.size() : target.find(' ') + 1);
  target = target.substr(0, target.find(' '));
  SoapAnswer answer = AnswerOnvifOperation(service, body, target);
  SubstitutePlaceholders(service, answer.envelope);
  return "HTTP/1.1 " + answer.status + "\r\n" + content_type + "Content-Length: " +
         std::to_string(answer.envelope.size()) + "\r\nConnection: close\r\n\r\n" + answer.envelope;
}

std::string AnswerOnvifRequest(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                               std::string_view body, const SnapshotEncoder& encode) {
  return IsSnapshotRequest(request) ? AnswerSnapshot(service, auth, request, encode)
                                    : AnswerSoapCall(service, auth, request, body);
}

}  // namespace lcx
