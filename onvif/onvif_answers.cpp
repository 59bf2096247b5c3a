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

bool Mentions(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

RequestHead HeadOf(std::string_view request) {
  RequestHead head;
  ParseRequestHead(request, head);
  return head;
}

}  // namespace

bool IsSnapshotRequest(const RequestHead& head) {
  if (head.method != "GET") return false;
  if (Mentions(head.target, "napshot")) return true;
  for (const HeaderField& field : head.fields) {
    if (Mentions(field.name, "napshot") || Mentions(field.value, "napshot")) return true;
  }
  return false;
}

bool IsSnapshotRequest(std::string_view request) { return IsSnapshotRequest(HeadOf(request)); }

std::string OnvifRefusal(HttpRead read) {
  switch (read) {
    case HttpRead::kHeaderTooLarge: return EmptyAnswer("431 Request Header Fields Too Large");
    case HttpRead::kBodyTooLarge: return EmptyAnswer("413 Payload Too Large");
    case HttpRead::kBadLength:
    case HttpRead::kIncompleteBody: return EmptyAnswer("400 Bad Request");
    case HttpRead::kComplete:
    case HttpRead::kClosed: break;
  }
  return {};
}

std::string EmptyAnswer(std::string_view status) {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string SnapshotChallenge(std::string_view nonce, bool stale) {
  return "HTTP/1.1 401 Unauthorized\r\n" + Challenge(nonce, stale) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string AnswerSnapshot(const OnvifService& service, const OnvifAuthState& auth, const RequestHead& head,
                           const SnapshotEncoder& encode) {
  if (service.auth_enabled) {
    HttpAuthResult result = CheckHttpAuth(service, head, "GET", auth);
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

std::string AnswerSnapshot(const OnvifService& service, const OnvifAuthState& auth, std::string_view request,
                           const SnapshotEncoder& encode) {
  return AnswerSnapshot(service, auth, HeadOf(request), encode);
}

std::string AnswerSoapCall(const OnvifService& service, OnvifAuthState& auth, const RequestHead& head,
                           std::string_view body) {
  HttpAuthResult http = HttpAuthResult::kRefused;
  bool authorised = !service.auth_enabled || !IsProtectedOperation(body) || CheckWsSecurity(service, body, auth) ||
                    (http = CheckHttpAuth(service, head, "POST", auth)) == HttpAuthResult::kAccepted;
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
  SoapAnswer answer = AnswerOnvifOperation(service, body, TargetPath(head.target));
  SubstitutePlaceholders(service, answer.envelope);
  return "HTTP/1.1 " + answer.status + "\r\n" + content_type + "Content-Length: " +
         std::to_string(answer.envelope.size()) + "\r\nConnection: close\r\n\r\n" + answer.envelope;
}

std::string AnswerSoapCall(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                           std::string_view body) {
  return AnswerSoapCall(service, auth, HeadOf(request), body);
}

std::string AnswerOnvifRequest(const OnvifService& service, OnvifAuthState& auth, const RequestHead& head,
                               std::string_view body, const SnapshotEncoder& encode) {
  return IsSnapshotRequest(head) ? AnswerSnapshot(service, auth, head, encode) : AnswerSoapCall(service, auth, head, body);
}

std::string AnswerOnvifRequest(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                               std::string_view body, const SnapshotEncoder& encode) {
  return AnswerOnvifRequest(service, auth, HeadOf(request), body, encode);
}

}  // namespace lcx
