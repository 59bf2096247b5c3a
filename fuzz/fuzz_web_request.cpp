// The web panel's request over a peer that sent the fuzzer's bytes and
// closed, read by the shared framing with the panel's options, then what the
// routes read of it: the request line, the form of a save, the session
// cookies, the Host and Origin checks and the peer key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "web/web_config_api.h"
#include "web/web_guard.h"
#include "core/http_request.h"
#include "core/request_head.h"
#include "web/web_admin_server.h"
#include "web/web_answers.h"
#include "web/web_request.h"
#include "web/web_routes.h"
#include "web/web_sessions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The pure parsers straight over the bytes, so a short run reaches them
  // without first finding a whole head.
  RequestHead direct_head;
  ParseRequestHead(bytes, direct_head);
  ContentLength(direct_head);
  CookieValues(direct_head, kSessionCookie);
  const WebForm direct = ParseForm(bytes);
  PlanSettingsSave(direct);
  UrlDecode(bytes);
  const std::string escaped = JsonEscape(bytes);
  LCX_FUZZ_CHECK(escaped.find_first_of("<>&") == std::string::npos);
  // A host that passes is one name or literal: never a blank, a path or user info.
  if (const std::optional<std::string> host = HostOfAuthority(bytes)) {
    LCX_FUZZ_CHECK(!host->empty() && host->find_first_of(" /@\r\n") == std::string::npos);
  }
  const HostPolicy policy = MakeHostPolicy("studio-pc", bytes, {"192.168.1.40", "fe80::1"});
  const bool allowed = HostAllowed(policy, direct_head, "10.0.0.5");
  const bool same_origin = SameOriginRequest(direct_head);
  // The Host check sees exactly one Host field; two never pass.
  if (direct_head.FindAll("Host").size() != 1) LCX_FUZZ_CHECK(!allowed);
  if (const auto site = direct_head.Find("Sec-Fetch-Site"); site && EqualsIgnoreCase(*site, "cross-site"))
    LCX_FUZZ_CHECK(!same_origin);
  PeerKey(bytes);

  lcx::UniqueFd fd = fuzz::PeerThatSent(bytes);
  if (!fd) return 0;
  WebLimits limits;
  limits.max_header_bytes = 2048;  // small, so inputs reach the bounds
  limits.max_body_bytes = 2048;
  limits.receive_timeout_ms = 1000;
  limits.request_deadline_ms = 2000;
  HttpRequest read_request;
  const HttpRead read = ReadHttpRequest(fd.get(), WebHttpLimits(limits), read_request);
  if (read != HttpRead::kComplete) {
    LCX_FUZZ_CHECK((read == HttpRead::kClosed) == ReadFailureReply(read).empty());
    return 0;
  }
  const WebRequest request = ToWebRequest(std::move(read_request));
  LCX_FUZZ_CHECK(request.head.size() >= 4 && request.head.compare(request.head.size() - 4, 4, "\r\n\r\n") == 0);
  LCX_FUZZ_CHECK(static_cast<int64_t>(request.body.size()) == ContentLength(request.fields).value_or(-1));
  LCX_FUZZ_CHECK(request.path.find_first_of("?#") == std::string::npos);
  MatchWebRoute(request.method, request.path);
  HostAllowed(policy, request.fields, "127.0.0.1");
  SameOriginRequest(request.fields);
  UnauthenticatedReply(request.method, request.path);
  CookieValues(request.fields, kSessionCookie);
  const WebForm form = ParseForm(request.body);
  for (const auto& [key, value] : form) FormValue(form, key);
  PlanSettingsSave(form);
  return 0;
}
